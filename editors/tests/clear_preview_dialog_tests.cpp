// The clean preview dialog against a fake engine: the summary for each answer, the Unicode virtual
// list, sorting, closing during the search, the exported CSV byte for byte, "立即清理", and the
// remembered size.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "CClearPreviewDlg.h"
#include "dialog_test_support.h"
#include "resource.h"

namespace editors_testing {
namespace {

constexpr long long kMtime = 1700000000;  // 2023-11-14 22:13:20 UTC

std::wstring Cell(HWND list, int row, int column) {
    wchar_t text[512] = {};
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = 512;
    ::SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
    return text;
}

std::wstring Caption(HWND hwnd) {
    wchar_t text[256] = {};
    ::GetWindowTextW(hwnd, text, 256);
    return text;
}

// Local time by the C runtime, apart from the dialog's own conversion.
std::string LocalText(long long utc) {
    const __time64_t t = utc;
    std::tm local{};
    _localtime64_s(&local, &t);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

class ClearPreviewDialog : public DialogTest {
  protected:
    ClearPreviewDialog() {
        dialog.m_nRuleId = 7;
        dialog.m_strDescription = "清理临时文件";
    }
    ~ClearPreviewDialog() override {
        // A search stopped by a close ends on its own: wait for it before the next test's fakes.
        for (int i = 0; i < 500 && FakePreviewsRunning() > 0; ++i) ::Sleep(10);
    }

    // Runs the dialog; each step runs once the search, and any sort, is done.
    INT_PTR Run(const std::vector<std::function<void(HWND)>>& steps) {
        ModalDriver driver;
        for (const auto& step : steps) {
            driver.Until([&] { return dialog.GetSafeHwnd() && !dialog.Searching() && !dialog.Sorting(); });
            driver.Then([&, step] { step(dialog.GetSafeHwnd()); });
        }
        const INT_PTR result = driver.Run([&] { return dialog.DoModal(); });
        EXPECT_FALSE(driver.TimedOut());
        return result;
    }
    static HWND List(HWND h) { return ::GetDlgItem(h, IDC_PREVIEW_LIST); }
    static void Close(HWND h) { Click(h, IDCANCEL); }
    static void SortBy(HWND h, int column) {
        NMLISTVIEW click{};
        click.hdr = {List(h), IDC_PREVIEW_LIST, UINT(LVN_COLUMNCLICK)};
        click.iItem = -1;
        click.iSubItem = column;
        ::SendMessageW(h, WM_NOTIFY, IDC_PREVIEW_LIST, reinterpret_cast<LPARAM>(&click));
    }
    static std::vector<std::wstring> Column(HWND h, int column) {
        std::vector<std::wstring> out;
        for (int row = 0; row < ListView_GetItemCount(List(h)); ++row)
            out.push_back(Cell(List(h), row, column));
        return out;
    }

    CClearPreviewDlg dialog;
};

TEST_F(ClearPreviewDialog, ListsTheEnginesFilesWithTheSummaryAndNamesAsOnDisk) {
    Fakes().previewFiles = {{u"a.log", 1536, kMtime},
                            {u"子目录\\한국어\U0001F600.txt", 100, kMtime - 86400},
                            {u"b.tmp", 3u << 20, kMtime}};
    std::wstring caption, summary;
    std::vector<std::wstring> paths, sizes, times;
    bool exportOn = false, cleanOn = false, listShown = false;
    EXPECT_EQ(Run({[&](HWND h) {
                  caption = Caption(h);
                  summary = TextOf(h, IDC_PREVIEW_SUMMARY);
                  paths = Column(h, 0), sizes = Column(h, 1), times = Column(h, 2);
                  exportOn = ::IsWindowEnabled(::GetDlgItem(h, IDC_PREVIEW_EXPORT));
                  cleanOn = ::IsWindowEnabled(::GetDlgItem(h, IDC_PREVIEW_CLEAN));
                  listShown = ::IsWindowVisible(List(h));
                  Close(h);
              }}),
              IDCANCEL);
    EXPECT_EQ(caption, L"清理预览 - 清理临时文件");
    EXPECT_EQ(summary, L"按当前规则，现在会删除 3 个文件，共 3.00 MB。");
    EXPECT_EQ(paths, (std::vector<std::wstring>{L"a.log", L"子目录\\한국어\U0001F600.txt", L"b.tmp"}));
    EXPECT_EQ(sizes, (std::vector<std::wstring>{L"1.50 KB", L"100 字节", L"3.00 MB"}));
    EXPECT_EQ(fw::GbkFromWide(times[1]), LocalText(kMtime - 86400));
    EXPECT_TRUE(exportOn && cleanOn && listShown);
    EXPECT_EQ(Fakes().calls.front(), "kivo_preview_clear(7)");
}

TEST_F(ClearPreviewDialog, SaysWhyNothingGoesNowOrWhyThereIsNoList) {
    struct Case {
        int result;
        KivoCleanVerdict verdict;
        std::wstring summary;
        bool listShown, exportOn;
    };
    KivoCleanVerdict enoughSpace{50, 72, 0, 0, 0, 0, 0, 0, ""};
    KivoCleanVerdict missing{};
    std::strcpy(missing.reason, "无法打开监视目录 D:\\日志：文件不存在");
    const Case cases[] = {
        {KIVO_OK, enoughSpace,
         L"按当前规则，现在会删除 0 个文件，共 0 字节。\r\n磁盘可用空间 72%，不低于 50%，现在不会执行清理；"
         L"下表是条件满足时会删除的文件。",
         true, true},
        {KIVO_E_FOLDER_MISSING, missing, L"无法打开监视目录 D:\\日志：文件不存在", false, false},
    };
    for (const Case& c : cases) {
        ResetFakes();
        Fakes().previewFiles = {{u"old.log", 10, kMtime}};
        Fakes().previewVerdict = c.verdict;
        Fakes().previewResult = c.result;
        CClearPreviewDlg preview;
        preview.m_nRuleId = 7;
        std::wstring summary;
        bool listShown = true, exportOn = true, cleanOn = true;
        ModalDriver driver;
        driver.Until([&] { return preview.GetSafeHwnd() && !preview.Searching(); }).Then([&] {
            HWND h = preview.GetSafeHwnd();
            summary = TextOf(h, IDC_PREVIEW_SUMMARY);
            listShown = ::IsWindowVisible(List(h));
            exportOn = ::IsWindowEnabled(::GetDlgItem(h, IDC_PREVIEW_EXPORT));
            cleanOn = ::IsWindowEnabled(::GetDlgItem(h, IDC_PREVIEW_CLEAN));
            Close(h);
        });
        driver.Run([&] { return preview.DoModal(); });
        EXPECT_EQ(summary, c.summary);
        EXPECT_EQ(listShown, c.listShown) << c.result;
        EXPECT_EQ(exportOn, c.exportOn) << c.result;
        EXPECT_FALSE(cleanOn) << "a run now would delete nothing";
    }
}

TEST_F(ClearPreviewDialog, ColumnHeadersSortBothWaysWithTheirArrow) {
    Fakes().previewFiles = {
        {u"b.txt", 20, kMtime - 10}, {u"A.txt", 300, kMtime - 30}, {u"c.txt", 1, kMtime - 20}};
    std::vector<std::vector<std::wstring>> orders;
    std::vector<int> arrows;
    auto arrow = [](HWND h, int column) {
        HDITEMW item{};
        item.mask = HDI_FORMAT;
        ::SendMessageW(ListView_GetHeader(List(h)), HDM_GETITEMW, column, reinterpret_cast<LPARAM>(&item));
        return (item.fmt & HDF_SORTUP) ? 1 : (item.fmt & HDF_SORTDOWN) ? -1 : 0;
    };
    std::vector<std::function<void(HWND)>> steps;
    for (int column : {1, 1, 0, 2}) {
        steps.push_back([=](HWND h) { SortBy(h, column); });
        steps.push_back([&, column](HWND h) {  // once sorted
            orders.push_back(Column(h, 0));
            arrows.push_back(arrow(h, column));
        });
    }
    steps.push_back([&](HWND h) {
        EXPECT_EQ(arrow(h, 1), 0);  // only the sorted column shows one
        Close(h);
    });
    Run(steps);
    EXPECT_EQ(orders, (std::vector<std::vector<std::wstring>>{{L"c.txt", L"b.txt", L"A.txt"},
                                                              {L"A.txt", L"b.txt", L"c.txt"},
                                                              {L"A.txt", L"b.txt", L"c.txt"},
                                                              {L"A.txt", L"c.txt", L"b.txt"}}));
    EXPECT_EQ(arrows, (std::vector<int>{1, -1, 1, 1}));
}

TEST_F(ClearPreviewDialog, ClosingDuringTheSearchStopsTheEngineAtOnce) {
    for (bool escape : {true, false}) {
        ResetFakes();
        for (int i = 0; i < 2000; ++i)
            Fakes().previewFiles.push_back({u"f" + std::u16string(1, u'a' + i % 26), 1, kMtime});
        Fakes().previewPauseMs = 5;
        CClearPreviewDlg preview;
        preview.m_nRuleId = 7;
        std::wstring counting;
        ModalDriver driver;
        driver
            .Until([&] {
                // The window answers while the engine works: the caption counts the files found.
                return preview.GetSafeHwnd() &&
                       Caption(preview.GetSafeHwnd()).find(L"正在查找… ") != std::wstring::npos &&
                       Caption(preview.GetSafeHwnd()) != L"清理预览 - 正在查找… 0 个文件";
            })
            .Then([&] {
                HWND h = preview.GetSafeHwnd();
                counting = Caption(h);
                if (escape) {
                    PressKey(List(h), VK_ESCAPE);
                } else {
                    ::SendMessageW(h, WM_CLOSE, 0, 0);
                }
            });
        EXPECT_EQ(driver.Run([&] { return preview.DoModal(); }), IDCANCEL);
        EXPECT_FALSE(driver.TimedOut());
        EXPECT_EQ(counting.rfind(L"清理预览 - 正在查找… ", 0), 0u) << escape;
        for (int i = 0; i < 500 && FakePreviewsRunning() > 0; ++i) ::Sleep(10);
        EXPECT_EQ(FakePreviewsRunning(), 0);
        const auto& calls = Fakes().calls;
        ASSERT_FALSE(calls.empty());
        EXPECT_EQ(calls.back().rfind("kivo_preview_clear stopped after ", 0), 0u) << calls.back();
    }
}

TEST_F(ClearPreviewDialog, ExportsTheListAsShownInUtf8CsvWithBomAndQuoting) {
    Fakes().previewFiles = {{u"plain.txt", 5, kMtime},
                            {u"a,b \"q\".log", 12, kMtime - 60},
                            {u"=SUM(1).csv", 1, kMtime - 120},
                            {u"日志\\表情\U0001F600.tmp", 7, kMtime - 180}};
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    const std::filesystem::path file =
        std::filesystem::path(temp) / (L"预览导出_" + std::to_wstring(::GetCurrentProcessId()) + L".csv");
    services.files = {L"", file.wstring(),
                      (std::filesystem::path(temp) / L"no such folder" / L"x.csv").wstring()};
    Run({[&](HWND h) { SortBy(h, 1); },  // by size: what is shown is what is written
         [&](HWND h) {
             Click(h, IDC_PREVIEW_EXPORT);  // cancelled in the chooser: nothing written
             EXPECT_FALSE(std::filesystem::exists(file));
             Click(h, IDC_PREVIEW_EXPORT);
             Click(h, IDC_PREVIEW_EXPORT);  // a folder that is not there
             Close(h);
         }});
    std::ifstream in(file, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    in.close();
    std::filesystem::remove(file);
    const std::string expected =
        std::string("\xEF\xBB\xBF") +
        "\xE8\xB7\xAF\xE5\xBE\x84,\xE5\xA4\xA7\xE5\xB0\x8F("
        "\xE5\xAD\x97\xE8\x8A\x82),\xE4\xBF\xAE\xE6\x94\xB9\xE6\x97\xB6\xE9\x97\xB4\r\n" +
        "'=SUM(1).csv,1," + LocalText(kMtime - 120) + "\r\n" + "plain.txt,5," + LocalText(kMtime) + "\r\n" +
        "\xE6\x97\xA5\xE5\xBF\x97\\\xE8\xA1\xA8\xE6\x83\x85\xF0\x9F\x98\x80.tmp,7," +
        LocalText(kMtime - 180) + "\r\n" + "\"a,b \"\"q\"\".log\",12," + LocalText(kMtime - 60) + "\r\n";
    EXPECT_EQ(bytes.str(), expected);
    ASSERT_EQ(services.pickers.size(), 3u);
    EXPECT_EQ(services.pickers[0].kind, PickerCall::SaveFile);
    EXPECT_EQ(services.pickers[0].titleOrFilter,
              L"CSV 文件 (*.csv)|*.csv|所有文件 (*.*)|*.*||\n清理预览-清理临时文件.csv\ncsv");
    EXPECT_EQ(MessageTexts(services), (std::vector<std::string>{"导出列表失败,错误代码:3"}));
}

TEST_F(ClearPreviewDialog, CleanNowAsksWithNoAsTheDefaultThenRunsTheRuleAsTheMenuDoes) {
    Fakes().previewFiles = {{u"a.log", 1, kMtime}, {u"b.log", 1, kMtime}};
    services.answers = {IDNO, IDYES, IDOK, IDYES};
    Fakes().manRunResult = KIVO_E_RULE_DISABLED;
    EXPECT_EQ(Run({[&](HWND h) {
                  Click(h, IDC_PREVIEW_CLEAN);  // No: nothing runs
                  Click(h, IDC_PREVIEW_CLEAN);  // Yes, but the engine refuses: the dialog stays
                  EXPECT_TRUE(::IsWindowVisible(h));
                  Fakes().manRunResult = 0;
                  Click(h, IDC_PREVIEW_CLEAN);  // Yes: runs and closes
              }}),
              IDOK);
    ASSERT_EQ(services.messages.size(), 4u);
    EXPECT_EQ(services.messages[0].text, "确定按此规则立即删除这 2 个文件吗？");
    EXPECT_EQ(services.messages[0].caption, "删除警告");
    EXPECT_EQ(services.messages[0].type, UINT(MB_YESNO | MB_ICONINFORMATION | MB_DEFBUTTON2));
    EXPECT_EQ(services.messages[2].text, "手动执行失败.");
    EXPECT_EQ(services.messages[2].caption, "警告");
    EXPECT_EQ(services.messages[2].type, kInfoOk);
    std::vector<std::string> runs;
    for (const std::string& call : Fakes().calls)
        if (call.rfind("kivo_man_run", 0) == 0) runs.push_back(call);
    EXPECT_EQ(runs, (std::vector<std::string>{"kivo_man_run(7)", "kivo_man_run(7)"}));
}

TEST_F(ClearPreviewDialog, RemembersItsSizeAndColumnsAt96DpiAndLaysItselfOut) {
    Fakes().settings["task_list_cfg/preview_cx"] = 900;
    Fakes().settings["task_list_cfg/preview_cy"] = 600;
    Fakes().settings["task_list_cfg/previewlst_1"] = 400;
    RECT opened{}, listInClient{}, client{}, closeButton{};
    int pathWidth = 0;
    Run({[&](HWND h) {
        ::GetWindowRect(h, &opened);
        pathWidth = ListView_GetColumnWidth(List(h), 0);
        ::SetWindowPos(h, nullptr, 0, 0, 1000, 700, SWP_NOMOVE | SWP_NOZORDER);
        ::GetClientRect(h, &client);
        listInClient = ClientRectIn(List(h), h);
        closeButton = ClientRectIn(::GetDlgItem(h, IDCANCEL), h);
        // Moved to a display of 144 DPI: the widths it keeps are still at 96.
        RECT suggested{0, 0, 1500, 1050};
        ::SendMessageW(h, WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
        ListView_SetColumnWidth(List(h), 1, 150);
        Close(h);
    }});
    EXPECT_EQ(opened.right - opened.left, 900);
    EXPECT_EQ(opened.bottom - opened.top, 600);
    EXPECT_EQ(pathWidth, 400);
    // The list and the buttons follow the window's size.
    EXPECT_EQ(client.right - listInClient.right, listInClient.left);
    EXPECT_EQ(closeButton.right, listInClient.right);
    EXPECT_EQ(client.bottom - closeButton.bottom, listInClient.left);
    EXPECT_GT(listInClient.bottom,
              client.bottom - 2 * (closeButton.bottom - closeButton.top) - listInClient.left);
    auto& settings = Fakes().settings;
    EXPECT_EQ(settings["task_list_cfg/previewlst_2"], 100);  // 150 pixels at 144 DPI
    EXPECT_EQ(settings["task_list_cfg/previewlst_1"], 400);  // scaled up with the DPI and back
    EXPECT_GT(settings["task_list_cfg/preview_cx"], 0);
}

}  // namespace
}  // namespace editors_testing
