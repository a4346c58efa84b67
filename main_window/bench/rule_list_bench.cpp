// Fills the clean-rule list with 10,000 rules and compares the time with inserting the same
// texts into a bare list view of the same template. Goal: at most 1.2 times the baseline.
#include <windows.h>
#include <commctrl.h>

#include <chrono>
#include <cstdio>

#include "CPlanDeskDlg.h"
#include "FakeLibraries.h"
#include "resource.h"
#include "rule_text.h"

using Clock = std::chrono::steady_clock;
using testing_support::Fakes;

namespace {

constexpr int kRules = 10000;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

}  // namespace

int main() {
    INITCOMMONCONTROLSEX controls{sizeof controls, 0xFF};
    ::InitCommonControlsEx(&controls);
    for (int i = 0; i < kRules; ++i) {
        ClearRule rule{};
        rule.rule_id = i + 1;
        rule.enabled = i % 2;
        rule.schedule = {0, 0, 0b0010101, 830};
        WriteField(rule.description, "清理临时文件");
        WriteField(rule.path, "D:\\数据\\临时");
        WriteField(rule.date_range, "20240101,20241231");
        WriteField(rule.time_range, "0800,1800");
        Fakes().clearRules.push_back(rule);
    }

    double best = 1e9, baseline = 1e9;
    for (int round = 0; round < 3; ++round) {
        CPlanDeskDlg window;
        window.Create(IDD_PLAN_DESK, nullptr);
        auto start = Clock::now();
        window.FillClearList();
        best = std::min(best, Seconds(start));

        // Baseline: the same texts, computed beforehand, straight into the list with redraw off.
        std::vector<std::array<std::wstring, 10>> rows;
        for (const ClearRule& rule : Fakes().clearRules) {
            auto texts = ClearRowTexts(rule);
            std::array<std::wstring, 10> wide;
            for (size_t c = 0; c < 10; ++c) wide[c] = fw::WideFromGbk(texts[c]);
            rows.push_back(std::move(wide));
        }
        HWND list = ::GetDlgItem(window.GetSafeHwnd(), IDC_CLEAR_LIST);
        ListView_DeleteAllItems(list);
        start = Clock::now();
        ::SendMessageW(list, WM_SETREDRAW, FALSE, 0);
        for (int i = 0; i < kRules; ++i) {
            LVITEMW item{};
            item.mask = LVIF_TEXT;
            item.iItem = i;
            item.pszText = rows[size_t(i)][0].data();
            ::SendMessageW(list, LVM_INSERTITEMW, 0, LPARAM(&item));
            for (int c = 0; c < 10; ++c) {
                LVITEMW cell{};
                cell.iSubItem = c;
                cell.pszText = rows[size_t(i)][size_t(c)].data();
                ::SendMessageW(list, LVM_SETITEMTEXTW, i, LPARAM(&cell));
            }
        }
        ::SendMessageW(list, WM_SETREDRAW, TRUE, 0);
        baseline = std::min(baseline, Seconds(start));
    }
    std::printf(
        "rule list fill: %d clean rules in %.3f s; bare list view %.3f s; ratio %.2f (goal <= 1.20)\n",
        kRules, best, baseline, best / baseline);
    return 0;
}
