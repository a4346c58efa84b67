// A list view in another process: messages whose arguments point at memory are given a buffer
// allocated in that process (VirtualAllocEx) and read back with ReadProcessMemory.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace e2e {

class RemoteListView {
  public:
    RemoteListView(HANDLE process, HWND list);
    ~RemoteListView();
    RemoteListView(const RemoteListView&) = delete;
    RemoteListView& operator=(const RemoteListView&) = delete;

    HWND Window() const { return m_hList; }
    int Count() const;
    int ColumnCount() const;
    std::wstring Cell(int row, int column) const;
    std::vector<std::wstring> Row(int row) const;
    // One column of every row, top first.
    std::vector<std::wstring> Column(int column) const;
    std::vector<int> SelectedRows() const;
    int ColumnWidth(int column) const;
    bool SetColumnWidth(int column, int width) const;
    // The row's bounds in screen coordinates.
    RECT RowRect(int row) const;
    // Whether row is entirely inside the list's client area.
    bool RowFullyVisible(int row) const;

  private:
    HANDLE m_hProcess;
    HWND m_hList;
    char* m_pRemote = nullptr;  // one buffer in the app: the item record, then the text
};

}  // namespace e2e
