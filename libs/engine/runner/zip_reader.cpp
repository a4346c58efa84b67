#include "zip_reader.h"

#include <zlib.h>

#include <algorithm>
#include <numeric>

#include "shared_files.h"
#include "utf8_text.h"
#include "zip_format.h"

namespace kivo::zip {
namespace {

constexpr size_t kChunk = 256 << 10;
constexpr uint64_t kMaxCentralSize = uint64_t(1) << 30;
constexpr uint64_t kMaxEnd64Record = 1 << 16;

bool IsAscii(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool ParseHex32(std::string_view text, uint32_t& out) {
    if (text.size() != 8) return false;
    out = 0;
    for (char c : text) {
        int v;
        if (c >= '0' && c <= '9') {
            v = c - '0';
        } else if (c >= 'A' && c <= 'F') {
            v = c - 'A' + 10;
        } else {
            return false;
        }
        out = (out << 4) | uint32_t(v);
    }
    return true;
}

struct Extra {
    uint16_t id;
    const unsigned char* data;
    uint16_t size;
};

// Splits an extra-field block; false when a field claims more bytes than the block holds.
bool SplitExtras(const unsigned char* p, size_t n, std::vector<Extra>& out) {
    out.clear();
    size_t pos = 0;
    while (n - pos >= 4) {
        uint16_t id = Get16(p + pos);
        uint16_t size = Get16(p + pos + 2);
        if (size > n - pos - 4) return false;
        out.push_back({id, p + pos + 4, size});
        pos += 4 + size;
    }
    return true;
}

// The ZIP64 values of the fields that hold 0xFFFFFFFF, in their fixed order.
bool ReadZip64(const std::vector<Extra>& extras, uint64_t* size, uint64_t* compressed, uint64_t* offset,
               uint32_t* disk) {
    bool needSize = size && *size == kMax32, needCompressed = compressed && *compressed == kMax32;
    bool needOffset = offset && *offset == kMax32, needDisk = disk && *disk == kMax16;
    if (!needSize && !needCompressed && !needOffset && !needDisk) return true;
    for (const Extra& x : extras) {
        if (x.id != kExtraZip64) continue;
        size_t need =
            8 * (size_t(needSize) + size_t(needCompressed) + size_t(needOffset)) + 4 * size_t(needDisk);
        if (x.size < need) return false;
        const unsigned char* p = x.data;
        if (needSize) *size = Get64(p), p += 8;
        if (needCompressed) *compressed = Get64(p), p += 8;
        if (needOffset) *offset = Get64(p), p += 8;
        if (needDisk) *disk = Get32(p);
        return true;
    }
    return false;
}

}  // namespace

bool ZipReader::Fail(ZipError error, const char* reason, const std::string& entry) {
    if (m_problem.error == ZipError::None) m_problem = {error, entry, reason};
    return false;
}

bool ZipReader::ReadAt(uint64_t offset, void* buffer, size_t n) {
    if (offset > m_source.Size() || n > m_source.Size() - offset)
        return Fail(ZipError::Damaged, "归档被截断");
    if (!m_source.ReadAt(offset, buffer, n)) return Fail(ZipError::Read, "读取备份文件失败");
    return true;
}

uint64_t ZipReader::TotalSize() const {
    uint64_t total = 0;
    for (const ZipEntry& e : m_entries) total += e.size;
    return total;
}

bool ZipReader::Open() {
    return ReadEnd() && ReadCentral() && ReadLocalHeaders();
}

bool ZipReader::ReadEnd() {
    const uint64_t size = m_source.Size();
    if (size < kEndSize) return Fail(ZipError::Damaged, "文件太短, 不是 ZIP 归档");
    const size_t tailSize = size_t(std::min<uint64_t>(size, kEndSize + kMax16));
    std::vector<unsigned char> tail(tailSize);
    if (!ReadAt(size - tailSize, tail.data(), tailSize)) return false;
    size_t pos = tailSize - kEndSize;
    for (;; --pos) {
        if (Get32(&tail[pos]) == kEndSig && Get16(&tail[pos + 20]) == tailSize - pos - kEndSize) break;
        if (pos == 0) return Fail(ZipError::Damaged, "找不到 ZIP 结束记录");
    }
    const unsigned char* end = &tail[pos];
    const uint64_t endOffset = size - tailSize + pos;
    m_comment.assign(reinterpret_cast<const char*>(end + kEndSize), tailSize - pos - kEndSize);
    const uint16_t disk = Get16(end + 4), cdDisk = Get16(end + 6);
    const uint16_t countDisk = Get16(end + 8), count = Get16(end + 10);
    const uint32_t cdSize = Get32(end + 12), cdOffset = Get32(end + 16);
    m_count = count;
    m_cdSize = cdSize;
    m_cdOffset = cdOffset;
    m_endStart = endOffset;

    unsigned char locator[kEnd64LocatorSize];
    const bool hasLocator = endOffset >= kEnd64LocatorSize &&
                            ReadAt(endOffset - kEnd64LocatorSize, locator, sizeof locator) &&
                            Get32(locator) == kEnd64LocatorSig;
    if (m_problem.error != ZipError::None) return false;
    if (hasLocator) {
        const uint64_t end64Offset = Get64(locator + 8);
        const uint64_t locatorOffset = endOffset - kEnd64LocatorSize;
        if (Get32(locator + 4) != 0 || Get32(locator + 16) > 1)
            return Fail(ZipError::Damaged, "不支持分卷归档");
        if (end64Offset > locatorOffset || locatorOffset - end64Offset < kEnd64Size) {
            return Fail(ZipError::Damaged, "ZIP64 结束记录位置无效");
        }
        unsigned char e64[kEnd64Size];
        if (!ReadAt(end64Offset, e64, sizeof e64)) return false;
        const uint64_t recordSize = Get64(e64 + 4);
        if (Get32(e64) != kEnd64Sig || recordSize > kMaxEnd64Record || recordSize < kEnd64Size - 12 ||
            end64Offset + 12 + recordSize != locatorOffset) {
            return Fail(ZipError::Damaged, "ZIP64 结束记录损坏");
        }
        const uint64_t count64 = Get64(e64 + 32), cdSize64 = Get64(e64 + 40), cdOffset64 = Get64(e64 + 48);
        if (Get32(e64 + 16) != 0 || Get32(e64 + 20) != 0 || Get64(e64 + 24) != count64) {
            return Fail(ZipError::Damaged, "不支持分卷归档");
        }
        if ((disk != kMax16 && disk != 0) || (cdDisk != kMax16 && cdDisk != 0) ||
            (countDisk != kMax16 && countDisk != count64) || (count != kMax16 && count != count64) ||
            (cdSize != kMax32 && cdSize != cdSize64) || (cdOffset != kMax32 && cdOffset != cdOffset64)) {
            return Fail(ZipError::Damaged, "结束记录与 ZIP64 记录不符");
        }
        m_count = count64;
        m_cdSize = cdSize64;
        m_cdOffset = cdOffset64;
        m_endStart = end64Offset;
    } else if (disk != 0 || cdDisk != 0 || countDisk != count) {
        return Fail(ZipError::Damaged, "不支持分卷归档");
    }
    if (m_cdOffset > m_endStart || m_cdSize != m_endStart - m_cdOffset) {
        return Fail(ZipError::Damaged, "中央目录位置无效");
    }
    if (m_cdSize > kMaxCentralSize || m_count > m_cdSize / kCentralHeaderSize) {
        return Fail(ZipError::Damaged, "中央目录大小无效");
    }
    m_endBytes.resize(size_t(endOffset + kEndSize - m_endStart));
    if (!ReadAt(m_endStart, m_endBytes.data(), m_endBytes.size())) return false;
    m_own = m_comment.compare(0, kOwnCommentPrefix.size(), kOwnCommentPrefix) == 0;
    return true;
}

bool ZipReader::ReadCentral() {
    m_central.resize(size_t(m_cdSize));
    if (!ReadAt(m_cdOffset, m_central.data(), m_central.size())) return false;
    const auto* base = reinterpret_cast<const unsigned char*>(m_central.data());
    const size_t total = m_central.size();
    size_t pos = 0;
    std::vector<Extra> extras;
    m_entries.reserve(size_t(m_count));
    for (uint64_t i = 0; i < m_count; ++i) {
        if (total - pos < kCentralHeaderSize || Get32(base + pos) != kCentralHeaderSig) {
            return Fail(ZipError::Damaged, "中央目录损坏");
        }
        const unsigned char* h = base + pos;
        const uint16_t nameLen = Get16(h + 28), extraLen = Get16(h + 30), commentLen = Get16(h + 32);
        if (total - pos - kCentralHeaderSize < size_t(nameLen) + extraLen + commentLen) {
            return Fail(ZipError::Damaged, "中央目录损坏");
        }
        std::string raw(reinterpret_cast<const char*>(h + kCentralHeaderSize), nameLen);
        ZipEntry e;
        e.flags = Get16(h + 8);
        e.method = Get16(h + 10);
        e.dosTime = Get16(h + 12);
        e.dosDate = Get16(h + 14);
        e.crc = Get32(h + 16);
        e.compressedSize = Get32(h + 20);
        e.size = Get32(h + 24);
        e.localOffset = Get32(h + 42);
        uint32_t diskStart = Get16(h + 34);
        const uint32_t attributes = Get32(h + 38);
        if (!SplitExtras(h + kCentralHeaderSize + nameLen, extraLen, extras)) {
            return Fail(ZipError::Damaged, "扩展字段损坏", raw);
        }
        if (!ReadZip64(extras, &e.size, &e.compressedSize, &e.localOffset, &diskStart)) {
            return Fail(ZipError::Damaged, "ZIP64 扩展字段缺失", raw);
        }
        std::optional<std::string> unicodeName;
        for (const Extra& x : extras) {
            if (x.id == kExtraTimestamp && x.size >= 5 && (x.data[0] & 1)) {
                e.mtime = int64_t(int32_t(Get32(x.data + 1)));
            } else if (x.id == kExtraUnicodePath && x.size >= 5 && x.data[0] == 1 &&
                       Get32(x.data + 1) == Crc32(raw.data(), raw.size())) {
                unicodeName.emplace(reinterpret_cast<const char*>(x.data + 5), x.size - 5);
            } else if (x.id == kExtraOwnMark) {
                m_ownMarkSeen = true;
            }
        }
        pos += kCentralHeaderSize + nameLen + extraLen + commentLen;

        if (diskStart != 0) return Fail(ZipError::Damaged, "不支持分卷归档", raw);
        if (e.flags & (kFlagEncrypted | kFlagStrongEncryption)) {
            return Fail(ZipError::Damaged, "条目已加密, 无法还原", raw);
        }
        if (e.method != kMethodStored && e.method != kMethodDeflate) {
            return Fail(ZipError::Damaged, "不支持的压缩方法", raw);
        }
        if (e.method == kMethodStored && e.compressedSize != e.size) {
            return Fail(ZipError::Damaged, "条目长度不符", raw);
        }
        // Names without the UTF-8 flag: the Unicode path field, else UTF-8 if it is valid, else the
        // code page of Chinese Windows, which is what such archives here mostly come from.
        if (e.flags & kFlagUtf8) {
            if (!IsValidUtf8(raw)) return Fail(ZipError::Damaged, "条目名称不是有效的 UTF-8", raw);
            e.name = raw;
        } else if (unicodeName && IsValidUtf8(*unicodeName)) {
            e.name = *unicodeName;
        } else if (IsAscii(raw) || IsValidUtf8(raw)) {
            e.name = raw;
        } else if (auto converted = shared::Utf8FromGbk(raw)) {
            e.name = *converted;
        } else {
            return Fail(ZipError::Damaged, "条目名称的编码无法识别", raw);
        }
        const uint32_t unixType = (attributes >> 16) & kUnixTypeMask;
        if (unixType == kUnixLink || (attributes & kDosReparsePoint)) {
            return Fail(ZipError::Unsafe, "是链接条目", e.name);
        }
        if (unixType != 0 && unixType != kUnixRegular && unixType != kUnixDirectory) {
            return Fail(ZipError::Unsafe, "是特殊文件条目", e.name);
        }
        if (const char* why = CheckEntryName(e.name, e.path)) return Fail(ZipError::Unsafe, why, e.name);
        e.directory = e.path.directory;
        if (e.directory && e.size != 0) return Fail(ZipError::Damaged, "目录条目带有数据", e.name);
        e.rawName = std::move(raw);
        m_entries.push_back(std::move(e));
    }
    if (pos != total) return Fail(ZipError::Damaged, "中央目录长度不符");
    return true;
}

bool ZipReader::ReadLocalHeaders() {
    m_own = m_own || m_ownMarkSeen;
    if (m_own && (m_comment.size() != kOwnCommentSize ||
                  m_comment.compare(0, kOwnCommentHead.size(), kOwnCommentHead) != 0 ||
                  !ParseHex32(std::string_view(m_comment).substr(kOwnCommentHead.size()), m_wholeCrc))) {
        return Fail(ZipError::Damaged, "备份文件的校验记录损坏");
    }
    std::stable_sort(m_entries.begin(), m_entries.end(),
                     [](const ZipEntry& a, const ZipEntry& b) { return a.localOffset < b.localOffset; });
    m_headerCrc.assign(m_entries.size(), 0);
    m_headerSize.assign(m_entries.size(), 0);
    m_dataCrc.assign(m_entries.size(), std::nullopt);
    std::vector<unsigned char> header;
    std::vector<Extra> extras;
    uint64_t previousEnd = 0;
    for (size_t i = 0; i < m_entries.size(); ++i) {
        ZipEntry& e = m_entries[i];
        if (e.localOffset < previousEnd || (m_own && e.localOffset != previousEnd)) {
            return Fail(ZipError::Damaged, "条目相互重叠或不连续", e.name);
        }
        if (e.localOffset > m_cdOffset || m_cdOffset - e.localOffset < kLocalHeaderSize) {
            return Fail(ZipError::Damaged, "本地文件头位置无效", e.name);
        }
        header.resize(kLocalHeaderSize);
        if (!ReadAt(e.localOffset, header.data(), kLocalHeaderSize)) return false;
        if (Get32(header.data()) != kLocalHeaderSig) return Fail(ZipError::Damaged, "本地文件头损坏", e.name);
        const uint16_t nameLen = Get16(&header[26]), extraLen = Get16(&header[28]);
        const uint64_t headerSize = kLocalHeaderSize + uint64_t(nameLen) + extraLen;
        if (m_cdOffset - e.localOffset < headerSize) return Fail(ZipError::Damaged, "本地文件头损坏", e.name);
        header.resize(size_t(headerSize));
        if (!ReadAt(e.localOffset + kLocalHeaderSize, &header[kLocalHeaderSize],
                    size_t(headerSize) - kLocalHeaderSize)) {
            return false;
        }
        const uint16_t flags = Get16(&header[6]), method = Get16(&header[8]);
        uint64_t size = Get32(&header[22]), compressed = Get32(&header[18]);
        const uint32_t crc = Get32(&header[14]);
        if (!SplitExtras(&header[kLocalHeaderSize + nameLen], extraLen, extras) ||
            !ReadZip64(extras, &size, &compressed, nullptr, nullptr)) {
            return Fail(ZipError::Damaged, "本地文件头的扩展字段损坏", e.name);
        }
        const std::string_view localName(reinterpret_cast<const char*>(&header[kLocalHeaderSize]), nameLen);
        const bool sameFlags =
            m_own ? flags == e.flags : (flags & kFlagEncrypted) == (e.flags & kFlagEncrypted);
        const bool described = (flags & kFlagDataDescriptor) != 0;
        const bool sameSizes = described ? ((crc == 0 || crc == e.crc) && (size == 0 || size == e.size) &&
                                            (compressed == 0 || compressed == e.compressedSize))
                                         : (crc == e.crc && size == e.size && compressed == e.compressedSize);
        if (localName != e.rawName || method != e.method || !sameFlags || !sameSizes ||
            (m_own && described)) {
            return Fail(ZipError::Damaged, "本地文件头与中央目录不符", e.name);
        }
        if (m_own && (Get16(&header[10]) != e.dosTime || Get16(&header[12]) != e.dosDate)) {
            return Fail(ZipError::Damaged, "本地文件头与中央目录不符", e.name);
        }
        e.dataOffset = e.localOffset + headerSize;
        if (m_cdOffset - e.dataOffset < e.compressedSize)
            return Fail(ZipError::Damaged, "条目数据越界", e.name);
        previousEnd = e.dataOffset + e.compressedSize;
        if (described && !m_own) previousEnd += 12;  // the descriptor follows the data
        if (previousEnd > m_cdOffset) return Fail(ZipError::Damaged, "条目数据越界", e.name);
        if (m_own) {
            m_headerCrc[i] = Crc32(header.data(), header.size());
            m_headerSize[i] = headerSize;
        }
    }
    if (m_own && previousEnd != m_cdOffset) return Fail(ZipError::Damaged, "条目与中央目录之间有多余数据");
    return true;
}

}  // namespace kivo::zip

namespace kivo::zip {

ZipReader::~ZipReader() {
    if (m_zsReady) inflateEnd(&m_zs);
}

bool ZipReader::Extract(size_t index, const std::function<bool(const char*, size_t)>& out) {
    if (index >= m_entries.size()) return false;
    const ZipEntry& e = m_entries[index];
    m_in.resize(kChunk);
    m_out.resize(kChunk);
    const bool deflated = e.method == kMethodDeflate;
    if (deflated) {
        if (!m_zsReady) {
            if (inflateInit2(&m_zs, -MAX_WBITS) != Z_OK) return Fail(ZipError::Damaged, "无法解压", e.name);
            m_zsReady = true;
        } else {
            inflateReset(&m_zs);
        }
    }
    uint32_t dataCrc = 0, crc = 0;
    uint64_t produced = 0, consumed = 0;
    bool ended = !deflated;
    while (consumed < e.compressedSize) {
        const size_t n = size_t(std::min<uint64_t>(kChunk, e.compressedSize - consumed));
        if (!ReadAt(e.dataOffset + consumed, m_in.data(), n)) return false;
        consumed += n;
        if (m_own) dataCrc = Crc32(m_in.data(), n, dataCrc);
        if (!deflated) {
            produced += n;
            crc = Crc32(m_in.data(), n, crc);
            if (!out(reinterpret_cast<const char*>(m_in.data()), n)) {
                return Fail(ZipError::Output, "写入还原文件失败", e.name);
            }
            continue;
        }
        if (ended) return Fail(ZipError::Damaged, "压缩数据后有多余字节", e.name);
        m_zs.next_in = m_in.data();
        m_zs.avail_in = uInt(n);
        while (m_zs.avail_in > 0 || !ended) {
            m_zs.next_out = m_out.data();
            m_zs.avail_out = uInt(m_out.size());
            const int r = inflate(&m_zs, Z_NO_FLUSH);
            if (r != Z_OK && r != Z_STREAM_END && r != Z_BUF_ERROR) {
                return Fail(ZipError::Damaged, "压缩数据损坏", e.name);
            }
            const size_t got = m_out.size() - m_zs.avail_out;
            if (got > e.size - produced) return Fail(ZipError::Damaged, "解压后的长度不符", e.name);
            produced += got;
            crc = Crc32(m_out.data(), got, crc);
            if (got && !out(reinterpret_cast<const char*>(m_out.data()), got)) {
                return Fail(ZipError::Output, "写入还原文件失败", e.name);
            }
            if (r == Z_STREAM_END) {
                ended = true;
                if (m_zs.avail_in > 0) return Fail(ZipError::Damaged, "压缩数据后有多余字节", e.name);
                break;
            }
            if (got == 0 && m_zs.avail_in == 0) break;  // needs the next chunk
            if (r == Z_BUF_ERROR && got == 0) return Fail(ZipError::Damaged, "压缩数据损坏", e.name);
        }
    }
    if (!ended) return Fail(ZipError::Damaged, "压缩数据不完整", e.name);
    if (produced != e.size) return Fail(ZipError::Damaged, "解压后的长度不符", e.name);
    if (crc != e.crc) return Fail(ZipError::Damaged, "CRC 校验不符", e.name);
    if (m_own) m_dataCrc[index] = dataCrc;
    return true;
}

bool ZipReader::FinishCheck() {
    if (!m_own) return true;
    uint32_t whole = 0;
    for (size_t i = 0; i < m_entries.size(); ++i) {
        const ZipEntry& e = m_entries[i];
        if (!m_dataCrc[i]) {
            uint32_t c = 0;
            m_in.resize(kChunk);
            for (uint64_t done = 0; done < e.compressedSize;) {
                const size_t n = size_t(std::min<uint64_t>(kChunk, e.compressedSize - done));
                if (!ReadAt(e.dataOffset + done, m_in.data(), n)) return false;
                c = Crc32(m_in.data(), n, c);
                done += n;
            }
            m_dataCrc[i] = c;
        }
        whole = Crc32Combine(whole, m_headerCrc[i], m_headerSize[i]);
        whole = Crc32Combine(whole, *m_dataCrc[i], e.compressedSize);
    }
    whole = Crc32Combine(whole, Crc32(m_central.data(), m_central.size()), m_central.size());
    whole = Crc32Combine(whole, Crc32(m_endBytes.data(), m_endBytes.size()), m_endBytes.size());
    if (whole != m_wholeCrc) return Fail(ZipError::Damaged, "整个文件的校验不符");
    return true;
}

}  // namespace kivo::zip
