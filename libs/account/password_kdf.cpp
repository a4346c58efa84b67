#include "password_kdf.h"

namespace account {

bool ConstantTimeEqual(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;  // lengths are public: every stored key has 32 bytes
    volatile unsigned char difference = 0;
    for (size_t i = 0; i < a.size(); ++i) difference = difference | static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}

}  // namespace account
