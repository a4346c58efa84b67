#include "account_store_codec.h"

#include <charconv>
#include <cstdio>

#include "shared_files.h"

namespace account {
namespace {

constexpr std::string_view kHeader = "plan_desk accounts 1\n";
constexpr std::string_view kChecksumTag = "crc32 ";

std::string Hex(std::string_view bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 0xF];
    }
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;  // upper case is not what we write, so it is not accepted either
}

std::optional<std::string> Unhex(std::string_view text) {
    if (text.size() % 2 != 0) return std::nullopt;
    std::string out;
    for (size_t i = 0; i < text.size(); i += 2) {
        const int high = HexDigit(text[i]), low = HexDigit(text[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        out += char(high * 16 + low);
    }
    return out;
}

// Plain decimal digits only: no sign, no blanks, no leading zeros beyond "0" itself.
template <typename T>
std::optional<T> Decimal(std::string_view text) {
    if (text.empty() || (text.size() > 1 && text[0] == '0') || text[0] < '0' || text[0] > '9')
        return std::nullopt;
    T value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

// A time, which a clock set before 1970 makes negative: then a '-' before plain decimal digits.
std::optional<int64_t> SignedDecimal(std::string_view text) {
    if (!text.starts_with('-')) return Decimal<int64_t>(text);
    if (text.size() < 2 || text[1] < '1' || text[1] > '9') return std::nullopt;  // no "-0", "-01", "--1"
    int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::vector<std::string_view> SplitSpaces(std::string_view line) {
    std::vector<std::string_view> fields;
    size_t start = 0;
    while (true) {
        const size_t space = line.find(' ', start);
        fields.push_back(line.substr(start, space - start));
        if (space == std::string_view::npos) return fields;
        start = space + 1;
    }
}

std::optional<AccountRecord> ParseRecord(std::string_view line) {
    const auto fields = SplitSpaces(line);
    if (fields.size() != 7 || fields[1] != kPbkdf2Sha256) return std::nullopt;
    AccountRecord record;
    auto name = Unhex(fields[0]);
    auto iterations = Decimal<uint32_t>(fields[2]);
    auto salt = Unhex(fields[3]);
    auto hash = Unhex(fields[4]);
    auto failures = Decimal<uint32_t>(fields[5]);
    auto lastFailure = SignedDecimal(fields[6]);
    if (!name || !IsValidAccountName(*name) || !iterations || *iterations == 0 || !salt || salt->empty() ||
        !hash || hash->size() != kHashBytes || !failures || !lastFailure)
        return std::nullopt;
    record.name = std::move(*name);
    record.params.iterations = *iterations;
    record.salt = std::move(*salt);
    record.hash = std::move(*hash);
    record.failures = *failures;
    record.lastFailureMs = *lastFailure;
    return record;
}

}  // namespace

bool IsValidAccountName(std::string_view name) {
    if (name.empty() || name.size() > kMaxNameBytes) return false;
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7F) return false;
    }
    return true;
}

std::string AccountStoreCodec::Serialize(const std::vector<AccountRecord>& records) {
    std::string text(kHeader);
    for (const AccountRecord& r : records) {
        text += Hex(r.name) + " " + kPbkdf2Sha256 + " " + std::to_string(r.params.iterations) + " " +
                Hex(r.salt) + " " + Hex(r.hash) + " " + std::to_string(r.failures) + " " +
                std::to_string(r.lastFailureMs) + "\n";
    }
    char checksum[16];
    std::snprintf(checksum, sizeof checksum, "%08x", unsigned(shared::Crc32(text)));
    text += std::string(kChecksumTag) + checksum + "\n";
    return text;
}

std::optional<std::vector<AccountRecord>> AccountStoreCodec::Parse(std::string_view text) {
    if (text.substr(0, kHeader.size()) != kHeader) return std::nullopt;
    // The checksum line is the last line; everything before it is covered.
    if (text.empty() || text.back() != '\n') return std::nullopt;
    const size_t lastStart = text.rfind('\n', text.size() - 2) + 1;
    const std::string_view body = text.substr(0, lastStart);
    const std::string_view last = text.substr(lastStart, text.size() - 1 - lastStart);
    if (body.size() < kHeader.size() || last.substr(0, kChecksumTag.size()) != kChecksumTag)
        return std::nullopt;
    const auto digits = last.substr(kChecksumTag.size());
    uint32_t stored = 0;
    if (digits.size() != 8 || !Unhex(digits)) return std::nullopt;
    std::from_chars(digits.data(), digits.data() + digits.size(), stored, 16);
    if (stored != shared::Crc32(body)) return std::nullopt;

    std::vector<AccountRecord> records;
    std::string_view rest = body.substr(kHeader.size());
    while (!rest.empty()) {
        const size_t end = rest.find('\n');
        auto record = ParseRecord(rest.substr(0, end));
        if (!record) return std::nullopt;
        for (const AccountRecord& r : records) {
            if (r.name == record->name) return std::nullopt;
        }
        records.push_back(std::move(*record));
        rest.remove_prefix(end + 1);
    }
    return records;
}

}  // namespace account
