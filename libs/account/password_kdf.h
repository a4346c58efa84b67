// The key derivation and the random source the account core relies on. The Windows build uses
// the platform's CNG (CngPasswordKdf); native tests substitute their own.
#pragma once

#include <string>
#include <string_view>

#include "account_record.h"

namespace account {

class PasswordKdf {
  public:
    virtual ~PasswordKdf() = default;
    // PBKDF2-HMAC-SHA256 of password and salt with params, kHashBytes long. False on failure.
    virtual bool Derive(const KdfParams& params, std::string_view password, std::string_view salt,
                        std::string& key) = 0;
    // Bytes from a cryptographic random source. False on failure.
    virtual bool RandomBytes(size_t count, std::string& bytes) = 0;
};

// Equal contents in a time that depends only on the lengths, so a near miss takes as long to
// refuse as a wild guess.
bool ConstantTimeEqual(std::string_view a, std::string_view b);

}  // namespace account
