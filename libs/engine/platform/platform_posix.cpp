#include "platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "shared_files.h"

namespace kivo::platform {
namespace {

class FlockLock final : public FolderLock {
  public:
    explicit FlockLock(int fd) : m_fd(fd) {}
    ~FlockLock() override { ::close(m_fd); }  // closing the descriptor releases the flock

  private:
    int m_fd;
};

// The POSIX rule string at the end of a version 2+ TZif file ("\nCET-1CEST,M3.5.0,M10.5.0/3\n").
std::optional<TimeZone> ZoneFromTzFile(const std::filesystem::path& file) {
    std::string data;
    if (!shared::ReadWholeFile(file, data)) return std::nullopt;
    if (data.size() < 45 || data.compare(0, 4, "TZif") != 0 || data[4] < '2' || data.back() != '\n')
        return std::nullopt;
    const size_t start = data.rfind('\n', data.size() - 2);
    if (start == std::string::npos) return std::nullopt;
    return TimeZone::FromPosix(std::string_view(data).substr(start + 1, data.size() - start - 2));
}

IoStatus FromErrno(int e) {
    switch (e) {
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return {IoFault::DiskFull, e};
        case EACCES:
        case EPERM:
        case EROFS:
            return {IoFault::AccessDenied, e};
        case ENOTDIR:
            return {IoFault::NotAFolder, e};
        default:
            return {IoFault::Other, e};
    }
}

class PosixAppendFile final : public AppendFile {
  public:
    explicit PosixAppendFile(int fd) : m_fd(fd) {}
    ~PosixAppendFile() override { ::close(m_fd); }

    IoStatus Append(std::string_view data, size_t& written) override {
        written = 0;
        while (written < data.size()) {
            const ssize_t n = ::write(m_fd, data.data() + written, data.size() - written);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return n < 0 ? FromErrno(errno) : IoStatus{IoFault::Other, 0};
            written += size_t(n);
        }
        return {};
    }
    IoStatus Sync() override { return ::fsync(m_fd) == 0 ? IoStatus{} : FromErrno(errno); }
    bool Removed() const override {
        struct stat facts;
        return ::fstat(m_fd, &facts) == 0 && facts.st_nlink == 0;
    }

  private:
    int m_fd;
};

}  // namespace

std::unique_ptr<FolderLock> TryLockFolder(const std::filesystem::path& folder, bool& heldElsewhere) {
    heldElsewhere = false;
    const std::filesystem::path file = folder / "kivo.lock";
    int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return nullptr;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        heldElsewhere = errno == EWOULDBLOCK;
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<FlockLock>(fd);
}

TimeZone CurrentTimeZone() {
    std::filesystem::path file = "/etc/localtime";
    if (const char* tz = std::getenv("TZ"); tz && *tz) {
        std::string_view name = tz;
        if (name.front() == ':') {
            name.remove_prefix(1);
        } else if (auto zone = TimeZone::FromPosix(name)) {
            return *zone;
        }
        file = name.empty() || name.front() == '/' ? std::filesystem::path(name)
                                                   : std::filesystem::path("/usr/share/zoneinfo") / name;
    }
    return ZoneFromTzFile(file).value_or(TimeZone());
}

bool IsAbsolutePathText(std::string_view gbk) {
    return !gbk.empty() && gbk.front() == '/';
}

IoStatus MakeFolder(const std::filesystem::path& folder) {
    if (::mkdir(folder.c_str(), 0700) == 0) return {};
    const int e = errno;
    struct stat st {};
    if (e != EEXIST) return FromErrno(e);
    if (::stat(folder.c_str(), &st) != 0) return FromErrno(errno);
    return S_ISDIR(st.st_mode) ? IoStatus{} : IoStatus{IoFault::NotAFolder, ENOTDIR};
}

std::unique_ptr<AppendFile> OpenAppendFile(const std::filesystem::path& file, AppendTail& tail,
                                           IoStatus& status) {
    const int fd = ::open(file.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        status = FromErrno(errno);
        return nullptr;
    }
    struct stat st {};
    char last = '\n';
    int e = ::fstat(fd, &st) == 0 ? 0 : errno;
    if (e == 0 && st.st_size > 0) {
        const ssize_t n = ::pread(fd, &last, 1, st.st_size - 1);
        e = n == 1 ? 0 : n < 0 ? errno : EIO;
    }
    if (e != 0) {
        status = FromErrno(e);
        ::close(fd);
        return nullptr;
    }
    tail = {st.st_size == 0, last == '\n'};
    status = {};
    return std::make_unique<PosixAppendFile>(fd);
}

std::vector<std::string> PlainFileNames(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        struct stat st {};
        if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
            continue;
        bool ascii = true;
        for (unsigned char c : name) ascii = ascii && c < 0x80;
        if (ascii) names.emplace_back(name);
    }
    ::closedir(dir);
    return names;
}

bool RemoveFileName(const std::filesystem::path& file) {
    return ::unlink(file.c_str()) == 0;
}

bool RandomBytes(void* out, size_t n) {
    auto* p = static_cast<char*>(out);
    while (n > 0) {
        const ssize_t got = ::getrandom(p, n, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += got;
        n -= size_t(got);
    }
    return true;
}

}  // namespace kivo::platform
