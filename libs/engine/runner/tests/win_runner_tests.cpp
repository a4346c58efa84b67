// What only Windows has: junctions and directory symbolic links in a watched folder, files locked
// by another program, and paths beyond 260 characters. Runs under Wine in CI.
#include "engine_api.h"
#include "runner_options.h"
#include "runner_test_support.h"
#include "shared_files.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <set>

namespace kivo {
namespace {

using test::RecordingContext;

std::wstring Long(const std::wstring& path) {
    return L"\\\\?\\" + path;
}

std::string GbkOf(const std::wstring& path) {
    auto gbk = shared::GbkFromPath(std::filesystem::path(path));
    return gbk ? *gbk : std::string();
}

bool Exists(const std::wstring& path) {
    return GetFileAttributesW(Long(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}
bool IsReparsePoint(const std::wstring& path) {
    DWORD a = GetFileAttributesW(Long(path).c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT);
}

void Write(const std::wstring& path, std::string_view content) {
    HANDLE h = CreateFileW(Long(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << GetLastError();
    DWORD done = 0;
    WriteFile(h, content.data(), DWORD(content.size()), &done, nullptr);
    CloseHandle(h);
}

std::string Read(const std::wstring& path) {
    HANDLE h =
        CreateFileW(Long(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return "<missing>";
    std::string out(1 << 16, '\0');
    DWORD done = 0;
    ReadFile(h, out.data(), DWORD(out.size()), &done, nullptr);
    CloseHandle(h);
    out.resize(done);
    return out;
}

void MakeDir(const std::wstring& path) {
    CreateDirectoryW(Long(path).c_str(), nullptr);
}

// Wine's own export: the POSIX path of a Windows path; empty on Windows.
std::string UnixPath(const std::wstring& path) {
    using Fn = char*(CDECL*)(LPCWSTR);
    auto fn = reinterpret_cast<Fn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
    if (!fn) return {};
    char* p = fn(path.c_str());
    if (!p) return {};
    std::string out = p;
    HeapFree(GetProcessHeap(), 0, p);
    return out;
}

// Runs a POSIX program from the Wine process (Wine starts POSIX executables directly).
bool RunPosix(const std::wstring& program, const std::vector<std::string>& args) {
    std::wstring line = program;
    for (const std::string& a : args) line += L" \"" + std::wstring(a.begin(), a.end()) + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW((L"Z:" + program).c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &si, &pi)) {
        return false;
    }
    WaitForSingleObject(pi.hProcess, 10000);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return true;
}

// A scratch folder under %TEMP%, removed afterwards without following links.
class WinScratch {
  public:
    WinScratch() {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        m_path = std::wstring(temp) + L"kivo-win-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                 std::to_wstring(GetTickCount64());
        MakeDir(m_path);
    }
    ~WinScratch() {
        if (std::string unix = UnixPath(m_path); !unix.empty()) {
            RunPosix(L"/bin/rm", {"-rf", unix});
        } else {
            RemoveTree(m_path);
        }
    }
    const std::wstring& Path() const { return m_path; }
    std::wstring operator/(const std::wstring& relative) const { return m_path + L"\\" + relative; }

  private:
    static void RemoveTree(const std::wstring& path) {
        DWORD a = GetFileAttributesW(Long(path).c_str());
        if (a == INVALID_FILE_ATTRIBUTES) return;
        if ((a & FILE_ATTRIBUTE_DIRECTORY) && !(a & FILE_ATTRIBUTE_REPARSE_POINT)) {
            WIN32_FIND_DATAW fd;
            HANDLE h = FindFirstFileW(Long(path + L"\\*").c_str(), &fd);
            if (h != INVALID_HANDLE_VALUE) {
                do {
                    std::wstring name = fd.cFileName;
                    if (name != L"." && name != L"..") RemoveTree(path + L"\\" + name);
                } while (FindNextFileW(h, &fd));
                FindClose(h);
            }
        }
        if (a & FILE_ATTRIBUTE_DIRECTORY) {
            RemoveDirectoryW(Long(path).c_str());
        } else {
            SetFileAttributesW(Long(path).c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(Long(path).c_str());
        }
    }
    std::wstring m_path;
};

// Every file below root with its content ("<link>" for a reparse point), read through Win32.
std::map<std::wstring, std::string> Tree(const std::wstring& root, const std::wstring& prefix = L"") {
    std::map<std::wstring, std::string> out;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW(Long(root + L"\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return out;
    do {
        std::wstring name = fd.cFileName;
        if (name == L"." || name == L"..") continue;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            out[prefix + name] = "<link>";
        } else if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            out[prefix + name + L"\\"] = "";
            out.merge(Tree(root + L"\\" + name, prefix + name + L"\\"));
        } else {
            out[prefix + name] = Read(root + L"\\" + name);
        }
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    return out;
}

// A junction or a directory symbolic link; how it was made, or "" when it could not be.
enum class LinkKind { Junction, DirectorySymlink };
std::string MakeDirectoryLink(LinkKind kind, const std::wstring& link, const std::wstring& target) {
    if (kind == LinkKind::Junction) {
        MakeDir(link);
        HANDLE h = CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        const std::wstring substitute = L"\\??\\" + target, print = target;
        std::vector<char> buffer(4096);
        auto* p = reinterpret_cast<unsigned char*>(buffer.data());
        const WORD subBytes = WORD(substitute.size() * 2), printBytes = WORD(print.size() * 2);
        const DWORD dataBytes = 8 + subBytes + 2 + printBytes + 2;
        *reinterpret_cast<DWORD*>(p) = IO_REPARSE_TAG_MOUNT_POINT;
        *reinterpret_cast<WORD*>(p + 4) = WORD(dataBytes);
        *reinterpret_cast<WORD*>(p + 8) = 0;
        *reinterpret_cast<WORD*>(p + 10) = subBytes;
        *reinterpret_cast<WORD*>(p + 12) = WORD(subBytes + 2);
        *reinterpret_cast<WORD*>(p + 14) = printBytes;
        memcpy(p + 16, substitute.c_str(), subBytes);
        memcpy(p + 16 + subBytes + 2, print.c_str(), printBytes);
        DWORD done = 0;
        const bool made =
            h != INVALID_HANDLE_VALUE &&
            DeviceIoControl(h, FSCTL_SET_REPARSE_POINT, p, 8 + dataBytes, nullptr, 0, &done, nullptr);
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
        if (made && IsReparsePoint(link)) return "junction";
        RemoveDirectoryW(link.c_str());
    } else if (CreateSymbolicLinkW(link.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY | 0x2) &&
               IsReparsePoint(link)) {
        return "directory symbolic link";
    }
    // Wine 8 makes neither; its links are POSIX symbolic links, which it reports as reparse points.
    const std::string unixTarget = UnixPath(target), unixLink = UnixPath(link);
    if (unixTarget.empty() || !RunPosix(L"/bin/ln", {"-s", unixTarget, unixLink})) return {};
    // Wine does not wait for a POSIX child; wait for the link to appear instead.
    for (int i = 0; i < 500 && !IsReparsePoint(link); ++i) Sleep(10);
    return IsReparsePoint(link) ? "POSIX symbolic link" : "";
}

ClearRule CleanRule(const std::wstring& folder) {
    ClearRule rule{};
    rule.rule_id = 3;
    rule.enabled = 1;
    WriteField(rule.description, "clean");
    WriteField(rule.path, GbkOf(folder));
    return rule;
}

BackupRule BackupSetRule(const std::wstring& source, const std::wstring& backup) {
    BackupRule rule{};
    rule.rule_id = 4;
    rule.enabled = 1;
    WriteField(rule.description, "backup");
    WriteField(rule.source_path, GbkOf(source));
    WriteField(rule.backup_path, GbkOf(backup));
    return rule;
}

TEST(WinClean, JunctionAndDirectoryLinkToACanarySurviveADeleteEverythingRule) {
    WinScratch scratch;
    const std::wstring watched = scratch / L"watched", canary = scratch / L"canary";
    MakeDir(watched);
    MakeDir(watched + L"\\sub");
    MakeDir(canary);
    MakeDir(canary + L"\\inner");
    Write(canary + L"\\precious.txt", "keep me");
    Write(canary + L"\\inner\\also.txt", "me too");
    Write(watched + L"\\junk.txt", "junk");
    Write(watched + L"\\sub\\junk2.txt", "junk");
    const std::string junction = MakeDirectoryLink(LinkKind::Junction, watched + L"\\jn", canary);
    const std::string symlink = MakeDirectoryLink(LinkKind::DirectorySymlink, watched + L"\\sub\\sl", canary);
    ASSERT_FALSE(junction.empty());
    ASSERT_FALSE(symlink.empty());
    std::cout << "[ links    ] junction as " << junction << ", directory link as " << symlink << "\n";
    const auto before = Tree(canary);
    ASSERT_EQ(before.size(), 3u);

    RecordingContext context;
    RunReport report = MakeFileTaskRunner()->RunClear(CleanRule(watched), context);
    EXPECT_EQ(report.outcome, RunOutcome::Succeeded);
    EXPECT_EQ(report.summary, "检查文件 2 个，删除 2 个，释放 8 字节");
    EXPECT_EQ(Tree(canary), before);
    EXPECT_TRUE(IsReparsePoint(watched + L"\\jn"));
    EXPECT_TRUE(IsReparsePoint(watched + L"\\sub\\sl"));
    EXPECT_FALSE(Exists(watched + L"\\junk.txt"));
    EXPECT_EQ(context.lines, (std::vector<std::string>{"跳过链接：" + GbkOf(watched) + "\\jn",
                                                       "跳过链接：" + GbkOf(watched) + "\\sub\\sl"}));

    // Aimed at the link itself, the rule refuses to run.
    RecordingContext direct;
    RunReport refused = MakeFileTaskRunner()->RunClear(CleanRule(watched + L"\\jn"), direct);
    EXPECT_EQ(refused.outcome, RunOutcome::Failed);
    EXPECT_EQ(Tree(canary), before);

    // A backup does not follow them either.
    const BackupRule backup = BackupSetRule(watched, scratch / L"bk");
    Write(watched + L"\\kept.txt", "k");
    RecordingContext copying;
    EXPECT_EQ(MakeFileTaskRunner()->RunBackup(backup, copying).outcome, RunOutcome::Succeeded);
    EXPECT_EQ(copying.Matching("跳过链接").size(), 2u);
}

TEST(WinClean, TheHistoryNamesFilesAsTheyAreOnDiskAndTheScreenAsGbkCan) {
    WinScratch scratch;
    const std::wstring watched = scratch / L"watched";
    MakeDir(watched);
    // Hangul and an emoji (a surrogate pair) have no GBK character; é has one.
    const std::wstring deleted = L"\uD55C\uAE00\U0001F600.log", locked = L"\uC7A0\uAE40\u00E9.txt";
    Write(watched + L"\\" + deleted, "d");
    Write(watched + L"\\" + locked, "l");
    HANDLE lock = CreateFileW(Long(watched + L"\\" + locked).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    RecordingContext context;
    MakeFileTaskRunner()->RunClear(CleanRule(watched), context);
    CloseHandle(lock);

    const std::string folder = *shared::Utf8FromWide(watched);
    auto starting = [](const std::vector<std::string>& lines, const std::string& head) {
        return std::count_if(lines.begin(), lines.end(),
                             [&](const std::string& l) { return l.starts_with(head); });
    };
    EXPECT_EQ(context.history.size(), 2u);
    EXPECT_EQ(
        starting(context.history, test::U8(u8"已删除：") + folder + test::U8(u8"\\한글😀.log，1 字节，")), 1);
    EXPECT_EQ(
        starting(context.history, test::U8(u8"删除失败：") + folder + test::U8(u8"\\잠김é.txt，1 字节，")),
        1);
    EXPECT_EQ(context.lines.size(), 1u);
    EXPECT_EQ(starting(context.lines, "删除失败：" + GbkOf(watched) + "\\??" +
                                          *shared::GbkFromUtf8(test::U8(u8"é")) + ".txt，1 字节，"),
              1);
}

TEST(WinClean, ALockedFileIsAFailureLineAndTheRunSaysPartial) {
    WinScratch scratch;
    const std::wstring watched = scratch / L"watched";
    MakeDir(watched);
    Write(watched + L"\\a.txt", "a");
    Write(watched + L"\\locked.txt", "locked");
    Write(watched + L"\\z.txt", "z");
    HANDLE lock = CreateFileW(Long(watched + L"\\locked.txt").c_str(), GENERIC_READ, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);

    RecordingContext context;
    RunReport report = MakeFileTaskRunner()->RunClear(CleanRule(watched), context);
    EXPECT_EQ(report.outcome, RunOutcome::PartiallyFailed);
    EXPECT_EQ(report.summary, "检查文件 3 个，删除 2 个，释放 2 字节，失败 1 个");
    // The line's size and last-write time are proven by the native tests.
    ASSERT_EQ(context.lines.size(), 1u);
    EXPECT_EQ(context.lines[0].rfind("删除失败：" + GbkOf(watched) + "\\locked.txt，6 字节，修改时间 ", 0),
              0u)
        << context.lines[0];
    EXPECT_TRUE(context.lines[0].ends_with("：文件被其他程序占用")) << context.lines[0];
    EXPECT_TRUE(Exists(watched + L"\\locked.txt"));

    // The same file in a backup set and in a manual backup.
    const BackupRule backup = BackupSetRule(watched, scratch / L"bk");
    Write(watched + L"\\b.txt", "b");
    RecordingContext copying;
    RunReport copied = MakeFileTaskRunner()->RunBackup(backup, copying);
    EXPECT_EQ(copied.outcome, RunOutcome::PartiallyFailed);
    EXPECT_EQ(copying.lines.front(), "备份失败：" + GbkOf(watched) + "\\locked.txt：文件被其他程序占用");
    EXPECT_NE(copied.summary.find("-incomplete，复制文件 1 个，共 1 字节，链接文件 0 个，失败 1 个"),
              std::string::npos)
        << copied.summary;

    RecordingContext packing;
    EXPECT_EQ(MakeFileTaskRunner()->Backup(GbkOf(watched), GbkOf(scratch / L"out.bkp"), packing),
              KIVO_E_READ_FAILED);
    EXPECT_FALSE(Exists(scratch / L"out.bkp"));
    CloseHandle(lock);
}

DWORD LinkCount(const std::wstring& path) {
    HANDLE h = CreateFileW(Long(path).c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    BY_HANDLE_FILE_INFORMATION info{};
    const bool got = h != INVALID_HANDLE_VALUE && GetFileInformationByHandle(h, &info);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    return got ? info.nNumberOfLinks : 0;
}

TEST(WinBackupSet, AnUnchangedFileIsLinkedAndARewriteWithItsOldTimeIsCopied) {
    WinScratch scratch;
    const std::wstring source = scratch / L"源";
    MakeDir(source);
    Write(source + L"\\same.txt", "unchanged");
    Write(source + L"\\rewritten.txt", "original");
    const BackupRule rule = BackupSetRule(source, scratch / L"备份");
    RecordingContext context;
    context.now = 1700000000;
    RunnerOptions options = test::UtcOptions();
    ASSERT_EQ(MakeFileTaskRunner(options)->RunBackup(rule, context).outcome, RunOutcome::Succeeded);

    // Same size, same last-write time to the tick: only the change time shows the rewrite.
    HANDLE h = CreateFileW(Long(source + L"\\rewritten.txt").c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    FILETIME written;
    ASSERT_TRUE(GetFileTime(h, nullptr, nullptr, &written));
    Sleep(20);
    DWORD done = 0;
    ASSERT_TRUE(WriteFile(h, "REWRITE!", 8, &done, nullptr));
    ASSERT_TRUE(SetFileTime(h, nullptr, nullptr, &written));
    CloseHandle(h);

    context.now += 60;
    RunReport second = MakeFileTaskRunner(options)->RunBackup(rule, context);
    const std::wstring first = scratch / L"备份\\kivo-4-20231114-221320\\源",
                       next = scratch / L"备份\\kivo-4-20231114-221420\\源";
    EXPECT_EQ(second.summary, "备份到 " + GbkOf(scratch / L"备份") +
                                  "\\kivo-4-20231114-221420，复制文件 1 个，共 8 字节，链接文件 1 个");
    EXPECT_EQ(LinkCount(next + L"\\same.txt"), 2u);
    EXPECT_EQ(LinkCount(next + L"\\rewritten.txt"), 1u);
    EXPECT_EQ(Read(next + L"\\rewritten.txt"), "REWRITE!");
    EXPECT_EQ(Read(first + L"\\rewritten.txt"), "original");
    EXPECT_TRUE(context.lines.empty()) << context.lines.front();
}

TEST(WinPaths, PathsOf300CharactersAndChineseNamesWork) {
    WinScratch scratch;
    const std::wstring source = scratch / L"源";
    MakeDir(source);
    std::wstring deep = source;
    for (int i = 0; deep.size() < 320; ++i) {
        deep += L"\\" + std::wstring(60, wchar_t(L'a' + i)) + L"目录";
        MakeDir(deep);
    }
    const std::wstring file = deep + L"\\深层文件.txt";
    ASSERT_GT(file.size(), 300u);
    Write(file, "deep content");
    Write(source + L"\\top.txt", "top");

    // A backup set, then a manual backup and restore of the same tree.
    const BackupRule backup = BackupSetRule(source, scratch / L"备份");
    RecordingContext copying;
    RunReport copied = MakeFileTaskRunner()->RunBackup(backup, copying);
    ASSERT_EQ(copied.outcome, RunOutcome::Succeeded) << copied.summary;
    WIN32_FIND_DATAW fd;
    HANDLE found = FindFirstFileW(Long(scratch / L"备份\\kivo-4-*").c_str(), &fd);
    ASSERT_NE(found, INVALID_HANDLE_VALUE);
    FindClose(found);
    const std::wstring set = scratch / (L"备份\\" + std::wstring(fd.cFileName));
    EXPECT_EQ(Tree(set + L"\\源"), Tree(source));
    EXPECT_EQ(Read(set + L"\\源" + file.substr(source.size())), "deep content");

    RecordingContext packing;
    ASSERT_EQ(MakeFileTaskRunner()->Backup(GbkOf(source), GbkOf(scratch / L"深.bkp"), packing), KIVO_OK)
        << packing.lines.back();
    RecordingContext restoring;
    ASSERT_EQ(MakeFileTaskRunner()->Restore(GbkOf(scratch / L"深.bkp"), GbkOf(scratch / L"还原"), restoring),
              KIVO_OK)
        << restoring.lines.back();
    EXPECT_EQ(Tree(scratch / L"还原"), Tree(source));

    // And a clean rule reaches the deep file.
    ClearRule rule = CleanRule(source);
    WriteField(rule.name_filter, "深层");
    RecordingContext cleaning;
    RunReport cleaned = MakeFileTaskRunner()->RunClear(rule, cleaning);
    EXPECT_EQ(cleaned.summary, "检查文件 2 个，删除 1 个，释放 12 字节");
    EXPECT_FALSE(Exists(file));
    EXPECT_TRUE(Exists(source + L"\\top.txt"));
}

}  // namespace
}  // namespace kivo
