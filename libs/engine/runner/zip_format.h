// The pieces of the ZIP format that the .bkp writer and reader share.
//
// A .bkp is a standard ZIP archive: Deflate or stored entries, UTF-8 names with the language-encoding
// flag (bit 11), ZIP64 records where sizes, offsets or the entry count need them, an extended
// timestamp (0x5455) with the UTC modification time, and Unix mode bits in the external attributes.
// What marks our own archives: every central header carries an empty extra field 0x6B76, and the
// archive comment is "KIVO-BKP1 CRC32=XXXXXXXX", the CRC-32 of every byte of the file before the
// comment. With both marks, damage anywhere in the file, even in bytes no entry CRC covers, is found.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kivo::zip {

constexpr uint32_t kLocalHeaderSig = 0x04034b50;
constexpr uint32_t kCentralHeaderSig = 0x02014b50;
constexpr uint32_t kEndSig = 0x06054b50;
constexpr uint32_t kEnd64Sig = 0x06064b50;
constexpr uint32_t kEnd64LocatorSig = 0x07064b50;
constexpr uint32_t kDataDescriptorSig = 0x08074b50;

constexpr size_t kLocalHeaderSize = 30;
constexpr size_t kCentralHeaderSize = 46;
constexpr size_t kEndSize = 22;
constexpr size_t kEnd64Size = 56;
constexpr size_t kEnd64LocatorSize = 20;

constexpr uint16_t kExtraZip64 = 0x0001;
constexpr uint16_t kExtraTimestamp = 0x5455;
constexpr uint16_t kExtraUnicodePath = 0x7075;
constexpr uint16_t kExtraOwnMark = 0x6B76;

constexpr uint16_t kFlagEncrypted = 0x0001;
constexpr uint16_t kFlagDataDescriptor = 0x0008;
constexpr uint16_t kFlagStrongEncryption = 0x0040;
constexpr uint16_t kFlagUtf8 = 0x0800;

constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflate = 8;

constexpr uint16_t kHostDos = 0;
constexpr uint16_t kHostUnix = 3;
constexpr uint16_t kHostNtfs = 10;
constexpr uint16_t kHostOsx = 19;

constexpr uint32_t kDosDirectory = 0x10;
constexpr uint32_t kDosArchive = 0x20;
constexpr uint32_t kDosReparsePoint = 0x400;
constexpr uint32_t kUnixTypeMask = 0170000;
constexpr uint32_t kUnixRegular = 0100000;
constexpr uint32_t kUnixDirectory = 0040000;
constexpr uint32_t kUnixLink = 0120000;

constexpr uint32_t kMax32 = 0xFFFFFFFFu;
constexpr uint16_t kMax16 = 0xFFFF;

constexpr std::string_view kOwnCommentPrefix = "KIVO-BKP";
constexpr std::string_view kOwnCommentHead = "KIVO-BKP1 CRC32=";
constexpr size_t kOwnCommentSize = 24;  // the head and 8 hex digits

inline uint16_t Get16(const unsigned char* p) {
    return uint16_t(p[0] | (p[1] << 8));
}
inline uint32_t Get32(const unsigned char* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint64_t Get64(const unsigned char* p) {
    return uint64_t(Get32(p)) | (uint64_t(Get32(p + 4)) << 32);
}

inline void Put16(std::string& out, uint16_t v) {
    out += char(v & 0xFF);
    out += char(v >> 8);
}
inline void Put32(std::string& out, uint32_t v) {
    Put16(out, uint16_t(v & 0xFFFF));
    Put16(out, uint16_t(v >> 16));
}
inline void Put64(std::string& out, uint64_t v) {
    Put32(out, uint32_t(v & 0xFFFFFFFFu));
    Put32(out, uint32_t(v >> 32));
}

// CRC-32 of the concatenation A+B from crc(A), crc(B) and the length of B.
uint32_t Crc32Combine(uint32_t crcA, uint32_t crcB, uint64_t lengthB);
uint32_t Crc32(const void* data, size_t n, uint32_t crc = 0);

// MS-DOS date and time (local time, two-second steps, 1980..2107), as ZIP headers carry them.
struct DosTime {
    uint16_t time = 0;
    uint16_t date = 0x21;  // 1980-01-01
};
DosTime DosTimeFromUtc(int64_t utc);
// The UTC time of a DOS date and time read as local time; false for an impossible date.
bool UtcFromDosTime(DosTime dos, int64_t& utc);

}  // namespace kivo::zip
