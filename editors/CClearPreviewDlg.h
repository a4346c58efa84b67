// The clean preview (template 2016): what a saved clean rule would delete now, and why it would
// delete nothing. The engine walks the rule's folder on a worker thread (kivo_preview_clear) while the
// caption counts the files found; the window keeps answering, and closing it (Esc, the close box,
// "关闭") stops the walk at once. The list is virtual, so that 100,000 rows cost nothing, and Unicode
// end to end: a name GBK cannot hold is shown and exported as it is on disk. The window is sizeable;
// its size and column widths are remembered at 96 DPI through the settings library.
//
// Ends with IDOK when "立即清理" has started the rule, otherwise with IDCANCEL.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "CDialog.h"
#include "CListView.h"
#include "clear_preview_text.h"

class CClearPreviewDlg : public fw::CDialog {
  public:
    CClearPreviewDlg();
    ~CClearPreviewDlg() override;

    int m_nRuleId = 0;
    std::string m_strDescription;  // GBK, for the caption
    HICON m_hIcon;                 // application icon; not owned

    // What the window shows, for its tests.
    const std::vector<editors::PreviewRow>& Rows() const { return m_rows; }
    bool Searching() const { return m_search != nullptr; }
    bool Sorting() const { return m_sorter.joinable(); }

  protected:
    BOOL OnInitDialog() override;
    bool OnCommand(WORD code, WORD id, HWND control) override;
    bool OnNotify(NMHDR* header, LRESULT* result) override;
    void OnOK() override {}    // Enter starts nothing
    void OnCancel() override;  // also the close box and "关闭"
    void OnTimer(UINT_PTR id) override;
    bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

  private:
    struct Search;

    // The engine's callback, on the worker thread: one found file into the shared state.
    static void OnFile(const KivoCleanFile* file, void* context) noexcept;
    void StartSearch();
    // Takes the rows the worker found since the last call into the list.
    void TakeFoundRows();
    // Shows the engine's answer once the worker has finished; nothing before.
    void OnSearchDone();
    void OnColumnClick(int column);
    // Sorts on a worker thread: the window goes on showing the rows as they are meanwhile.
    void StartSort();
    void OnSorted();
    void OnExport();
    void OnCleanNow();
    void LayoutControls();
    void RestoreSize();
    void SaveSize();
    void End(INT_PTR result);

    fw::CListView m_list;
    std::shared_ptr<Search> m_search;  // while a search runs; the worker holds it too
    std::thread m_worker;
    std::vector<editors::PreviewRow> m_rows;
    int m_nSortColumn = -1;  // none yet: the engine's order
    bool m_bSortAscending = true;
    std::thread m_sorter;           // reads m_rows, which nothing changes while it runs
    std::vector<uint32_t> m_order;  // its answer
    bool m_bSortAgain = false;      // a header was clicked while it ran
    uint64_t m_nCleanFiles = 0;
    int m_nDpi = 96;
    SIZE m_minSize{};
    std::string m_strShownCaption;
};
