// The engine's only contact with the operating system beyond the standard library and libs/shared:
// the data-folder lock, the system time zone, the shape of an absolute path, the run history's
// append-only files and random bytes.
// One side for Win32 (platform_win32.cpp), one for POSIX (platform_posix.cpp); no windows.h here.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

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

// Why a file operation of the run history failed; `code` is the system's own (errno, GetLastError).
enum class IoFault { None, DiskFull, AccessDenied, NotAFolder, Other };
struct IoStatus {
    IoFault fault = IoFault::None;
    long code = 0;
    explicit operator bool() const { return fault == IoFault::None; }
};

// Creates the folder when it is missing. NotAFolder when something else has its name.
IoStatus MakeFolder(const std::filesystem::path& folder);

// A file opened for appending only: every write lands at its end, whoever else has it open
// (readers such as an editor may open it meanwhile, and may even delete or rename it).
class AppendFile {
  public:
    virtual ~AppendFile() = default;
    // Writes data at the end; `written` is how many bytes got there (all of them on success).
    virtual IoStatus Append(std::string_view data, size_t& written) = 0;
    // Makes what was appended durable: FlushFileBuffers on Windows, fsync on POSIX.
    virtual IoStatus Sync() = 0;
    // Whether the file has lost its last name since it was opened (someone deleted it): lines
    // appended now would be lost with it.
    virtual bool Removed() const = 0;
};

// How an opened file ends, so that the next write starts on a fresh line.
struct AppendTail {
    bool empty = true;
    bool endsWithLineEnd = true;  // false: its last line was torn (a writer died mid-line)
};

// Opens the file for appending, creating it when missing. Null with `status` set on failure.
std::unique_ptr<AppendFile> OpenAppendFile(const std::filesystem::path& file, AppendTail& tail,
                                           IoStatus& status);

// The names of the plain files in the folder: no folders, links or other reparse points, and only
// names in ASCII. Empty when the folder cannot be read.
std::vector<std::string> PlainFileNames(const std::filesystem::path& folder);

// Removes one name from its folder (never a link's target).
bool RemoveFileName(const std::filesystem::path& file);

// Fills out with bytes of the platform's cryptographic random generator (BCryptGenRandom,
// getrandom). False when it cannot.
bool RandomBytes(void* out, size_t n);

}  // namespace kivo::platform
