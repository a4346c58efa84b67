// Reads a ZIP archive, ours or a peer's, and trusts nothing in it: Open checks the whole directory
// and every local header before a byte is extracted; Extract checks each entry's size and CRC.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "entry_name.h"
#include "zip_io.h"

namespace kivo::zip {

struct ZipEntry {
    std::string name;     // UTF-8, as decoded from the archive
    std::string rawName;  // the bytes the headers carry
    EntryPath path;       // its checked segments
    bool directory = false;
    uint16_t method = 0;
    uint16_t flags = 0;
    uint16_t dosTime = 0, dosDate = 0;
    std::optional<int64_t> mtime;  // UTC, from an extended timestamp
    uint32_t crc = 0;
    uint64_t size = 0;
    uint64_t compressedSize = 0;
    uint64_t localOffset = 0;
    uint64_t dataOffset = 0;
};

enum class ZipError { None, Damaged, Unsafe, Read, Output };

struct ZipProblem {
    ZipError error = ZipError::None;
    std::string entry;   // UTF-8 name of the entry concerned, if any
    std::string reason;  // GBK, for the log
};

class ZipReader {
  public:
    explicit ZipReader(ByteSource& source) : m_source(source) {}
    ~ZipReader();
    ZipReader(const ZipReader&) = delete;
    ZipReader& operator=(const ZipReader&) = delete;

    // Reads the end records, the central directory and every local header.
    bool Open();
    // In the order of their data in the archive.
    const std::vector<ZipEntry>& Entries() const { return m_entries; }
    bool IsOwnArchive() const { return m_own; }
    uint64_t TotalSize() const;

    // Inflates one entry into out (false from out stops with ZipError::Output) and checks its
    // length and CRC. Our own archives must be extracted in Entries() order, each once.
    bool Extract(size_t index, const std::function<bool(const char*, size_t)>& out);
    // After every entry has been extracted: the whole-file CRC of our own archives.
    bool FinishCheck();

    const ZipProblem& Problem() const { return m_problem; }

  private:
    bool Fail(ZipError error, const char* reason, const std::string& entry = {});
    bool ReadAt(uint64_t offset, void* buffer, size_t n);
    bool ReadEnd();
    bool ReadCentral();
    bool ReadLocalHeaders();

    ByteSource& m_source;
    std::vector<ZipEntry> m_entries;
    ZipProblem m_problem;
    uint64_t m_cdOffset = 0;
    uint64_t m_cdSize = 0;
    uint64_t m_count = 0;
    uint64_t m_endStart = 0;  // where the end records (ZIP64 or not) begin
    bool m_own = false;
    bool m_ownMarkSeen = false;
    std::string m_comment;
    std::string m_central;   // the central directory's bytes
    std::string m_endBytes;  // from m_cdOffset + m_cdSize to the comment
    // Whole-file check of our own archives: the CRC the comment names, and the pieces entry by entry.
    uint32_t m_wholeCrc = 0;
    std::vector<uint32_t> m_headerCrc;
    std::vector<uint64_t> m_headerSize;
    std::vector<std::optional<uint32_t>> m_dataCrc;
    std::vector<unsigned char> m_in, m_out;
    z_stream m_zs{};
    bool m_zsReady = false;
};

}  // namespace kivo::zip
