// The part of the platform layer that both sides share: it needs no system call of its own.
#include "file_system.h"

#include <algorithm>
#include <memory>

#include "zip_format.h"

namespace kivo::fs {

// Through a buffer, because the backup records the CRC-32 of what it copied and the data passes here
// anyway; a large file where the kernel copies it itself (CopyInKernel), its CRC taken meanwhile.
Status File::CopyFrom(const File& from, uint64_t n, uint64_t& copied, uint32_t& crc) {
    constexpr size_t kBuffer = 1 << 20;
    constexpr uint64_t kWriteBackPiece = 64u << 20;
    constexpr uint64_t kKernelCopyFrom = 32u << 20;
    copied = 0;
    crc = 0;
    if (n == 0) return {};
    if (n >= kKernelCopyFrom) {
        if (Status s = CopyInKernel(from, n, copied, crc); s.error != Error::NotSupported) return s;
    }
    const size_t size = size_t(std::min<uint64_t>(n, kBuffer));
    std::unique_ptr<char[]> buffer(new char[size]);
    uint64_t handed = 0;
    while (copied < n) {
        const size_t want = size_t(std::min<uint64_t>(n - copied, size));
        size_t got = 0;
        if (Status s = from.ReadAt(copied, buffer.get(), want, got); !s) return s;
        if (got == 0) return {};  // the source is shorter than n
        if (Status s = WriteAt(copied, buffer.get(), got); !s) return s;
        crc = zip::Crc32(buffer.get(), got, crc);
        copied += got;
        if (copied - handed >= kWriteBackPiece) {
            StartWriteBack(handed, copied - handed);
            handed = copied;
        }
    }
    return {};
}

}  // namespace kivo::fs
