// One account as the store keeps it: the name, the derived key with the parameters that made
// it, and the count of failed logins with the time of the last, kept across restarts so that
// "plan_account list" can show them. No password, ever.
#pragma once

#include <cstdint>
#include <string>

namespace account {

constexpr size_t kMaxNameBytes = 31;
constexpr size_t kHashBytes = 32;  // PBKDF2-HMAC-SHA256 output, one SHA-256 block
constexpr size_t kSaltBytes = 16;
constexpr uint32_t kDefaultIterations = 600000;
constexpr const char* kPbkdf2Sha256 = "pbkdf2-sha256";  // the one algorithm there is today

struct KdfParams {
    uint32_t iterations = kDefaultIterations;
    bool operator==(const KdfParams&) const = default;
};

struct AccountRecord {
    std::string name;  // GBK bytes, 1..kMaxNameBytes
    KdfParams params;
    std::string salt;           // raw bytes
    std::string hash;           // raw bytes, kHashBytes
    uint32_t failures = 0;      // consecutive failed logins
    int64_t lastFailureMs = 0;  // Unix time in ms of the latest of them; 0 when none
    bool operator==(const AccountRecord&) const = default;
};

// Non-empty, at most kMaxNameBytes, no control characters. Any other GBK or ASCII byte goes:
// names are stored hex-encoded.
bool IsValidAccountName(std::string_view name);

}  // namespace account
