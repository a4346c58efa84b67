// The manual backup and restore dialog of the real app: its checks, a backup of a real folder
// tree with Chinese names made through the real choosers, and its restore compared byte for byte.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "PlanDeskSession.h"
#include "UserInput.h"
#include "resource.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

const std::wstring kError = L"错误";
constexpr uint32_t kBigParts = 16;  // of 8 MiB each: about four seconds of work here

std::string Pseudorandom(size_t size, uint32_t seed) {
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        seed = seed * 1664525u + 1013904223u;
        c = char(seed >> 24);
    }
    return bytes;
}

std::string AllByteValues(int repeat) {
    std::string bytes;
    for (int r = 0; r < repeat; ++r)
        for (int b = 0; b < 256; ++b) bytes += char(b);
    return bytes;
}

// Names what differs between two trees: missing, extra and changed entries.
std::string Differences(const Tree& expected, const Tree& actual) {
    std::ostringstream out;
    for (const auto& [name, bytes] : expected) {
        auto found = actual.find(name);
        if (found == actual.end()) {
            out << "\n  missing: " << U8(name);
        } else if (found->second != bytes) {
            out << "\n  changed: " << U8(name) << " (" << found->second.size() << " bytes, expected "
                << bytes.size() << ")";
        }
    }
    for (const auto& [name, bytes] : actual) {
        if (!expected.count(name)) out << "\n  extra: " << U8(name);
    }
    return out.str();
}

// The dialog's caption changes while the engine works, so it is followed by its handle.
bool Closed(HWND dialog, DWORD timeoutMs = 20000) {
    return WaitUntil([dialog] { return !::IsWindow(dialog) || !::IsWindowVisible(dialog); }, timeoutMs);
}

HWND OpenManualDialog(PlanDeskSession& s, HWND main) {
    Click(main, IDC_MANUAL_RESTORE);
    return WaitForDialog(s.Pid(), kRestoreCaption);
}

TEST(ManualBackupAndRestore, ChecksItsPathsThenRoundTripsAChineseNestedTreeByteForByte) {
    PlanDeskSession s;
    HWND main = s.StartLoggedIn();
    ASSERT_NE(main, nullptr);
    ScratchFolder work(L"manual");
    const fs::path source = work.Path() / L"source", restored = work.Path() / L"restored",
                   archive = work.Path() / L"备份-一.bkp";
    const Tree tree{
        {L"说明.txt", "第一行\r\n第二行\r\n"},
        {L"English name.txt", "plain"},
        {L"数据/报表 2024.csv", Pseudorandom(200 * 1024, 7)},
        {L"数据/空文件.dat", ""},
        {L"数据/表（一）.txt", "全角括号"},
        {L"数据/深层/更深/最深.bin", AllByteValues(50)},
        {L"空目录/", ""},
    };
    WriteTree(source, tree);
    WriteTree(work.Path(), {{L"restored/", ""}});
    ASSERT_EQ(ReadTree(source), tree);

    // The dialog's button is off while the engine runs automatically.
    ASSERT_TRUE(s.RunButtonsShow(main, true));
    EXPECT_FALSE(IsEnabled(main, IDC_MANUAL_RESTORE));
    ASSERT_TRUE(s.StopAutomaticRunning(main));

    HWND dialog = OpenManualDialog(s, main);
    ASSERT_NE(dialog, nullptr);
    SaveScreenshot(dialog, ScreenshotFolder(), L"manual-dialog-acp" + std::to_wstring(::GetACP()) + L".png");
    // Both buttons check the file first, then the folder, with the same messages.
    for (int button : {IDC_RESTORE_BACKUP, IDOK})
        EXPECT_TRUE(s.SaveRefused(dialog, kError, L"请选择备份文件.", IDC_PICK_RESTORE_FILE, false, button));
    std::wstring filter;
    ASSERT_TRUE(s.PickFile(dialog, IDC_PICK_RESTORE_FILE, archive.wstring(), &filter));
    EXPECT_EQ(U8(filter), "BackFiles (*.bkp)");
    EXPECT_EQ(U8(TextOf(dialog, IDC_RESTORE_FILE)), U8(archive.wstring()));
    for (int button : {IDC_RESTORE_BACKUP, IDOK})
        EXPECT_TRUE(
            s.SaveRefused(dialog, kError, L"请选择还原路径.", IDC_PICK_RESTORE_FOLDER, false, button));
    ASSERT_TRUE(s.PickFolder(dialog, IDC_PICK_RESTORE_FOLDER, source.wstring()));
    EXPECT_EQ(U8(TextOf(dialog, IDC_RESTORE_FOLDER)), U8(source.wstring()));

    // Back up: the dialog closes silently, the file exists and the engine logged the run.
    Click(dialog, IDC_RESTORE_BACKUP);
    ASSERT_TRUE(Closed(dialog));
    EXPECT_TRUE(fs::is_regular_file(archive));
    EXPECT_TRUE(s.WaitForLogLine(main, L"开始手动备份：" + source.wstring() + L" 到 " + archive.wstring()));
    EXPECT_TRUE(s.WaitForLogLine(main, L"手动备份完成：" + archive.wstring() + L"，文件 6 个", true));

    // Restore into an empty folder: each use of the dialog starts with both paths empty.
    dialog = OpenManualDialog(s, main);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(TextOf(dialog, IDC_RESTORE_FILE), L"");
    EXPECT_EQ(TextOf(dialog, IDC_RESTORE_FOLDER), L"");
    ASSERT_TRUE(s.PickFile(dialog, IDC_PICK_RESTORE_FILE, archive.wstring()));
    ASSERT_TRUE(s.PickFolder(dialog, IDC_PICK_RESTORE_FOLDER, restored.wstring()));
    Click(dialog, IDOK);
    ASSERT_TRUE(Closed(dialog));
    EXPECT_TRUE(s.WaitForLogLine(main, L"开始还原：" + archive.wstring() + L" 到 " + restored.wstring()));
    EXPECT_TRUE(s.WaitForLogLine(main, L"还原完成：", true));
    const Tree back = ReadTree(restored);
    EXPECT_TRUE(back == tree) << Differences(tree, back);

    // A damaged backup file: the engine's code is shown and the dialog stays open.
    WriteTree(work.Path(), {{L"坏.bkp", "PK\x03\x04 this is no backup"}, {L"restored2/", ""}});
    dialog = OpenManualDialog(s, main);
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(s.PickFile(dialog, IDC_PICK_RESTORE_FILE, (work.Path() / L"坏.bkp").wstring()));
    ASSERT_TRUE(s.PickFolder(dialog, IDC_PICK_RESTORE_FOLDER, (work.Path() / L"restored2").wstring()));
    EXPECT_TRUE(s.SaveRefused(dialog, kError, L"执行还原失败,错误代码:25", IDOK, false));
    EXPECT_EQ(FindDialog(s.Pid(), kRestoreCaption), dialog);
    PressCloseBox(dialog);
    EXPECT_TRUE(WaitForDialogGone(s.Pid(), kRestoreCaption));
    EXPECT_TRUE(fs::is_empty(work.Path() / L"restored2"));
    EXPECT_TRUE(s.CloseApp(main));
}

// During a call of some seconds both windows answer within 200 ms, the buttons are off, Esc and the
// close box are refused and the caption counts the files; then the dialog closes as before.
TEST(ManualBackupAndRestore, ALongBackupLeavesBothWindowsAnsweringAndShowsItsProgress) {
    PlanDeskSession s;
    HWND main = s.StartLoggedIn();
    ASSERT_NE(main, nullptr);
    ScratchFolder work(L"long");
    const fs::path source = work.Path() / L"大目录", archive = work.Path() / L"大.bkp";
    Tree tree;  // data that does not compress keeps the engine busy for a few seconds
    for (uint32_t i = 0; i < kBigParts; ++i)
        tree[L"部分" + std::to_wstring(i) + L".bin"] = Pseudorandom(8 << 20, i);
    WriteTree(source, tree);
    ASSERT_TRUE(s.StopAutomaticRunning(main));
    HWND dialog = OpenManualDialog(s, main);
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(s.PickFile(dialog, IDC_PICK_RESTORE_FILE, archive.wstring()));
    ASSERT_TRUE(s.PickFolder(dialog, IDC_PICK_RESTORE_FOLDER, source.wstring()));

    Click(dialog, IDC_RESTORE_BACKUP);
    const DWORD started = ::GetTickCount();
    DWORD closeAskedAt = 0;
    int asked = 0, late = 0;
    bool buttonsOff = true, openAfterClose = false;
    std::wstring countCaption;
    while (::IsWindowVisible(dialog) && ::GetTickCount() - started < 60000) {
        ::Sleep(50);
        for (HWND window : {dialog, main}) {
            DWORD_PTR answer = 0;
            ++asked;
            if (!::SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 200, &answer) &&
                ::IsWindow(dialog))
                ++late;
        }
        const std::wstring caption = TextOf(dialog);
        if (caption == kRestoreCaption) continue;  // the call has not started, or has just ended
        for (int id : {IDC_PICK_RESTORE_FILE, IDC_PICK_RESTORE_FOLDER, IDC_RESTORE_BACKUP, IDOK})
            buttonsOff = buttonsOff && !IsEnabled(dialog, id);
        if (countCaption.empty() && caption.find(L" 个文件") != std::wstring::npos) {
            countCaption = caption;
            PressKey(VK_ESCAPE);
            PressCloseBox(dialog);
            closeAskedAt = ::GetTickCount();
        }
        if (closeAskedAt && ::GetTickCount() - closeAskedAt > 500) openAfterClose = true;
    }
    std::printf("the backup took %lu ms\n", ::GetTickCount() - started);
    EXPECT_TRUE(Closed(dialog, 0));
    EXPECT_GT(asked, 20);
    EXPECT_EQ(late, 0);
    EXPECT_TRUE(buttonsOff);
    EXPECT_TRUE(openAfterClose);
    // "手动备份与还原 - 正在备份… 1,234 个文件", from the engine's own progress line.
    EXPECT_EQ(countCaption.rfind(L"手动备份与还原 - 正在备份… ", 0), 0u) << U8(countCaption);
    EXPECT_TRUE(s.WaitForLogLine(main, L"已打包 ", true));
    EXPECT_TRUE(s.WaitForLogLine(main, L"手动备份完成：" + archive.wstring(), true));
    EXPECT_TRUE(s.CloseApp(main));
}

}  // namespace
}  // namespace e2e
