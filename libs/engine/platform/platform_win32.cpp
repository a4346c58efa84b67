#include "platform.h"

#include <windows.h>

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

}  // namespace kivo::platform
