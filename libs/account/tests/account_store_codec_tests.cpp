#include "account_store_codec.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "shared_files.h"

namespace {

using account::AccountRecord;
using account::AccountStoreCodec;

AccountRecord Sample() {
    AccountRecord r;
    r.name = "op";
    r.params.iterations = 600000;
    for (int i = 0; i < 16; ++i) r.salt += char(i);
    r.hash.assign(32, '\xAB');
    r.failures = 2;
    r.lastFailureMs = 1700000000000;
    return r;
}

const std::string kSampleText =
    "plan_desk accounts 1\n"
    "6f70 pbkdf2-sha256 600000 000102030405060708090a0b0c0d0e0f "
    "abababababababababababababababababababababababababababababababab 2 1700000000000\n"
    "crc32 ffda9249\n";

// A store text with a correct checksum around the given account lines.
std::string WithChecksum(const std::string& lines) {
    const std::string body = "plan_desk accounts 1\n" + lines;
    char crc[16];
    std::snprintf(crc, sizeof crc, "%08x", unsigned(shared::Crc32(body)));
    return body + "crc32 " + crc + "\n";
}

TEST(AccountStoreCodec, WritesTheDocumentedBytes) {
    EXPECT_EQ(AccountStoreCodec::Serialize({Sample()}), kSampleText);
    EXPECT_EQ(AccountStoreCodec::Serialize({}), "plan_desk accounts 1\ncrc32 8036e6c0\n");
}

TEST(AccountStoreCodec, ReadsBackWhatItWrites) {
    AccountRecord chinese = Sample();
    chinese.name = "操作员 1";  // GBK, with a blank
    chinese.failures = 0;
    chinese.lastFailureMs = 0;
    chinese.params.iterations = 1;
    AccountRecord longest = Sample();
    longest.name = std::string(31, 'x');
    longest.salt = "\n \x00\xFF";
    // A failure while the clock stood before 1970, and the extremes of the time.
    AccountRecord before1970 = Sample(), earliest = Sample(), latest = Sample();
    before1970.name = "a", earliest.name = "b", latest.name = "c";
    before1970.lastFailureMs = -86'400'000;
    earliest.lastFailureMs = std::numeric_limits<int64_t>::min();
    latest.lastFailureMs = std::numeric_limits<int64_t>::max();
    const std::vector<std::vector<AccountRecord>> stores = {
        {}, {Sample()}, {Sample(), chinese, longest}, {before1970, earliest, latest}};
    for (const auto& records : stores) {
        auto parsed = AccountStoreCodec::Parse(AccountStoreCodec::Serialize(records));
        ASSERT_TRUE(parsed.has_value());
        EXPECT_EQ(*parsed, records);
    }
}

TEST(AccountStoreCodec, RefusesEveryTruncationAndEveryChangedByte) {
    AccountRecord other = Sample();
    other.name = "oq";
    const std::string two = AccountStoreCodec::Serialize({Sample(), other});
    ASSERT_TRUE(AccountStoreCodec::Parse(two).has_value());
    for (size_t length = 0; length < two.size(); ++length) {
        EXPECT_FALSE(AccountStoreCodec::Parse(two.substr(0, length)).has_value()) << length;
    }
    for (size_t pos = 0; pos < two.size(); ++pos) {
        std::string changed = two;
        changed[pos] ^= 0x01;
        EXPECT_FALSE(AccountStoreCodec::Parse(changed).has_value()) << pos;
    }
}

TEST(AccountStoreCodec, RefusesWellSealedButInvalidRecords) {
    const std::string salt = "000102030405060708090a0b0c0d0e0f";
    const std::string hash(64, 'a');
    struct Case {
        const char* name;
        std::string lines;
    };
    const std::vector<Case> cases = {
        {"unknown algorithm", "6f70 pbkdf2-sha1 600000 " + salt + " " + hash + " 0 0\n"},
        {"zero iterations", "6f70 pbkdf2-sha256 0 " + salt + " " + hash + " 0 0\n"},
        {"iterations beyond 32 bits", "6f70 pbkdf2-sha256 4294967296 " + salt + " " + hash + " 0 0\n"},
        {"hash too short", "6f70 pbkdf2-sha256 1 " + salt + " " + hash.substr(2) + " 0 0\n"},
        {"empty salt", "6f70 pbkdf2-sha256 1  " + hash + " 0 0\n"},
        {"upper-case hex", "6F70 pbkdf2-sha256 1 " + salt + " " + hash + " 0 0\n"},
        {"odd hex", "6f7 pbkdf2-sha256 1 " + salt + " " + hash + " 0 0\n"},
        {"empty name", " pbkdf2-sha256 1 " + salt + " " + hash + " 0 0\n"},
        {"name of 32 bytes", std::string(64, '6') + " pbkdf2-sha256 1 " + salt + " " + hash + " 0 0\n"},
        {"control byte in name", "6f0a pbkdf2-sha256 1 " + salt + " " + hash + " 0 0\n"},
        {"negative failures", "6f70 pbkdf2-sha256 1 " + salt + " " + hash + " -1 0\n"},
        {"leading zero", "6f70 pbkdf2-sha256 01 " + salt + " " + hash + " 0 0\n"},
        {"minus zero time", "6f70 pbkdf2-sha256 1 " + salt + " " + hash + " 1 -0\n"},
        {"leading zero after minus", "6f70 pbkdf2-sha256 1 " + salt + " " + hash + " 1 -01\n"},
        {"two minus signs", "6f70 pbkdf2-sha256 1 " + salt + " " + hash + " 1 --1\n"},
        {"minus alone", "6f70 pbkdf2-sha256 1 " + salt + " " + hash + " 1 -\n"},
        {"time below 64 bits", "6f70 pbkdf2-sha256 1 " + salt + " " + hash + " 1 -9223372036854775809\n"},
        {"missing field", "6f70 pbkdf2-sha256 1 " + salt + " " + hash + " 0\n"},
        {"extra field", "6f70 pbkdf2-sha256 1 " + salt + " " + hash + " 0 0 0\n"},
        {"double blank", "6f70  pbkdf2-sha256 1 " + salt + " " + hash + " 0 0\n"},
        {"CRLF", "6f70 pbkdf2-sha256 1 " + salt + " " + hash + " 0 0\r\n"},
        {"empty line", "\n"},
        {"same name twice", "6f70 pbkdf2-sha256 1 " + salt + " " + hash + " 0 0\n" + "6f70 pbkdf2-sha256 2 " +
                                salt + " " + hash + " 0 0\n"},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(AccountStoreCodec::Parse(WithChecksum(c.lines)).has_value()) << c.name;
    }
    EXPECT_TRUE(AccountStoreCodec::Parse(WithChecksum("6f70 pbkdf2-sha256 1 " + salt + " " + hash + " 0 0\n"))
                    .has_value());
    EXPECT_FALSE(AccountStoreCodec::Parse("").has_value());
    EXPECT_FALSE(AccountStoreCodec::Parse(kSampleText + "x").has_value());
    EXPECT_FALSE(AccountStoreCodec::Parse(kSampleText + "crc32 ffda9249\n").has_value());
}

}  // namespace
