#include "LogonStart.h"

#include <windows.h>

#include <vector>

#include "Text.h"
#include "start_options.h"

// The key under HKEY_CURRENT_USER. Outside the anonymous namespace only so that tests can point it
// at a key of their own (tests/support/TestSeams.h): Wine runs the real one's values at start.
const wchar_t* g_logonStartKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

namespace {

constexpr const wchar_t* kValueName = L"plan_desk";

// "<what> HKCU\<key>[\plan_desk]：<the system's words>（错误代码 N）"
std::string Failure(const char* what, bool ofValue, LONG code) {
    std::wstring reason;
    wchar_t* text = nullptr;
    if (::FormatMessageW(
            FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
            nullptr, DWORD(code), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr)) {
        reason = text;
        ::LocalFree(text);
    }
    while (!reason.empty() && (reason.back() == L'\r' || reason.back() == L'\n' || reason.back() == L' '))
        reason.pop_back();
    std::wstring where = L"HKCU\\" + std::wstring(g_logonStartKey);
    if (ofValue) where += L"\\" + std::wstring(kValueName);
    return std::string(what) + " " + fw::GbkFromWide(where) + "：" + fw::GbkFromWide(reason) + "（错误代码 " +
           std::to_string(code) + "）";
}

}  // namespace

std::wstring ThisProgramPath() {
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), DWORD(path.size()));
        if (n == 0) return {};
        if (n < path.size()) return std::wstring(path.data(), n);
        path.resize(path.size() * 2);
    }
}

bool LogonStartIsOn() {
    DWORD bytes = 0;
    if (::RegGetValueW(HKEY_CURRENT_USER, g_logonStartKey, kValueName, RRF_RT_REG_SZ, nullptr, nullptr,
                       &bytes) != ERROR_SUCCESS)
        return false;
    std::vector<wchar_t> value(bytes / sizeof(wchar_t) + 1, L'\0');
    bytes = DWORD(value.size() * sizeof(wchar_t));
    if (::RegGetValueW(HKEY_CURRENT_USER, g_logonStartKey, kValueName, RRF_RT_REG_SZ, nullptr, value.data(),
                       &bytes) != ERROR_SUCCESS)
        return false;
    return StartsInBackground(value.data(), ThisProgramPath());
}

std::optional<std::string> SetLogonStart(bool on) {
    HKEY key = nullptr;
    LONG rc = on ? ::RegCreateKeyExW(HKEY_CURRENT_USER, g_logonStartKey, 0, nullptr, 0, KEY_SET_VALUE,
                                     nullptr, &key, nullptr)
                 : ::RegOpenKeyExW(HKEY_CURRENT_USER, g_logonStartKey, 0, KEY_SET_VALUE, &key);
    if (!on && rc == ERROR_FILE_NOT_FOUND) return std::nullopt;  // no key, no value: off already
    if (rc != ERROR_SUCCESS) return Failure("无法打开注册表项", false, rc);
    if (on) {
        const std::wstring command = AutoStartCommand(ThisProgramPath());
        rc = ::RegSetValueExW(key, kValueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                              DWORD((command.size() + 1) * sizeof(wchar_t)));
    } else {
        rc = ::RegDeleteValueW(key, kValueName);
        if (rc == ERROR_FILE_NOT_FOUND) rc = ERROR_SUCCESS;
    }
    ::RegCloseKey(key);
    if (rc != ERROR_SUCCESS) return Failure(on ? "无法写入注册表值" : "无法删除注册表值", true, rc);
    return std::nullopt;
}
