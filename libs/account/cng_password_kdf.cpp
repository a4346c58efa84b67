#include "cng_password_kdf.h"

#include <windows.h>
#include <bcrypt.h>

namespace account {

CngPasswordKdf::CngPasswordKdf() {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr,
                                    BCRYPT_ALG_HANDLE_HMAC_FLAG) >= 0)
        m_algorithm = algorithm;
}

CngPasswordKdf::~CngPasswordKdf() {
    if (m_algorithm) BCryptCloseAlgorithmProvider(static_cast<BCRYPT_ALG_HANDLE>(m_algorithm), 0);
}

bool CngPasswordKdf::Derive(const KdfParams& params, std::string_view password, std::string_view salt,
                            std::string& key) {
    if (!m_algorithm || params.iterations == 0) return false;
    key.assign(kHashBytes, '\0');
    // An empty password or salt still needs a valid pointer.
    static UCHAR empty = 0;
    auto bytes = [](std::string_view s) {
        return s.empty() ? &empty : reinterpret_cast<PUCHAR>(const_cast<char*>(s.data()));
    };
    const NTSTATUS status = BCryptDeriveKeyPBKDF2(
        static_cast<BCRYPT_ALG_HANDLE>(m_algorithm), bytes(password), ULONG(password.size()), bytes(salt),
        ULONG(salt.size()), params.iterations, reinterpret_cast<PUCHAR>(key.data()), ULONG(key.size()), 0);
    if (status < 0) {
        key.clear();
        return false;
    }
    return true;
}

bool CngPasswordKdf::RandomBytes(size_t count, std::string& bytes) {
    bytes.assign(count, '\0');
    return BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(bytes.data()), ULONG(count),
                           BCRYPT_USE_SYSTEM_PREFERRED_RNG) >= 0;
}

}  // namespace account
