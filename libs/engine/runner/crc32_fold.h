// CRC-32 (the ZIP polynomial) folded 64 bytes at a time with the CPU's carry-less multiply
// (PCLMULQDQ), where the CPU has one: about five times zlib's table, which matters on the copy path
// of a large file. zip::Crc32 chooses it at run time; elsewhere it is never called.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kivo::zip {

// Whether this CPU can run Crc32Folded.
bool CpuFoldsCrc32();

// The CRC-32 of n bytes after `crc` (the value a CRC of the bytes before returned), as zlib's crc32
// gives it. Only where CpuFoldsCrc32().
uint32_t Crc32Folded(const void* data, size_t n, uint32_t crc);

}  // namespace kivo::zip
