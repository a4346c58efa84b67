#include "zip_writer.h"

#include <cstdio>
#include <limits>

#include "utf8_text.h"
#include "zip_format.h"

namespace kivo::zip {
namespace {

constexpr size_t kBufferCapacity = 1 << 20;
constexpr size_t kDeflateOut = 256 << 10;
// Deflate may grow incompressible data a little; a file this close to 4 GiB gets a ZIP64 header.
constexpr uint64_t kZip64LocalThreshold = 0xFFFF0000u;
constexpr uint16_t kVersionMadeBy = (kHostUnix << 8) | 45;

// The extended timestamp field (the modification time alone), when the time fits its 32 bits.
void PutTimestamp(std::string& extra, int64_t mtime) {
    if (mtime < 0 || mtime > std::numeric_limits<int32_t>::max()) return;
    Put16(extra, kExtraTimestamp);
    Put16(extra, 5);
    extra += char(1);
    Put32(extra, uint32_t(mtime));
}

}  // namespace

ZipWriter::ZipWriter(ByteSink& sink, Options options) : m_sink(sink), m_options(options), m_out(kDeflateOut) {
    m_buffer.reserve(kBufferCapacity);
}

ZipWriter::~ZipWriter() {
    if (m_zsReady) deflateEnd(&m_zs);
}

bool ZipWriter::WriteToSink(uint64_t offset, const void* data, size_t n) {
    if (m_sink.WriteAt(offset, data, n)) return true;
    m_failed = m_sinkFailed = true;
    return false;
}

bool ZipWriter::Flush() {
    if (m_buffer.empty()) return true;
    if (!WriteToSink(m_bufferStart, m_buffer.data(), m_buffer.size())) return false;
    m_bufferStart += m_buffer.size();
    m_buffer.clear();
    return true;
}

bool ZipWriter::Append(const void* data, size_t n) {
    if (m_buffer.size() + n > kBufferCapacity && !Flush()) return false;
    if (n > kBufferCapacity) {
        if (!WriteToSink(m_offset, data, n)) return false;
        m_bufferStart = m_offset + n;
    } else {
        m_buffer.append(static_cast<const char*>(data), n);
    }
    m_offset += n;
    return true;
}

bool ZipWriter::Patch(uint64_t offset, const std::string& bytes) {
    // A header is appended whole, so it is either entirely in the buffer or entirely in the sink.
    if (offset >= m_bufferStart) {
        m_buffer.replace(size_t(offset - m_bufferStart), bytes.size(), bytes);
        return true;
    }
    return WriteToSink(offset, bytes.data(), bytes.size());
}

void ZipWriter::TrackWhole(uint32_t crc, uint64_t length) {
    m_wholeCrc = Crc32Combine(m_wholeCrc, crc, length);
}

std::string ZipWriter::LocalHeader(const Entry& e) const {
    std::string extra;
    if (e.zip64Local) {
        Put16(extra, kExtraZip64);
        Put16(extra, 16);
        Put64(extra, e.size);
        Put64(extra, e.compressedSize);
    }
    PutTimestamp(extra, e.mtime);
    std::string h;
    h.reserve(kLocalHeaderSize + e.name.size() + extra.size());
    Put32(h, kLocalHeaderSig);
    Put16(h, e.zip64Local ? 45 : 20);
    Put16(h, kFlagUtf8);
    Put16(h, e.method);
    Put16(h, e.dosTime);
    Put16(h, e.dosDate);
    Put32(h, e.crc);
    Put32(h, e.zip64Local ? kMax32 : uint32_t(e.compressedSize));
    Put32(h, e.zip64Local ? kMax32 : uint32_t(e.size));
    Put16(h, uint16_t(e.name.size()));
    Put16(h, uint16_t(extra.size()));
    h += e.name;
    h += extra;
    return h;
}

std::string ZipWriter::CentralHeader(const Entry& e) const {
    const bool force = m_options.forceZip64;
    const bool bigSize = force || e.size >= kMax32;
    const bool bigCompressed = force || e.compressedSize >= kMax32;
    const bool bigOffset = force || e.localOffset >= kMax32;
    std::string extra;
    if (bigSize || bigCompressed || bigOffset) {
        Put16(extra, kExtraZip64);
        Put16(extra, uint16_t(8 * (int(bigSize) + int(bigCompressed) + int(bigOffset))));
        if (bigSize) Put64(extra, e.size);
        if (bigCompressed) Put64(extra, e.compressedSize);
        if (bigOffset) Put64(extra, e.localOffset);
    }
    PutTimestamp(extra, e.mtime);
    Put16(extra, kExtraOwnMark);
    Put16(extra, 0);

    const uint32_t attributes = e.directory ? ((kUnixDirectory | 0755u) << 16) | kDosDirectory
                                            : ((kUnixRegular | 0644u) << 16) | kDosArchive;
    std::string h;
    h.reserve(kCentralHeaderSize + e.name.size() + extra.size());
    Put32(h, kCentralHeaderSig);
    Put16(h, kVersionMadeBy);
    Put16(h, (e.zip64Local || bigSize || bigCompressed || bigOffset) ? 45 : 20);
    Put16(h, kFlagUtf8);
    Put16(h, e.method);
    Put16(h, e.dosTime);
    Put16(h, e.dosDate);
    Put32(h, e.crc);
    Put32(h, bigCompressed ? kMax32 : uint32_t(e.compressedSize));
    Put32(h, bigSize ? kMax32 : uint32_t(e.size));
    Put16(h, uint16_t(e.name.size()));
    Put16(h, uint16_t(extra.size()));
    Put16(h, 0);  // comment
    Put16(h, 0);  // disk
    Put16(h, 0);  // internal attributes
    Put32(h, attributes);
    Put32(h, bigOffset ? kMax32 : uint32_t(e.localOffset));
    h += e.name;
    h += extra;
    return h;
}

bool ZipWriter::BeginEntry(const std::string& name, int64_t mtime, bool directory, uint64_t sizeHint) {
    if (m_failed || m_finished || m_inFile) return false;
    if (name.empty() || name.size() > kMax16 || !IsValidUtf8(name) || name.front() == '/' ||
        directory != (name.back() == '/')) {
        return false;
    }
    Entry e;
    e.name = name;
    e.localOffset = m_offset;
    e.mtime = mtime;
    e.directory = directory;
    e.method = kMethodStored;
    e.zip64Local = m_options.forceZip64 || sizeHint >= kZip64LocalThreshold;
    DosTime dos = DosTimeFromUtc(mtime);
    e.dosTime = dos.time;
    e.dosDate = dos.date;
    std::string header = LocalHeader(e);
    if (!Append(header.data(), header.size())) return false;
    // A file's header is final only at EndFile; a folder's is final now.
    if (directory) TrackWhole(Crc32(header.data(), header.size()), header.size());
    m_entries.push_back(std::move(e));
    return true;
}

bool ZipWriter::AddDirectory(const std::string& name, int64_t mtime) {
    return BeginEntry(name, mtime, true, 0);
}

bool ZipWriter::BeginFile(const std::string& name, int64_t mtime, uint64_t sizeHint) {
    if (!BeginEntry(name, mtime, false, sizeHint)) return false;
    m_inFile = true;
    m_deflating = false;
    m_dataCrc = 0;
    return true;
}

bool ZipWriter::Deflate(const void* data, size_t n, int flush) {
    Entry& e = m_entries.back();
    m_zs.next_in = static_cast<Bytef*>(const_cast<void*>(data));
    m_zs.avail_in = uInt(n);
    for (;;) {
        m_zs.next_out = m_out.data();
        m_zs.avail_out = uInt(m_out.size());
        int r = deflate(&m_zs, flush);
        if (r == Z_STREAM_ERROR) {
            m_failed = true;
            return false;
        }
        size_t produced = m_out.size() - m_zs.avail_out;
        if (produced) {
            m_dataCrc = Crc32(m_out.data(), produced, m_dataCrc);
            e.compressedSize += produced;
            if (!Append(m_out.data(), produced)) return false;
        }
        if (flush == Z_FINISH ? r == Z_STREAM_END : (m_zs.avail_in == 0 && m_zs.avail_out != 0)) return true;
    }
}

bool ZipWriter::Write(const void* data, size_t n) {
    if (m_failed || !m_inFile) return false;
    if (n == 0) return true;
    Entry& e = m_entries.back();
    if (!m_deflating) {
        if (!m_zsReady) {
            if (deflateInit2(&m_zs, m_options.level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
                m_failed = true;
                return false;
            }
            m_zsReady = true;
        } else {
            deflateReset(&m_zs);
        }
        m_deflating = true;
        e.method = kMethodDeflate;
    }
    const auto* bytes = static_cast<const char*>(data);
    while (n > 0) {
        size_t chunk = std::min<size_t>(n, 1u << 30);
        e.crc = Crc32(bytes, chunk, e.crc);
        e.size += chunk;
        if (!Deflate(bytes, chunk, Z_NO_FLUSH)) return false;
        bytes += chunk;
        n -= chunk;
    }
    return true;
}

bool ZipWriter::EndFile() {
    if (m_failed || !m_inFile) return false;
    m_inFile = false;
    if (m_deflating && !Deflate(nullptr, 0, Z_FINISH)) return false;
    m_deflating = false;
    Entry& e = m_entries.back();
    if (!e.zip64Local && (e.size >= kMax32 || e.compressedSize >= kMax32)) {
        m_failed = true;  // grew past what its header can say
        return false;
    }
    std::string header = LocalHeader(e);
    if (!Patch(e.localOffset, header)) return false;
    TrackWhole(Crc32(header.data(), header.size()), header.size());
    TrackWhole(m_dataCrc, e.compressedSize);
    return true;
}

bool ZipWriter::Finish() {
    if (m_failed || m_finished || m_inFile) return false;
    m_finished = true;
    const uint64_t cdOffset = m_offset;
    std::string tail;
    for (const Entry& e : m_entries) tail += CentralHeader(e);
    const uint64_t cdSize = tail.size();
    const uint64_t count = m_entries.size();
    const bool zip64 = m_options.forceZip64 || count >= kMax16 || cdOffset >= kMax32 || cdSize >= kMax32;
    if (zip64) {
        const uint64_t end64Offset = cdOffset + cdSize;
        Put32(tail, kEnd64Sig);
        Put64(tail, kEnd64Size - 12);
        Put16(tail, kVersionMadeBy);
        Put16(tail, 45);
        Put32(tail, 0);
        Put32(tail, 0);
        Put64(tail, count);
        Put64(tail, count);
        Put64(tail, cdSize);
        Put64(tail, cdOffset);
        Put32(tail, kEnd64LocatorSig);
        Put32(tail, 0);
        Put64(tail, end64Offset);
        Put32(tail, 1);
    }
    const bool bigCount = m_options.forceZip64 || count >= kMax16;
    Put32(tail, kEndSig);
    Put16(tail, 0);
    Put16(tail, 0);
    Put16(tail, bigCount ? kMax16 : uint16_t(count));
    Put16(tail, bigCount ? kMax16 : uint16_t(count));
    Put32(tail, (m_options.forceZip64 || cdSize >= kMax32) ? kMax32 : uint32_t(cdSize));
    Put32(tail, (m_options.forceZip64 || cdOffset >= kMax32) ? kMax32 : uint32_t(cdOffset));
    Put16(tail, uint16_t(kOwnCommentSize));
    TrackWhole(Crc32(tail.data(), tail.size()), tail.size());
    char comment[kOwnCommentSize + 1];
    std::snprintf(comment, sizeof comment, "%s%08X", std::string(kOwnCommentHead).c_str(),
                  unsigned(m_wholeCrc));
    tail.append(comment, kOwnCommentSize);
    if (!Append(tail.data(), tail.size())) return false;
    return Flush();
}

}  // namespace kivo::zip
