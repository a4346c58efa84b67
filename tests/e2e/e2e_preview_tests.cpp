// The clean preview of the real app on a real tree: the safe way to add a rule (saved, disabled,
// previewed, enabled, run from the preview), and the preview's list against what the run deleted.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "PlanDeskSession.h"
#include "UserInput.h"
#include "resource.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

std::set<std::wstring> Files(const Tree& tree) {
    std::set<std::wstring> out;
    for (const auto& [name, bytes] : tree) {
        if (name.back() != L'/') out.insert(name);
    }
    return out;
}

// The list's paths with '/' between folders, as ReadTree names files.
std::set<std::wstring> Listed(const RemoteListView& list) {
    std::set<std::wstring> out;
    for (std::wstring path : list.Column(0)) {
        std::replace(path.begin(), path.end(), L'\\', L'/');
        out.insert(path);
    }
    return out;
}

TEST(CleanPreview, ListsExactlyTheFilesTheFollowingRunDeletesWhateverTheirNames) {
    PlanDeskSession s;
    HWND main = s.StartLoggedIn();
    ASSERT_NE(main, nullptr);
    ASSERT_TRUE(s.StopAutomaticRunning(main));
    ScratchFolder work(L"preview");
    const fs::path watched = work.Path() / L"watched";
    WriteTree(watched, {{L"旧日志.tmp", "1234"},
                        {L"한국어 문서.tmp", "12"},
                        {L"表情\U0001F600.tmp", "123"},
                        {L"子目录/深/数据.tmp", std::string(2048, 'x')},
                        {L"保留.txt", "keep"},
                        {L"子目录/说明.doc", "doc"}});
    const std::set<std::wstring> before = Files(ReadTree(watched));

    // Saved with a name filter, then switched off: the safe way to add a rule.
    ASSERT_TRUE(s.AddCleanRule(main, L"预览测试", watched.wstring()));
    RemoteListView clear = s.List(main, IDC_CLEAR_LIST);
    const std::wstring id = clear.Cell(0, 0);
    ASSERT_NE(s.OpenPopup(main, IDC_CLEAR_LIST, {0}, PopupState{}), nullptr);
    s.Choose(kChange);
    HWND editor = WaitForDialog(s.Pid(), L"修改删除规则 ID:" + id);
    ASSERT_NE(editor, nullptr);
    SetText(editor, IDC_NAME_FILTER, L".tmp");
    Click(editor, IDOK);
    ASSERT_TRUE(WaitForDialogGone(s.Pid(), L"修改删除规则 ID:" + id));
    ASSERT_NE(s.OpenPopup(main, IDC_CLEAR_LIST, {0}, PopupState{}), nullptr);
    s.Choose(kToggle);
    ASSERT_TRUE(WaitUntil([&] { return clear.Cell(0, 2) == L"禁用"; }, 3000));

    // The preview of the disabled rule lists what it would delete; running it from there is refused
    // as 手动执行 is.
    PopupState disabled;
    disabled.enableText = true;
    ASSERT_NE(s.OpenPopup(main, IDC_CLEAR_LIST, {0}, disabled), nullptr);
    s.Choose(kPreview);
    const std::wstring caption = L"清理预览 - 预览测试";
    HWND preview = WaitForDialog(s.Pid(), caption);
    ASSERT_NE(preview, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return IsEnabled(preview, IDC_PREVIEW_CLEAN); }, 10000));
    RemoteListView files(s.App().Process(), Control(preview, IDC_PREVIEW_LIST));
    const std::set<std::wstring> listed = Listed(files);
    EXPECT_EQ(listed, (std::set<std::wstring>{L"旧日志.tmp", L"한국어 문서.tmp", L"表情\U0001F600.tmp",
                                              L"子目录/深/数据.tmp"}));
    EXPECT_EQ(U8(TextOf(preview, IDC_PREVIEW_SUMMARY)), U8(L"按当前规则，现在会删除 4 个文件，共 2.00 KB。"));
    SaveScreenshot(preview, ScreenshotFolder(), L"clean-preview-acp" + std::to_wstring(::GetACP()) + L".png");
    Click(preview, IDC_PREVIEW_CLEAN);
    MessageBoxView ask = WaitForMessageBox(s.Pid(), L"删除警告");
    EXPECT_EQ(U8(ask.text), U8(L"确定按此规则立即删除这 4 个文件吗？"));
    EXPECT_EQ(ask.buttons, (std::vector<int>{IDYES, IDNO}));
    AnswerMessageBox(ask, IDYES);
    MessageBoxView refused = WaitForMessageBox(s.Pid(), L"警告");
    EXPECT_EQ(U8(refused.text), U8(L"手动执行失败."));
    AnswerMessageBox(refused, IDOK);
    EXPECT_EQ(Files(ReadTree(watched)), before);
    PressKey(VK_ESCAPE);
    ASSERT_TRUE(WaitForDialogGone(s.Pid(), caption));

    // Enabled, previewed again and run from the preview: it deletes exactly what the preview listed.
    ASSERT_NE(s.OpenPopup(main, IDC_CLEAR_LIST, {0}, disabled), nullptr);
    s.Choose(kToggle);
    ASSERT_TRUE(WaitUntil([&] { return clear.Cell(0, 2) == L"启用"; }, 3000));
    ASSERT_NE(s.OpenPopup(main, IDC_CLEAR_LIST, {0}, PopupState{}), nullptr);
    s.Choose(kPreview);
    preview = WaitForDialog(s.Pid(), caption);
    ASSERT_NE(preview, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return IsEnabled(preview, IDC_PREVIEW_CLEAN); }, 10000));
    RemoteListView again(s.App().Process(), Control(preview, IDC_PREVIEW_LIST));
    const std::set<std::wstring> listedAgain = Listed(again);
    EXPECT_EQ(listedAgain, listed);
    Click(preview, IDC_PREVIEW_CLEAN);
    AnswerMessageBox(WaitForMessageBox(s.Pid(), L"删除警告"), IDYES);
    ASSERT_TRUE(WaitForDialogGone(s.Pid(), caption));
    EXPECT_TRUE(s.WaitForLogLine(main, L"清理规则 " + id + L"「预览测试」运行完成", true));
    std::set<std::wstring> deleted;
    const std::set<std::wstring> after = Files(ReadTree(watched));
    std::set_difference(before.begin(), before.end(), after.begin(), after.end(),
                        std::inserter(deleted, deleted.end()));
    EXPECT_EQ(deleted, listedAgain);
    EXPECT_TRUE(s.CloseApp(main));
}

}  // namespace
}  // namespace e2e
