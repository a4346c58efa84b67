// PasswordKdf on the platform's CNG: BCryptDeriveKeyPBKDF2 over an HMAC-SHA256 provider, and
// BCryptGenRandom. Windows only.
#pragma once

#include "password_kdf.h"

namespace account {

class CngPasswordKdf : public PasswordKdf {
  public:
    CngPasswordKdf();
    ~CngPasswordKdf() override;
    CngPasswordKdf(const CngPasswordKdf&) = delete;
    CngPasswordKdf& operator=(const CngPasswordKdf&) = delete;

    // False when the provider could not be opened; Derive then fails every time.
    bool Available() const { return m_algorithm != nullptr; }

    bool Derive(const KdfParams& params, std::string_view password, std::string_view salt,
                std::string& key) override;
    bool RandomBytes(size_t count, std::string& bytes) override;

  private:
    void* m_algorithm = nullptr;  // BCRYPT_ALG_HANDLE
};

}  // namespace account
