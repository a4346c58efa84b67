#include "platform.h"

#include <windows.h>
#include <bcrypt.h>

#include <algorithm>

namespace kivo::platform {
namespace {

class SharingDeniedLock final : public FolderLock {
  public:
    explicit SharingDeniedLock(HANDLE h) : m_handle(h) {}
    ~SharingDeniedLock() override { CloseHandle(m_handle); }

  private:
    HANDLE m_handle;
};

WindowsZoneFields::Date DateFrom(const SYSTEMTIME& t) {
    return {t.wYear, t.wMonth, t.wDayOfWeek, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}

bool IsAsciiLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool IsSlash(char c) {
    return c == '\\' || c == '/';
}

IoStatus FromError(DWORD e) {
    switch (e) {
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return {IoFault::DiskFull, long(e)};
        case ERROR_ACCESS_DENIED:
        case ERROR_WRITE_PROTECT:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return {IoFault::AccessDenied, long(e)};
        case ERROR_DIRECTORY:
            return {IoFault::NotAFolder, long(e)};
        default:
            return {IoFault::Other, long(e)};
    }
}

class WinAppendFile final : public AppendFile {
  public:
    explicit WinAppendFile(HANDLE h) : m_handle(h) {}
    ~WinAppendFile() override { CloseHandle(m_handle); }

    IoStatus Append(std::string_view data, size_t& written) override {
        written = 0;
        while (written < data.size()) {
            const DWORD chunk = DWORD(std::min<size_t>(data.size() - written, 1u << 30));
            DWORD done = 0;
            if (!WriteFile(m_handle, data.data() + written, chunk, &done, nullptr))
                return FromError(GetLastError());
            if (done == 0) return {IoFault::Other, 0};
            written += done;
        }
        return {};
    }
    IoStatus Sync() override { return FlushFileBuffers(m_handle) ? IoStatus{} : FromError(GetLastError()); }
    // The handle shares deletion, so a delete only marks the file; it goes when the handle closes.
    bool Removed() const override {
        FILE_STANDARD_INFO info{};
        return GetFileInformationByHandleEx(m_handle, FileStandardInfo, &info, sizeof info) &&
               (info.DeletePending || info.NumberOfLinks == 0);
    }

  private:
    HANDLE m_handle;
};

}  // namespace

std::unique_ptr<FolderLock> TryLockFolder(const std::filesystem::path& folder, bool& heldElsewhere) {
    const std::wstring file = (folder / L"kivo.lock").wstring();
    // No sharing at all: a second engine's open fails with a sharing violation while this one lives.
    HANDLE h = CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    heldElsewhere = h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION;
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<SharingDeniedLock>(h);
}

TimeZone CurrentTimeZone() {
    DYNAMIC_TIME_ZONE_INFORMATION dynamic{};
    if (GetDynamicTimeZoneInformation(&dynamic) == TIME_ZONE_ID_INVALID) return TimeZone();
    TIME_ZONE_INFORMATION tzi{};
    SYSTEMTIME now{};
    GetSystemTime(&now);
    // This year's rules, for zones whose rules changed over the years.
    if (!GetTimeZoneInformationForYear(now.wYear, &dynamic, &tzi)) {
        tzi.Bias = dynamic.Bias;
        tzi.StandardBias = dynamic.StandardBias;
        tzi.DaylightBias = dynamic.DaylightBias;
        tzi.StandardDate = dynamic.StandardDate;
        tzi.DaylightDate = dynamic.DaylightDate;
    }
    WindowsZoneFields fields;
    fields.bias = tzi.Bias;
    fields.standardBias = tzi.StandardBias;
    fields.daylightBias = tzi.DaylightBias;
    fields.standardDate = DateFrom(tzi.StandardDate);
    fields.daylightDate = DateFrom(tzi.DaylightDate);
    if (dynamic.DynamicDaylightTimeDisabled) fields.standardDate.month = 0;  // "adjust for DST" is off
    return TimeZone::FromWindows(fields);
}

bool IsAbsolutePathText(std::string_view p) {
    if (p.size() >= 3 && IsAsciiLetter(p[0]) && p[1] == ':' && IsSlash(p[2])) return true;
    return p.size() >= 3 && IsSlash(p[0]) && IsSlash(p[1]);  // UNC and \\?\ paths
}

IoStatus MakeFolder(const std::filesystem::path& folder) {
    if (CreateDirectoryW(folder.c_str(), nullptr)) return {};
    const DWORD e = GetLastError();
    if (e != ERROR_ALREADY_EXISTS) return FromError(e);
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return FromError(GetLastError());
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? IoStatus{}
                                                   : IoStatus{IoFault::NotAFolder, ERROR_DIRECTORY};
}

std::unique_ptr<AppendFile> OpenAppendFile(const std::filesystem::path& file, AppendTail& tail,
                                           IoStatus& status) {
    // Append data without write data: the system puts every write at the end of the file.
    HANDLE h =
        CreateFileW(file.c_str(), FILE_APPEND_DATA | FILE_READ_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        status = FromError(GetLastError());
        return nullptr;
    }
    LARGE_INTEGER size{};
    char last = '\n';
    DWORD e = GetFileSizeEx(h, &size) ? 0 : GetLastError();
    if (e == 0 && size.QuadPart > 0) {
        OVERLAPPED at{};
        const uint64_t offset = uint64_t(size.QuadPart) - 1;
        at.Offset = DWORD(offset);
        at.OffsetHigh = DWORD(offset >> 32);
        DWORD got = 0;
        if (!ReadFile(h, &last, 1, &got, &at)) {
            e = GetLastError();
        } else if (got != 1) {
            e = ERROR_READ_FAULT;
        }
    }
    if (e != 0) {
        status = FromError(e);
        CloseHandle(h);
        return nullptr;
    }
    tail = {size.QuadPart == 0, last == '\n'};
    status = {};
    return std::make_unique<WinAppendFile>(h);
}

std::vector<std::string> PlainFileNames(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW found{};
    HANDLE find = FindFirstFileW((folder / L"*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) continue;
        std::string name;
        for (const wchar_t* c = found.cFileName; *c; ++c) {
            if (*c >= 0x80) {
                name.clear();
                break;
            }
            name += char(*c);
        }
        if (!name.empty()) names.push_back(std::move(name));
    } while (FindNextFileW(find, &found));
    FindClose(find);
    return names;
}

bool RemoveFileName(const std::filesystem::path& file) {
    return DeleteFileW(file.c_str()) != 0;
}

bool RandomBytes(void* out, size_t n) {
    return BCRYPT_SUCCESS(
        BCryptGenRandom(nullptr, static_cast<PUCHAR>(out), ULONG(n), BCRYPT_USE_SYSTEM_PREFERRED_RNG));
}

}  // namespace kivo::platform
