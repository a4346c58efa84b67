// The narrow platform layer under the runner: directory handles, files, time and text.
// Every child is opened relative to its parent's handle and never through a link, so a folder
// swapped for a link during a run cannot redirect a copy or a delete. A Win32 side (NT calls with
// RootDirectory, \\?\ roots) and a POSIX side (openat/unlinkat with O_NOFOLLOW).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kivo::fs {

// A name inside a folder in the platform's own form: UTF-16 on Windows, bytes on POSIX.
using NativeString = std::filesystem::path::string_type;

enum class Error {
    None,
    NotFound,
    AccessDenied,
    Locked,  // another program holds the file without sharing it
    DiskFull,
    IsLink,        // a symbolic link, junction or other reparse point
    NotDirectory,  // expected a folder
    IsDirectory,   // expected a file
    Exists,
    NotEmpty,
    NameInvalid,
    NotSupported,  // the volume or share cannot do this (a hard link on FAT32, exFAT, many shares)
    TooManyLinks,  // the file has as many hard links as its volume allows
    Io,
};

struct Status {
    Error error = Error::None;
    long code = 0;  // the system's own code, for the log
    explicit operator bool() const { return error == Error::None; }
};

enum class Kind { File, Directory, Link, Other };

struct FileId {
    uint64_t volume = 0;
    uint64_t index = 0;
    bool operator==(const FileId&) const = default;
};

struct Facts {
    Kind kind = Kind::Other;
    uint64_t size = 0;
    int64_t mtime = 0;  // seconds since 1970-01-01 UTC
    FileId id;
    // The last-write and change times exactly as the volume keeps them, in kClockName's ticks, so that
    // a rewrite within the same second still shows. changeTicks is 0 where the volume keeps no change
    // time (FAT32, exFAT, some shares).
    int64_t writeTicks = 0;
    int64_t changeTicks = 0;
    // A Windows reparse point's tag (0 for every other entry, and on POSIX). Such an entry's kind is
    // Link whatever the tag; `beneath` is File or Directory as its attributes say, which matters for a
    // reparse point that holds data of its own (reparse_tag.h).
    uint32_t reparseTag = 0;
    Kind beneath = Kind::Other;
};

#ifdef _WIN32
inline constexpr std::string_view kClockName = "100ns-since-1601";
// NTFS updates only the directory entry a file was written through, and that one lazily: another
// hard link's entry can show old times and size for good. Only the file's own handle tells the present.
inline constexpr bool kListingIsCurrent = false;
// Each written file is flushed on its own; there is no flush of a whole volume short of an
// administrator's volume handle.
inline constexpr bool kFlushEachFile = true;
#else
inline constexpr std::string_view kClockName = "ns-since-1970";
inline constexpr bool kListingIsCurrent = true;  // every entry is an fstatat of the file itself
inline constexpr bool kFlushEachFile = false;    // one Dir::SyncVolume covers every file
#endif

struct DirEntry {
    NativeString name;
    Facts facts;  // of the entry itself, links not followed
};

class File {
  public:
    File() = default;
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File();

    // Opens a file by its full path to read it (links in the path are followed: the user named it).
    static Status OpenPath(const std::filesystem::path& path, File& out);

    bool IsOpen() const;
    // Reads up to n bytes at offset; got < n only at the end of the file.
    Status ReadAt(uint64_t offset, void* buffer, size_t n, size_t& got) const;
    // Writes all n bytes at offset.
    Status WriteAt(uint64_t offset, const void* data, size_t n);
    Status GetFacts(Facts& out) const;
    // The facts without the id: kind, size and times. Cheaper where asking for the volume is not
    // (Wine answers it from the mount table, some 70 us a file).
    Status GetState(Facts& out) const;
    Status SetMtime(int64_t mtime);
    // Makes the data durable before the file takes its final name. On POSIX this is deferred to one
    // Dir::SyncVolume call per run; on Windows it flushes now.
    Status MakeDurable();
    // Flushes this one file to disk now.
    Status Sync();
    // Copies n bytes from the start of `from` to the start of this new file, and gives the CRC-32 of
    // what it copied. copied tells how far it got; a short source leaves copied < n with success.
    Status CopyFrom(const File& from, uint64_t n, uint64_t& copied, uint32_t& crc);
    void Close();

  private:
    friend class Dir;
    // Hands the written range to the disk without waiting for it (POSIX), so that the one
    // SyncVolume before a backup is named complete finds little left to write.
    void StartWriteBack(uint64_t offset, uint64_t n);
    // CopyFrom for a large file where the kernel can copy between files itself; NotSupported (with
    // nothing written) where it cannot.
    Status CopyInKernel(const File& from, uint64_t n, uint64_t& copied, uint32_t& crc);

#ifdef _WIN32
    void* m_handle = nullptr;
#else
    int m_fd = -1;
#endif
};

// An exclusive lock held through a file of its own (Dir::TryLock): opened without sharing on Windows,
// flock on POSIX, so that a crash lets it go with the process. Release removes the file first, and a
// lock is only taken on the very file its name still names, so that the name stays one lock.
class FileLock {
  public:
    FileLock() = default;
    FileLock(FileLock&& other) noexcept;
    FileLock& operator=(FileLock&& other) noexcept;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    ~FileLock();

    bool IsHeld() const;
    // Deletes the lock file and lets the lock go.
    void Release();

  private:
    friend class Dir;
#ifdef _WIN32
    void* m_handle = nullptr;
#else
    int m_fd = -1;
    int m_dirFd = -1;
    NativeString m_name;
#endif
};

class Dir {
  public:
    Dir() = default;
    Dir(Dir&& other) noexcept;
    Dir& operator=(Dir&& other) noexcept;
    Dir(const Dir&) = delete;
    Dir& operator=(const Dir&) = delete;
    ~Dir();

    // Opens a folder by its full path. Links inside the path itself are the user's choice and are followed.
    static Status Open(const std::filesystem::path& path, Dir& out);
    // Creates the folder and its missing parents, then opens it.
    static Status OpenOrCreate(const std::filesystem::path& path, Dir& out);

    bool IsOpen() const;
    FileId Id() const;
    // Whether this folder is `ancestor` or lies somewhere below it, by identity, not by path text.
    Status IsWithin(const Dir& ancestor, bool& within) const;

    Status List(std::vector<DirEntry>& out) const;
    Status Stat(const NativeString& name, Facts& out) const;
    // Opens a child folder; a link is refused with Error::IsLink. throughData also opens a reparse
    // point that holds data of its own (a cloud folder), never one that points elsewhere.
    Status OpenDir(const NativeString& name, Dir& out, bool throughData = false) const;
    // Opens a child file to read it, sharing it with readers. A link is refused; a reparse point that
    // holds data of its own (deduplicated, cloud, HSM) is read through its filter.
    Status OpenRead(const NativeString& name, File& out) const;
    // Creates a new child file to write; fails with Error::Exists when the name is taken.
    Status CreateFile(const NativeString& name, File& out) const;
    Status MakeDir(const NativeString& name) const;
    // Deletes a child file, never a folder, and never what a link points to. When expect is given,
    // the file must still be that file.
    Status DeleteFile(const NativeString& name, const FileId* expect = nullptr) const;
    Status RemoveDir(const NativeString& name) const;
    // Renames a child into another folder of the same volume; replace allows taking an existing
    // file's place (never a folder's).
    Status Rename(const NativeString& name, const Dir& to, const NativeString& toName, bool replace) const;
    // Gives the file fromName of `from` the further name `name` in this folder (a hard link), if
    // `accept` approves of the facts of the very file that would be linked; linked says whether it
    // was (not when fromName is gone). A link is refused with NotSupported where the volume or share has
    // none, TooManyLinks at the file's limit. Neither name is ever followed through a link.
    Status LinkFile(const NativeString& name, const Dir& from, const NativeString& fromName,
                    const std::function<bool(const Facts&)>& accept, bool& linked) const;
    Status FreeSpace(uint64_t& available, uint64_t& total) const;
    // Takes the lock file `name` of this folder, making it when missing; Error::Locked while another
    // holder, in this process or any other, has it.
    Status TryLock(const NativeString& name, FileLock& out) const;
    // The step in which this folder's volume records file times, in kClockName's ticks: 2 s on FAT,
    // 10 ms on exFAT, the system clock's tick elsewhere; 2 s where the volume cannot be asked.
    int64_t TimeGranularity() const;
    // Makes every file written on this volume durable (POSIX; a no-op where files flush themselves).
    Status SyncVolume() const;

  private:
#ifdef _WIN32
    void* m_handle = nullptr;
#else
    int m_fd = -1;
#endif
};

// Whether the path's last part is itself a link (Dir::Open would follow it).
Status PathIsLink(const std::filesystem::path& path, bool& link);

// Local civil time, for the clean rule's date and time conditions and the ZIP's DOS times.
struct CivilTime {
    int year = 1970, month = 1, day = 1, hour = 0, minute = 0, second = 0;
};
CivilTime LocalFromUtc(int64_t utc);
std::optional<int64_t> UtcFromLocal(const CivilTime& local);

// The file system's clock now, in kClockName's ticks: what a file written at this moment records.
int64_t ClockTicksNow();

// The process id, for unique temporary names.
unsigned long ProcessId();

// Text of native names.
std::optional<std::string> Utf8FromNative(const NativeString& name);
std::optional<NativeString> NativeFromUtf8(std::string_view utf8);
// UTF-16 of a native name or path, for a display: never fails; bytes that are not UTF-8 (POSIX)
// become U+FFFD. Into out, so that a caller converting many reuses one buffer.
void Utf16FromNative(const NativeString& text, std::u16string& out);
// The form two names take when the platform would treat them as the same name (case-insensitive
// on Windows, exact on POSIX).
NativeString FoldName(const NativeString& name);
NativeString NativeFromAscii(std::string_view ascii);

// Appends a native path or name as UTF-8, for a log line that names it exactly (run_text.h); what
// has no UTF-8 form (a lone surrogate, a byte of no sequence) becomes '?'.
void AppendUtf8ForLog(std::string& out, const NativeString& text);

}  // namespace kivo::fs
