// Where the ZIP writer puts its bytes and where the reader gets them: a file in the runner, memory in
// the tests and the fuzz target.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace kivo::zip {

class ByteSink {
  public:
    virtual ~ByteSink() = default;
    // Writes all n bytes at offset; false on failure (the sink keeps the reason).
    virtual bool WriteAt(uint64_t offset, const void* data, size_t n) = 0;
};

class ByteSource {
  public:
    virtual ~ByteSource() = default;
    virtual uint64_t Size() const = 0;
    // Reads exactly n bytes at offset; false when they cannot all be read.
    virtual bool ReadAt(uint64_t offset, void* buffer, size_t n) = 0;
};

class MemorySink final : public ByteSink {
  public:
    bool WriteAt(uint64_t offset, const void* data, size_t n) override {
        if (offset + n > m_bytes.size()) m_bytes.resize(size_t(offset + n));
        if (n) std::memcpy(m_bytes.data() + offset, data, n);
        return true;
    }
    const std::string& Bytes() const { return m_bytes; }

  private:
    std::string m_bytes;
};

class MemorySource final : public ByteSource {
  public:
    explicit MemorySource(std::string_view bytes) : m_bytes(bytes) {}
    uint64_t Size() const override { return m_bytes.size(); }
    bool ReadAt(uint64_t offset, void* buffer, size_t n) override {
        if (offset > m_bytes.size() || n > m_bytes.size() - offset) return false;
        if (n) std::memcpy(buffer, m_bytes.data() + offset, n);
        return true;
    }

  private:
    std::string_view m_bytes;
};

}  // namespace kivo::zip
