// Whether an archive entry's name may be restored: it must name a place inside the target folder
// on every system, so it is judged by the strictest rules (Windows and POSIX together).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kivo {

struct EntryPath {
    std::vector<std::string> parts;  // UTF-8 path segments
    bool directory = false;          // the name ended with a separator
};

// nullptr when the name is safe (out then holds its segments); otherwise why it is refused, as a GBK
// text for the log. Both '/' and '\' separate segments.
const char* CheckEntryName(std::string_view utf8, EntryPath& out);

}  // namespace kivo
