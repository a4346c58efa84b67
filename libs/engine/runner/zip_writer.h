// Writes a .bkp (a standard ZIP archive, see zip_format.h) entry by entry, streaming each file
// through Deflate. Each local header is patched with its CRC and sizes once the entry is complete,
// so the archive needs no data descriptors.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "zip_io.h"

namespace kivo::zip {

class ZipWriter {
  public:
    struct Options {
        int level = Z_DEFAULT_COMPRESSION;
        bool forceZip64 = false;  // every entry and the end record in ZIP64 form (tests)
    };

    explicit ZipWriter(ByteSink& sink) : ZipWriter(sink, Options()) {}
    ZipWriter(ByteSink& sink, Options options);
    ~ZipWriter();
    ZipWriter(const ZipWriter&) = delete;
    ZipWriter& operator=(const ZipWriter&) = delete;

    // Names are UTF-8 with '/' separators; a folder's name ends with '/'.
    bool AddDirectory(const std::string& name, int64_t mtime);
    // sizeHint: the file's size when it was opened; above 4 GiB - 64 KiB the local header gets its
    // ZIP64 form in advance.
    bool BeginFile(const std::string& name, int64_t mtime, uint64_t sizeHint);
    bool Write(const void* data, size_t n);
    bool EndFile();
    // The central directory, the end records and the comment. Nothing may be added afterwards.
    bool Finish();

    // Whether a sink write failed (as opposed to a misuse or an entry that cannot be encoded).
    bool SinkFailed() const { return m_sinkFailed; }
    uint64_t BytesWritten() const { return m_offset; }

  private:
    struct Entry {
        std::string name;
        uint64_t localOffset = 0;
        uint64_t size = 0;
        uint64_t compressedSize = 0;
        uint32_t crc = 0;
        uint16_t method = 0;
        uint16_t dosTime = 0, dosDate = 0;
        int64_t mtime = 0;
        bool directory = false;
        bool zip64Local = false;
    };

    // False (and the writer failed) when the sink refuses the bytes.
    bool WriteToSink(uint64_t offset, const void* data, size_t n);
    bool Append(const void* data, size_t n);
    bool Flush();
    bool Patch(uint64_t offset, const std::string& bytes);
    std::string LocalHeader(const Entry& e) const;
    std::string CentralHeader(const Entry& e) const;
    bool BeginEntry(const std::string& name, int64_t mtime, bool directory, uint64_t sizeHint);
    bool Deflate(const void* data, size_t n, int flush);
    void TrackWhole(uint32_t crc, uint64_t length);

    ByteSink& m_sink;
    Options m_options;
    std::vector<Entry> m_entries;
    std::string m_buffer;  // bytes from m_bufferStart not yet in the sink
    uint64_t m_bufferStart = 0;
    uint64_t m_offset = 0;
    uint32_t m_wholeCrc = 0;  // of every byte before the current entry
    uint32_t m_dataCrc = 0;   // of the current entry's compressed bytes
    z_stream m_zs{};
    bool m_zsReady = false;
    bool m_inFile = false;
    bool m_deflating = false;
    bool m_finished = false;
    bool m_failed = false;
    bool m_sinkFailed = false;
    std::vector<unsigned char> m_out;
};

}  // namespace kivo::zip
