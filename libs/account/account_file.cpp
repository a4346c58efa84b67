#include "account_file.h"

#include <chrono>
#include <string>
#include <system_error>
#include <thread>

#include "account_store_codec.h"
#include "shared_files.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace account {
namespace {

constexpr int kLockTimeoutMs = 10000;

#ifdef _WIN32
// A named mutex per store path. Windows releases it if the holder dies (WAIT_ABANDONED), and
// the store itself is never half-written, so taking over an abandoned lock is safe.
class MutexLock : public AccountStorage::Lock {
  public:
    explicit MutexLock(HANDLE mutex) : m_mutex(mutex) {}
    ~MutexLock() override {
        ReleaseMutex(m_mutex);
        CloseHandle(m_mutex);
    }

  private:
    HANDLE m_mutex;
};
#else
class FlockLock : public AccountStorage::Lock {
  public:
    explicit FlockLock(int fd) : m_fd(fd) {}
    ~FlockLock() override {
        ::flock(m_fd, LOCK_UN);
        ::close(m_fd);
    }

  private:
    int m_fd;
};
#endif

}  // namespace

AccountFile::AccountFile(std::filesystem::path path) : m_path(std::move(path)) {}

std::filesystem::path AccountFile::DefaultPath() {
    return shared::DataFolder() / "accounts.dat";
}

std::unique_ptr<AccountStorage::Lock> AccountFile::Acquire() {
#ifdef _WIN32
    // One name for every spelling of the same path ("C:/x/accounts.dat", "c:\\X\\accounts.dat"),
    // so the app and the tool meet on the same mutex.
    std::error_code ec;
    std::wstring text = std::filesystem::weakly_canonical(m_path, ec).make_preferred().wstring();
    if (ec) text = m_path.wstring();
    CharLowerBuffW(text.data(), DWORD(text.size()));
    const uint32_t id = shared::Crc32(
        std::string_view(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t)));
    const std::wstring name = L"Local\\plan_desk.accounts." + std::to_wstring(id);
    HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
    if (!mutex) return nullptr;
    const DWORD wait = WaitForSingleObject(mutex, kLockTimeoutMs);
    if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {
        CloseHandle(mutex);
        return nullptr;
    }
    return std::make_unique<MutexLock>(mutex);
#else
    std::filesystem::path lockPath = m_path;
    lockPath += ".lock";
    const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return nullptr;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kLockTimeoutMs);
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::close(fd);
            return nullptr;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return std::make_unique<FlockLock>(fd);
#endif
}

LoadResult AccountFile::Load(std::vector<AccountRecord>& records) {
    records.clear();
    std::error_code ec;
    const bool exists = std::filesystem::exists(m_path, ec);
    if (ec) return LoadResult::Unreadable;
    if (!exists) return LoadResult::Missing;
    std::string text;
    if (!shared::ReadWholeFile(m_path, text)) return LoadResult::Unreadable;
    auto parsed = AccountStoreCodec::Parse(text);
    if (!parsed) return LoadResult::Damaged;
    records = std::move(*parsed);
    return LoadResult::Ok;
}

bool AccountFile::Save(const std::vector<AccountRecord>& records) {
    return shared::AtomicWriteFile(m_path, AccountStoreCodec::Serialize(records));
}

bool AccountFile::Exists() {
    std::error_code ec;
    return std::filesystem::exists(m_path, ec) || ec;  // unsure counts as present: never write over it
}

}  // namespace account
