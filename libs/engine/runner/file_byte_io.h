// The ZIP writer's sink and the reader's source over a platform file, keeping the file's last fault.
#pragma once

#include "file_system.h"
#include "zip_io.h"

namespace kivo {

class FileSink final : public zip::ByteSink {
  public:
    explicit FileSink(fs::File& file) : m_file(file) {}
    bool WriteAt(uint64_t offset, const void* data, size_t n) override {
        m_status = m_file.WriteAt(offset, data, n);
        return bool(m_status);
    }
    const fs::Status& LastStatus() const { return m_status; }

  private:
    fs::File& m_file;
    fs::Status m_status;
};

class FileSource final : public zip::ByteSource {
  public:
    FileSource(const fs::File& file, uint64_t size) : m_file(file), m_size(size) {}
    uint64_t Size() const override { return m_size; }
    bool ReadAt(uint64_t offset, void* buffer, size_t n) override {
        size_t got = 0;
        m_status = m_file.ReadAt(offset, buffer, n, got);
        return m_status && got == n;
    }
    const fs::Status& LastStatus() const { return m_status; }

  private:
    const fs::File& m_file;
    uint64_t m_size;
    fs::Status m_status;
};

}  // namespace kivo
