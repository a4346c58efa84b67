#include "platform.h"

#include <fcntl.h>
#include <sys/file.h>
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

}  // namespace kivo::platform
