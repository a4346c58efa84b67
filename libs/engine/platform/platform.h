// The engine's only contact with the operating system beyond the standard library and libs/shared:
// the data-folder lock, the system time zone and the shape of an absolute path.
// One side for Win32 (platform_win32.cpp), one for POSIX (platform_posix.cpp); no windows.h here.
#pragma once

#include <filesystem>
#include <memory>
#include <string_view>

#include "time_zone.h"

namespace kivo::platform {

// Held for as long as the object lives; released by its destructor (or by the process ending).
class FolderLock {
  public:
    virtual ~FolderLock() = default;
};

// The exclusive lock of a data folder (its file "kivo.lock"): a file opened without sharing on
// Windows, flock on POSIX. Null when another engine holds it (`heldElsewhere` set) or the file cannot
// be opened at all (`heldElsewhere` cleared).
std::unique_ptr<FolderLock> TryLockFolder(const std::filesystem::path& folder, bool& heldElsewhere);

// The system's time zone rules as they stand now (Windows: the control panel's zone; POSIX: TZ,
// else /etc/localtime). UTC when they cannot be read.
TimeZone CurrentTimeZone();

// True for a path that does not depend on a current folder or drive:
// Windows "X:\..." and "\\server\share..."; POSIX "/...".
bool IsAbsolutePathText(std::string_view gbk);

}  // namespace kivo::platform
