// POSIX side of the platform layer: every child is reached with openat/fstatat/unlinkat relative to
// its parent's descriptor, with O_NOFOLLOW / AT_SYMLINK_NOFOLLOW.
#include "file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <memory>
#include <mutex>
#include <thread>

#include "shared_files.h"
#include "run_text.h"
#include "utf8_text.h"
#include "zip_format.h"

namespace kivo::fs {
namespace {

Status FromErrno(int e) {
    switch (e) {
        case 0:
            return {};
        case ENOENT:
            return {Error::NotFound, e};
        case EACCES:
        case EPERM:
        case EROFS:
            return {Error::AccessDenied, e};
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return {Error::DiskFull, e};
        case ELOOP:
            return {Error::IsLink, e};
        case ENOTDIR:
            return {Error::NotDirectory, e};
        case EISDIR:
            return {Error::IsDirectory, e};
        case EEXIST:
            return {Error::Exists, e};
        case ENOTEMPTY:
            return {Error::NotEmpty, e};
        case ENAMETOOLONG:
        case EINVAL:
        case EILSEQ:
            return {Error::NameInvalid, e};
        case ETXTBSY:
        case EBUSY:
            return {Error::Locked, e};
        default:
            return {Error::Io, e};
    }
}

Status LastError() {
    return FromErrno(errno);
}

// Nanoseconds since 1970; times beyond the year 2262 saturate.
int64_t Ticks(const struct timespec& t) {
    int64_t ticks = 0;
    if (__builtin_mul_overflow(int64_t(t.tv_sec), int64_t(1000000000), &ticks) ||
        __builtin_add_overflow(ticks, int64_t(t.tv_nsec), &ticks)) {
        return t.tv_sec < 0 ? INT64_MIN : INT64_MAX;
    }
    return ticks;
}

Facts FactsOf(const struct stat& st) {
    Facts f;
    if (S_ISREG(st.st_mode)) {
        f.kind = Kind::File;
    } else if (S_ISDIR(st.st_mode)) {
        f.kind = Kind::Directory;
    } else if (S_ISLNK(st.st_mode)) {
        f.kind = Kind::Link;
    } else {
        f.kind = Kind::Other;
    }
    f.size = st.st_size > 0 ? uint64_t(st.st_size) : 0;
    f.mtime = int64_t(st.st_mtim.tv_sec);
    f.id = {uint64_t(st.st_dev), uint64_t(st.st_ino)};
    f.writeTicks = Ticks(st.st_mtim);
    f.changeTicks = Ticks(st.st_ctim);
    return f;
}

// An open child that turned out not to be what was asked for.
Status KindMismatch(int dirFd, const NativeString& name, Error fallback) {
    struct stat st;
    if (fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) {
        return {Error::IsLink, ELOOP};
    }
    return {fallback, 0};
}

// fd was opened with O_NONBLOCK, so that a FIFO cannot hang the open. Only a regular file is kept,
// and it reads blocking again; anything else is closed.
Status KeepRegularFile(int fd) {
    struct stat st;
    Status s;
    if (::fstat(fd, &st) != 0) {
        s = LastError();
    } else if (!S_ISREG(st.st_mode)) {
        s = {S_ISDIR(st.st_mode) ? Error::IsDirectory : Error::NameInvalid, 0};
    }
    if (!s) {
        ::close(fd);
        return s;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return {};
}

bool ValidName(const NativeString& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == NativeString::npos &&
           name.find('\0') == NativeString::npos;
}

}  // namespace

// ---- File ----

File::File(File&& other) noexcept : m_fd(other.m_fd) {
    other.m_fd = -1;
}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        Close();
        m_fd = other.m_fd;
        other.m_fd = -1;
    }
    return *this;
}

File::~File() {
    Close();
}

Status File::OpenPath(const std::filesystem::path& path, File& out) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return LastError();
    if (Status s = KeepRegularFile(fd); !s) return s;
    out = File();
    out.m_fd = fd;
    return {};
}

bool File::IsOpen() const {
    return m_fd >= 0;
}

void File::Close() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
}

Status File::ReadAt(uint64_t offset, void* buffer, size_t n, size_t& got) const {
    got = 0;
    auto* out = static_cast<char*>(buffer);
    while (got < n) {
        ssize_t r = ::pread(m_fd, out + got, n - got, off_t(offset + got));
        if (r < 0) {
            if (errno == EINTR) continue;
            return LastError();
        }
        if (r == 0) break;
        got += size_t(r);
    }
    return {};
}

Status File::WriteAt(uint64_t offset, const void* data, size_t n) {
    const auto* in = static_cast<const char*>(data);
    size_t done = 0;
    while (done < n) {
        ssize_t r = ::pwrite(m_fd, in + done, n - done, off_t(offset + done));
        if (r < 0) {
            if (errno == EINTR) continue;
            return LastError();
        }
        if (r == 0) return {Error::DiskFull, ENOSPC};
        done += size_t(r);
    }
    return {};
}

Status File::GetFacts(Facts& out) const {
    struct stat st;
    if (::fstat(m_fd, &st) != 0) return LastError();
    out = FactsOf(st);
    return {};
}

Status File::GetState(Facts& out) const {
    return GetFacts(out);  // fstat has it all at once
}

Status File::SetMtime(int64_t mtime) {
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = time_t(mtime);
    times[1].tv_nsec = 0;
    if (::futimens(m_fd, times) != 0) return LastError();
    return {};
}

Status File::MakeDurable() {
    return {};
}

Status File::Sync() {
    if (::fsync(m_fd) != 0) return LastError();
    return {};
}

void File::StartWriteBack(uint64_t offset, uint64_t n) {
#ifdef __linux__
    ::sync_file_range(m_fd, loff_t(offset), loff_t(n), SYNC_FILE_RANGE_WRITE);
#else
    (void)offset, (void)n;
#endif
}

// The kernel copies (copy_file_range: no pass through this process's memory, shared extents where the
// file system has them) while a second thread reads back what is already copied and takes its CRC, so
// that the CRC is of the copy itself and costs the copy no time.
Status File::CopyInKernel(const File& from, uint64_t n, uint64_t& copied, uint32_t& crc) {
#ifdef __linux__
    constexpr uint64_t kPiece = 8u << 20;
    constexpr uint64_t kWriteBackPiece = 64u << 20;
    copied = 0;
    std::mutex mutex;
    std::condition_variable progressed;
    uint64_t ready = 0;  // bytes the kernel has copied
    bool finished = false;
    Status readBack;
    uint32_t readCrc = 0;
    std::thread checker([&] {
        std::unique_ptr<char[]> buffer(new char[1 << 20]);
        uint64_t at = 0;
        for (;;) {
            uint64_t until;
            {
                std::unique_lock lock(mutex);
                progressed.wait(lock, [&] { return finished || ready > at; });
                until = ready;
                if (at >= until) return;
            }
            while (at < until) {
                size_t got = 0;
                const size_t want = size_t(std::min<uint64_t>(until - at, 1 << 20));
                if (Status s = ReadAt(at, buffer.get(), want, got); !s || got == 0) {
                    readBack = s ? Status{Error::Io, EIO} : s;
                    std::lock_guard lock(mutex);
                    finished = true;  // nothing more to read back: the copy fails
                    return;
                }
                readCrc = zip::Crc32(buffer.get(), got, readCrc);
                at += got;
            }
        }
    });
    Status result;
    uint64_t handed = 0;
    loff_t in = 0, out = 0;
    while (copied < n) {
        const ssize_t r =
            ::copy_file_range(from.m_fd, &in, m_fd, &out, size_t(std::min(n - copied, kPiece)), 0);
        if (r < 0) {
            if (errno == EINTR) continue;
            const int e = errno;
            // Nothing copied yet and a kernel or file system that cannot: the buffered copy does it.
            if (copied == 0 && (e == EXDEV || e == EINVAL || e == ENOSYS || e == EOPNOTSUPP || e == EBADF)) {
                result = {Error::NotSupported, e};
            } else {
                result = FromErrno(e);
            }
            break;
        }
        if (r == 0) break;  // the source is shorter than n
        copied += uint64_t(r);
        {
            std::lock_guard lock(mutex);
            if (finished) break;  // reading back failed
            ready = copied;
        }
        progressed.notify_one();
        if (copied - handed >= kWriteBackPiece) {
            StartWriteBack(handed, copied - handed);
            handed = copied;
        }
    }
    {
        std::lock_guard lock(mutex);
        finished = true;
    }
    progressed.notify_one();
    checker.join();
    if (result) result = readBack;
    crc = readCrc;
    return result;
#else
    (void)from, (void)n, (void)copied, (void)crc;
    return {Error::NotSupported, 0};
#endif
}

// ---- Dir ----

Dir::Dir(Dir&& other) noexcept : m_fd(other.m_fd) {
    other.m_fd = -1;
}

Dir& Dir::operator=(Dir&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = other.m_fd;
        other.m_fd = -1;
    }
    return *this;
}

Dir::~Dir() {
    if (m_fd >= 0) ::close(m_fd);
}

bool Dir::IsOpen() const {
    return m_fd >= 0;
}

Status Dir::Open(const std::filesystem::path& path, Dir& out) {
    int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return LastError();
    out = Dir();
    out.m_fd = fd;
    return {};
}

Status Dir::OpenOrCreate(const std::filesystem::path& path, Dir& out) {
    Status s = Open(path, out);
    if (s.error != Error::NotFound) return s;
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    if (ec) return FromErrno(ec.value());
    return Open(path, out);
}

FileId Dir::Id() const {
    struct stat st;
    if (::fstat(m_fd, &st) != 0) return {};
    return {uint64_t(st.st_dev), uint64_t(st.st_ino)};
}

Status Dir::IsWithin(const Dir& ancestor, bool& within) const {
    within = false;
    const FileId target = ancestor.Id();
    int current = ::openat(m_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (current < 0) return LastError();
    for (int depth = 0; depth < 4096; ++depth) {
        struct stat here;
        if (::fstat(current, &here) != 0) break;
        if (FactsOf(here).id == target) {
            within = true;
            break;
        }
        int parent = ::openat(current, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (parent < 0) break;
        struct stat up;
        bool top = ::fstat(parent, &up) != 0 || (up.st_dev == here.st_dev && up.st_ino == here.st_ino);
        ::close(current);
        current = parent;
        if (top) break;
    }
    ::close(current);
    return {};
}

Status Dir::List(std::vector<DirEntry>& out) const {
    out.clear();
    // A descriptor of its own, so the listing does not share a read position with m_fd.
    int fd = ::openat(m_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return LastError();
    DIR* d = ::fdopendir(fd);
    if (!d) {
        Status s = LastError();
        ::close(fd);
        return s;
    }
    errno = 0;
    while (struct dirent* e = ::readdir(d)) {
        NativeString name = e->d_name;
        if (name == "." || name == "..") continue;
        struct stat st;
        if (::fstatat(m_fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT) continue;  // gone since the listing
            DirEntry entry{std::move(name), {}};
            entry.facts.kind = Kind::Other;
            out.push_back(std::move(entry));
            continue;
        }
        out.push_back({std::move(name), FactsOf(st)});
        errno = 0;
    }
    Status s = errno != 0 ? LastError() : Status{};
    ::closedir(d);
    return s;
}

Status Dir::Stat(const NativeString& name, Facts& out) const {
    if (!ValidName(name)) return {Error::NameInvalid, 0};
    struct stat st;
    if (::fstatat(m_fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return LastError();
    out = FactsOf(st);
    return {};
}

Status Dir::OpenDir(const NativeString& name, Dir& out, bool) const {
    if (!ValidName(name)) return {Error::NameInvalid, 0};
    int fd = ::openat(m_fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        Status s = LastError();
        if (s.error == Error::NotDirectory || s.error == Error::IsLink)
            return KindMismatch(m_fd, name, s.error);
        return s;
    }
    out = Dir();
    out.m_fd = fd;
    return {};
}

Status Dir::OpenRead(const NativeString& name, File& out) const {
    if (!ValidName(name)) return {Error::NameInvalid, 0};
    int fd = ::openat(m_fd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        Status s = LastError();
        if (s.error == Error::IsLink) return KindMismatch(m_fd, name, s.error);
        return s;
    }
    if (Status s = KeepRegularFile(fd); !s) return s;
    out = File();
    out.m_fd = fd;
    return {};
}

Status Dir::CreateFile(const NativeString& name, File& out) const {
    if (!ValidName(name)) return {Error::NameInvalid, 0};
    int fd = ::openat(m_fd, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) return LastError();
    out = File();
    out.m_fd = fd;
    return {};
}

Status Dir::MakeDir(const NativeString& name) const {
    if (!ValidName(name)) return {Error::NameInvalid, 0};
    if (::mkdirat(m_fd, name.c_str(), 0777) != 0) return LastError();
    return {};
}

Status Dir::DeleteFile(const NativeString& name, const FileId* expect) const {
    if (!ValidName(name)) return {Error::NameInvalid, 0};
    struct stat st;
    if (::fstatat(m_fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return LastError();
    if (S_ISLNK(st.st_mode)) return {Error::IsLink, 0};
    if (S_ISDIR(st.st_mode)) return {Error::IsDirectory, 0};
    if (expect && !(FactsOf(st).id == *expect)) return {Error::NotFound, 0};
    // Between the check and the unlink the name can only be swapped for another entry of this
    // folder; unlinkat removes that entry itself and never reaches through it.
    if (::unlinkat(m_fd, name.c_str(), 0) != 0) return LastError();
    return {};
}

Status Dir::RemoveDir(const NativeString& name) const {
    if (!ValidName(name)) return {Error::NameInvalid, 0};
    struct stat st;
    if (::fstatat(m_fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return LastError();
    if (S_ISLNK(st.st_mode)) return {Error::IsLink, 0};
    if (!S_ISDIR(st.st_mode)) return {Error::NotDirectory, 0};
    if (::unlinkat(m_fd, name.c_str(), AT_REMOVEDIR) != 0) return LastError();
    return {};
}

Status Dir::Rename(const NativeString& name, const Dir& to, const NativeString& toName, bool replace) const {
    if (!ValidName(name) || !ValidName(toName)) return {Error::NameInvalid, 0};
    if (!replace) {
        if (::renameat2(m_fd, name.c_str(), to.m_fd, toName.c_str(), RENAME_NOREPLACE) != 0)
            return LastError();
        return {};
    }
    struct stat st;
    if (::fstatat(to.m_fd, toName.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode)) {
        return {Error::IsDirectory, 0};
    }
    if (::renameat(m_fd, name.c_str(), to.m_fd, toName.c_str()) != 0) return LastError();
    return {};
}

// Linked first and checked after, on the new name: that is the very file linked, and no one else can
// swap it in a folder that is ours.
Status Dir::LinkFile(const NativeString& name, const Dir& from, const NativeString& fromName,
                     const std::function<bool(const Facts&)>& accept, bool& linked) const {
    linked = false;
    if (!ValidName(name) || !ValidName(fromName)) return {Error::NameInvalid, 0};
    // linkat without AT_SYMLINK_FOLLOW links the entry itself, never what a link points to.
    if (::linkat(from.m_fd, fromName.c_str(), m_fd, name.c_str(), 0) != 0) {
        const int e = errno;
        switch (e) {
            case ENOENT:
                return {};  // nothing there to link
            case EXDEV:
            case EPERM:  // the file system has no hard links (vfat, exfat)
            case EOPNOTSUPP:
#if ENOTSUP != EOPNOTSUPP
            case ENOTSUP:
#endif
                return {Error::NotSupported, e};
            case EMLINK:
                return {Error::TooManyLinks, e};
            default:
                return FromErrno(e);
        }
    }
    struct stat st;
    if (::fstatat(m_fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        const Status s = LastError();
        ::unlinkat(m_fd, name.c_str(), 0);
        return s;
    }
    const Facts facts = FactsOf(st);
    if (facts.kind != Kind::File || !accept(facts)) {
        ::unlinkat(m_fd, name.c_str(), 0);
        return {};
    }
    linked = true;
    return {};
}

Status Dir::FreeSpace(uint64_t& available, uint64_t& total) const {
    struct statvfs sv;
    if (::fstatvfs(m_fd, &sv) != 0) return LastError();
    available = uint64_t(sv.f_bavail) * sv.f_frsize;
    total = uint64_t(sv.f_blocks) * sv.f_frsize;
    return {};
}

Status Dir::SyncVolume() const {
#ifdef __linux__
    if (::syncfs(m_fd) != 0) return LastError();
#else
    ::sync();
#endif
    return {};
}

Status Dir::TryLock(const NativeString& name, FileLock& out) const {
    if (!ValidName(name)) return {Error::NameInvalid, 0};
    // A holder releases by removing the name before it lets go; whoever locked the file in between
    // holds a lock on a file without a name, and tries again with the file the name stands for now.
    for (int attempt = 0; attempt < 16; ++attempt) {
        int fd = ::openat(m_fd, name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0) return LastError();
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int e = errno;
            ::close(fd);
            return e == EWOULDBLOCK ? Status{Error::Locked, e} : FromErrno(e);
        }
        struct stat held, named;
        if (::fstat(fd, &held) == 0 && ::fstatat(m_fd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
            const int dirFd = ::fcntl(m_fd, F_DUPFD_CLOEXEC, 0);
            if (dirFd < 0) {
                const Status s = LastError();
                ::close(fd);
                return s;
            }
            out = FileLock();
            out.m_fd = fd;
            out.m_dirFd = dirFd;
            out.m_name = name;
            return {};
        }
        ::close(fd);
    }
    return {Error::Locked, 0};
}

int64_t Dir::TimeGranularity() const {
    constexpr int64_t kMillisecond = 1000000;
    struct statfs sf;
    if (::fstatfs(m_fd, &sf) != 0) return 2000 * kMillisecond;
    switch (static_cast<unsigned long>(sf.f_type)) {
        case 0x4d44:  // FAT (vfat, msdos): last-write times in two-second steps
            return 2000 * kMillisecond;
        case 0x2011BAB0:  // exFAT
            return 10 * kMillisecond;
        default:
            // Nanosecond fields, but the kernel stamps files from its coarse clock, which moves once
            // a tick (1 to 10 ms).
            return 10 * kMillisecond;
    }
}

// ---- FileLock ----

FileLock::FileLock(FileLock&& other) noexcept
    : m_fd(other.m_fd), m_dirFd(other.m_dirFd), m_name(std::move(other.m_name)) {
    other.m_fd = other.m_dirFd = -1;
}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
    if (this != &other) {
        Release();
        m_fd = other.m_fd;
        m_dirFd = other.m_dirFd;
        m_name = std::move(other.m_name);
        other.m_fd = other.m_dirFd = -1;
    }
    return *this;
}

FileLock::~FileLock() {
    Release();
}

bool FileLock::IsHeld() const {
    return m_fd >= 0;
}

void FileLock::Release() {
    if (m_fd < 0) return;
    ::unlinkat(m_dirFd, m_name.c_str(), 0);
    ::close(m_fd);
    ::close(m_dirFd);
    m_fd = m_dirFd = -1;
}

// ---- free functions ----

int64_t ClockTicksNow() {
    struct timespec t;
    ::clock_gettime(CLOCK_REALTIME, &t);
    return Ticks(t);
}

Status PathIsLink(const std::filesystem::path& path, bool& link) {
    struct stat st;
    link = false;
    if (::lstat(path.c_str(), &st) != 0) return LastError();
    link = S_ISLNK(st.st_mode);
    return {};
}

CivilTime LocalFromUtc(int64_t utc) {
    time_t t = time_t(utc);
    struct tm tm {};
    if (!::localtime_r(&t, &tm)) return {};
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

std::optional<int64_t> UtcFromLocal(const CivilTime& local) {
    struct tm tm {};
    tm.tm_year = local.year - 1900;
    tm.tm_mon = local.month - 1;
    tm.tm_mday = local.day;
    tm.tm_hour = local.hour;
    tm.tm_min = local.minute;
    tm.tm_sec = local.second;
    tm.tm_isdst = -1;
    time_t t = ::mktime(&tm);
    if (t == time_t(-1) && !(local.year == 1969 || local.year == 1970)) return std::nullopt;
    return int64_t(t);
}

unsigned long ProcessId() {
    return static_cast<unsigned long>(::getpid());
}

std::optional<std::string> Utf8FromNative(const NativeString& name) {
    if (!IsValidUtf8(name)) return std::nullopt;
    return name;
}

std::optional<NativeString> NativeFromUtf8(std::string_view utf8) {
    if (!IsValidUtf8(utf8)) return std::nullopt;
    return NativeString(utf8);
}

void Utf16FromNative(const NativeString& text, std::u16string& out) {
    out.clear();
    for (size_t pos = 0; pos < text.size();) {
        const size_t at = pos;
        std::optional<char32_t> cp = NextCodePoint(text, pos);
        if (!cp) {
            pos = at + 1;  // one byte at a time through what is not UTF-8
            cp = U'\uFFFD';
        }
        if (*cp >= 0x10000) {
            out += char16_t(0xD800 + ((*cp - 0x10000) >> 10));
            out += char16_t(0xDC00 + ((*cp - 0x10000) & 0x3FF));
        } else {
            out += char16_t(*cp);
        }
    }
}

NativeString FoldName(const NativeString& name) {
    return name;
}

NativeString NativeFromAscii(std::string_view ascii) {
    return NativeString(ascii);
}

void AppendUtf8ForLog(std::string& out, const NativeString& text) {
    AppendValidUtf8(out, text);
}

}  // namespace kivo::fs
