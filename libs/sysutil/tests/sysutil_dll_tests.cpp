// plan_sysutil.dll through its import library, as the app calls it. Labelled "locale": it must
// give the same answers under a Chinese and a non-Chinese system code page.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "sysutil_api.h"

namespace {

std::wstring TempFolder(const wchar_t* name) {
    wchar_t buf[MAX_PATH];
    GetTempPathW(MAX_PATH, buf);
    std::wstring path = std::wstring(buf) + name;
    return path;
}

std::string Gbk(const std::wstring& wide) {
    int n = WideCharToMultiByte(936, 0, wide.c_str(), int(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size_t(n), '\0');
    WideCharToMultiByte(936, 0, wide.c_str(), int(wide.size()), out.data(), n, nullptr, nullptr);
    return out;
}

class SysutilDll : public ::testing::Test {
  protected:
    void SetUp() override {
        m_root = TempFolder(L"sysutil_dll_tests");
        m_chinese = m_root + L"\\备份目录";
        m_file = m_root + L"\\plain.txt";
        CreateDirectoryW(m_root.c_str(), nullptr);
        CreateDirectoryW(m_chinese.c_str(), nullptr);
        HANDLE h = CreateFileW(m_file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        CloseHandle(h);
    }
    void TearDown() override {
        DeleteFileW(m_file.c_str());
        RemoveDirectoryW(m_chinese.c_str());
        RemoveDirectoryW(m_root.c_str());
    }

    std::wstring m_root, m_chinese, m_file;
};

TEST_F(SysutilDll, ReportsTheDirectoryBitWhateverTheCodePage) {
    // The GBK bytes of the Chinese name, built independently of the library's conversion.
    const std::string chinese = Gbk(m_root) + "\\备份目录";
    ASSERT_EQ(chinese.substr(chinese.size() - 8), "\xB1\xB8\xB7\xDD\xC4\xBF\xC2\xBC");

    EXPECT_EQ(sys_GetFileAttribute(Gbk(m_root).c_str()) & 0x10, 0x10);
    EXPECT_EQ(sys_GetFileAttribute(chinese.c_str()) & 0x10, 0x10);
    EXPECT_EQ(sys_GetFileAttribute((chinese + "\\").c_str()) & 0x10, 0x10);
    const int file = sys_GetFileAttribute(Gbk(m_file).c_str());
    EXPECT_NE(file, SYS_NO_ATTRIBUTES);
    EXPECT_EQ(file & 0x10, 0);
    EXPECT_EQ(file, int(GetFileAttributesW(m_file.c_str())));
}

TEST_F(SysutilDll, AnswersNoAttributesForWhatCannotBeAsked) {
    const std::string missing = Gbk(m_root) + "\\缺少";
    EXPECT_EQ(sys_GetFileAttribute(missing.c_str()), SYS_NO_ATTRIBUTES);
    EXPECT_EQ(sys_GetFileAttribute((Gbk(m_root) + "\\none\\deeper").c_str()), SYS_NO_ATTRIBUTES);
    EXPECT_EQ(sys_GetFileAttribute(""), SYS_NO_ATTRIBUTES);
    EXPECT_EQ(sys_GetFileAttribute(nullptr), SYS_NO_ATTRIBUTES);
    EXPECT_EQ(sys_GetFileAttribute((Gbk(m_root) + "\\\x81").c_str()), SYS_NO_ATTRIBUTES);
}

TEST(SysutilDllStrtok, SplitsAtTheFirstDelimiterOnly) {
    char text[] = "0800,1800,x";
    char* rest = nullptr;
    EXPECT_STREQ(sys_strtok(text, ",", &rest), "0800");
    EXPECT_STREQ(rest, "1800,x");

    char gbk[] = "\x81\x7C|b";
    rest = nullptr;
    EXPECT_STREQ(sys_strtok(gbk, "|", &rest), "\x81\x7C");
    EXPECT_STREQ(rest, "b");

    char empty[] = "";
    rest = empty;
    EXPECT_EQ(sys_strtok(empty, ",", &rest), nullptr);
    EXPECT_EQ(rest, nullptr);
}

}  // namespace
