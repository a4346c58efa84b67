#include "file_attributes.h"

#include <string_view>

#include "shared_files.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace sysutil {

int FileAttributesOfGbkPath(const char* path) {
    if (!path || !*path) return kNoAttributes;
    // Code page 936 whatever the system code page is: the caller's text is GBK.
    const auto native = shared::PathFromGbk(std::string_view(path));
    if (!native) return kNoAttributes;
#ifdef _WIN32
    const DWORD attributes = GetFileAttributesW(native->c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return kNoAttributes;
    return attributes == 0 ? kNormalBit : static_cast<int>(attributes);
#else
    struct stat info {};
    if (::stat(native->c_str(), &info) != 0) return kNoAttributes;
    return S_ISDIR(info.st_mode) ? kDirectoryBit : kNormalBit;
#endif
}

}  // namespace sysutil
