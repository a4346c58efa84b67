// plan_settings.dll through its import library, with the data folder pointed at a fresh folder.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "settings_api.h"

namespace {

std::wstring FreshDataFolder(const wchar_t* name) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring folder = std::wstring(temp) + name;
    DeleteFileW((folder + L"\\settings.ini").c_str());
    DeleteFileW((folder + L"\\settings.ini.tmp").c_str());
    RemoveDirectoryW(folder.c_str());
    SetEnvironmentVariableW(L"PLAN_DESK_HOME", folder.c_str());
    return folder;
}

std::string ReadBytes(const std::wstring& path) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return "<missing>";
    std::string out(4096, '\0');
    DWORD got = 0;
    ReadFile(h, out.data(), DWORD(out.size()), &got, nullptr);
    CloseHandle(h);
    out.resize(got);
    return out;
}

TEST(SettingsDll, ValuesSurviveAStopAndAStart) {
    const std::wstring folder = FreshDataFolder(L"settings_dll_survive");
    ASSERT_EQ(settings_start(), SETTINGS_OK);
    EXPECT_EQ(get_sys_cfg_int("task_list_cfg", "loglst_1"), 0);
    EXPECT_EQ(modify_sys_cfg_int("task_list_cfg", "loglst_1", 140), SETTINGS_OK);
    EXPECT_EQ(modify_sys_cfg_int("task_list_cfg", "loglst_2", 610), SETTINGS_OK);
    EXPECT_EQ(modify_sys_cfg_int("窗口", "宽度", -1), SETTINGS_OK);
    EXPECT_EQ(settings_stop(), SETTINGS_OK);

    EXPECT_EQ(ReadBytes(folder + L"\\settings.ini"),
              "[task_list_cfg]\r\nloglst_1=140\r\nloglst_2=610\r\n\r\n[\xB4\xB0\xBF\xDA]\r\n\xBF\xED\xB6\xC8="
              "-1\r\n");

    ASSERT_EQ(settings_start(), SETTINGS_OK);
    EXPECT_EQ(get_sys_cfg_int("task_list_cfg", "loglst_1"), 140);
    EXPECT_EQ(get_sys_cfg_int("TASK_LIST_CFG", "LOGLST_2"), 610);
    EXPECT_EQ(get_sys_cfg_int("窗口", "宽度"), -1);
    EXPECT_EQ(get_sys_cfg_int("task_list_cfg", "clearlst_3"), 0);
    EXPECT_EQ(settings_stop(), SETTINGS_OK);
}

TEST(SettingsDll, AnswersWithoutAStartAndRefusesNullNames) {
    FreshDataFolder(L"settings_dll_nostart");
    EXPECT_EQ(get_sys_cfg_int("s", "k"), 0);
    EXPECT_EQ(modify_sys_cfg_int("s", "k", 3), SETTINGS_OK);
    EXPECT_EQ(get_sys_cfg_int("s", "k"), 3);
    EXPECT_EQ(get_sys_cfg_int(nullptr, "k"), 0);
    EXPECT_EQ(get_sys_cfg_int("s", nullptr), 0);
    EXPECT_EQ(modify_sys_cfg_int(nullptr, "k", 1), SETTINGS_E_NULL_ARGUMENT);
    EXPECT_EQ(modify_sys_cfg_int("s", nullptr, 1), SETTINGS_E_NULL_ARGUMENT);
    EXPECT_EQ(modify_sys_cfg_int("s", "a=b", 1), SETTINGS_E_BAD_NAME);
    settings_stop();
}

TEST(SettingsDll, LeavesAFileItCannotReadUntouched) {
    const std::wstring folder = FreshDataFolder(L"settings_dll_locked");
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring path = folder + L"\\settings.ini";
    const char before[] = "[task_list_cfg]\r\nloglst_1=77\r\n";
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD done = 0;
    WriteFile(h, before, DWORD(sizeof before - 1), &done, nullptr);
    // Still open without sharing: nobody else can read or replace it.
    EXPECT_EQ(settings_start(), SETTINGS_E_UNREADABLE);
    EXPECT_EQ(modify_sys_cfg_int("task_list_cfg", "loglst_1", 5), SETTINGS_E_UNREADABLE);
    CloseHandle(h);
    EXPECT_EQ(ReadBytes(path), before);
    // Once readable again, the library picks the values up.
    EXPECT_EQ(get_sys_cfg_int("task_list_cfg", "loglst_1"), 77);
    settings_stop();
}

TEST(SettingsDll, ExportsStartAndStopByOrdinalOnly) {
    HMODULE dll = GetModuleHandleW(L"plan_settings.dll");
    ASSERT_NE(dll, nullptr);
    EXPECT_EQ(GetProcAddress(dll, "settings_start"), nullptr);
    EXPECT_EQ(GetProcAddress(dll, "settings_stop"), nullptr);
    EXPECT_NE(GetProcAddress(dll, MAKEINTRESOURCEA(1)), nullptr);
    EXPECT_NE(GetProcAddress(dll, MAKEINTRESOURCEA(2)), nullptr);
    EXPECT_EQ(GetProcAddress(dll, "get_sys_cfg_int"), GetProcAddress(dll, MAKEINTRESOURCEA(3)));
    EXPECT_EQ(GetProcAddress(dll, "modify_sys_cfg_int"), GetProcAddress(dll, MAKEINTRESOURCEA(4)));
}

}  // namespace
