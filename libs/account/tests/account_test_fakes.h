// Stand-ins for the platform parts of the account core: a key derivation that is cheap and
// records its calls, and a clock that only moves when told to.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "account_clock.h"
#include "password_kdf.h"
#include "shared_files.h"

namespace account::testing {

struct KdfCall {
    uint32_t iterations;
    std::string password;
    std::string salt;
    bool operator==(const KdfCall&) const = default;
};

class FakeKdf : public PasswordKdf {
  public:
    bool Derive(const KdfParams& params, std::string_view password, std::string_view salt,
                std::string& key) override {
        calls.push_back({params.iterations, std::string(password), std::string(salt)});
        if (failDerive) return false;
        key.clear();
        const std::string input =
            std::to_string(params.iterations) + '\0' + std::string(password) + '\0' + std::string(salt);
        for (uint32_t block = 0; key.size() < kHashBytes; ++block) {
            const uint32_t crc = shared::Crc32(input, block * 2654435761u);
            for (int shift = 0; shift < 32; shift += 8) key += char((crc >> shift) & 0xFF);
        }
        return true;
    }
    bool RandomBytes(size_t count, std::string& bytes) override {
        bytes.clear();
        for (size_t i = 0; i < count; ++i) bytes += char(++m_counter);
        return !failRandom;
    }

    std::vector<KdfCall> calls;
    bool failDerive = false;
    bool failRandom = false;

  private:
    unsigned char m_counter = 0;
};

class FakeClock : public AccountClock {
  public:
    int64_t NowMs() override { return now; }

    int64_t now = 1'700'000'000'000;
};

}  // namespace account::testing
