// What a Windows reparse point is, by its tag: a name for something elsewhere (a symbolic link,
// junction or mount point), or a file or folder whose data a filter driver keeps (deduplication,
// cloud placeholders, hierarchical storage). A backup skips the first kind and reads the second.
// Pure: the tags are fixed numbers of the platform, so this builds and is tested natively.
#pragma once

#include <cstdint>

namespace kivo {

enum class ReparseClass {
    Link,     // points elsewhere: never followed, never read
    Data,     // holds the file's own data: read through it
    Special,  // a device, pipe or socket of a Linux subsystem: neither a link nor data
};

ReparseClass ClassifyReparseTag(uint32_t tag);

}  // namespace kivo
