// The part of the platform layer that both sides share: it needs no system call of its own.
#include "file_system.h"

#include <algorithm>
#include <memory>

namespace kivo::fs {

Status File::CopyThroughBuffer(const File& from, uint64_t n, uint64_t& copied) {
    constexpr size_t kBuffer = 1 << 20;
    if (copied >= n) return {};
    std::unique_ptr<char[]> buffer(new char[kBuffer]);
    while (copied < n) {
        const size_t want = size_t(std::min<uint64_t>(n - copied, kBuffer));
        size_t got = 0;
        if (Status s = from.ReadAt(copied, buffer.get(), want, got); !s) return s;
        if (got == 0) return {};  // the source is shorter than n
        if (Status s = WriteAt(copied, buffer.get(), got); !s) return s;
        copied += got;
    }
    return {};
}

}  // namespace kivo::fs
