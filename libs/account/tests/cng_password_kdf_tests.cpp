// The platform's PBKDF2 under the account core, against published and independently computed
// vectors.
#include "cng_password_kdf.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char b : bytes) out += std::string{digits[b >> 4], digits[b & 0xF]};
    return out;
}

TEST(CngPasswordKdf, MatchesKnownPbkdf2HmacSha256Vectors) {
    account::CngPasswordKdf kdf;
    ASSERT_TRUE(kdf.Available());
    struct Vector {
        std::string password, salt;
        uint32_t iterations;
        const char* key;
    };
    const std::vector<Vector> vectors = {
        {"passwd", "salt", 1,
         "55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc"},  // RFC 7914
        {"password", "salt", 2, "ae4d0c95af6b46d32d0adff928f06dd02a303f8ef3c251dfd6e2d85a95474c43"},
        {"password", "salt", 4096, "c5e478d59288c841aa530db6845c4c8d962893a001ce4e11a4963873aa98134a"},
        {"", "salt", 1, "f135c27993baf98773c5cdb40a5706ce6a345cde61b000a67858650cd6a324d7"},
        {"口令", "salt", 1000,
         "65c35c0d27a57df878c774dec2962e90b010c89f3e042b171288fc4049eff1a6"},  // GBK bytes
        // The full cost new accounts get: the one full-length derivation of this test.
        {"password", "salt", 600000, "669cfe52482116fda1aa2cbe409b2f56c8e4563752b7a28f6eaab614ee005178"},
    };
    for (const Vector& v : vectors) {
        SCOPED_TRACE(v.iterations);
        std::string key;
        ASSERT_TRUE(kdf.Derive({v.iterations}, v.password, v.salt, key));
        EXPECT_EQ(Hex(key), v.key);
    }
    std::string key = "untouched";
    EXPECT_FALSE(kdf.Derive({0}, "password", "salt", key));
}

TEST(CngPasswordKdf, GivesFreshRandomSalts) {
    account::CngPasswordKdf kdf;
    std::string a, b;
    ASSERT_TRUE(kdf.RandomBytes(16, a));
    ASSERT_TRUE(kdf.RandomBytes(16, b));
    EXPECT_EQ(a.size(), 16u);
    EXPECT_NE(a, b);
    EXPECT_NE(a, std::string(16, '\0'));
}

}  // namespace
