#include "dialog_test_support.h"

namespace editors_testing {

bool HasStyle(HWND dialog, int id, DWORD style) {
    return (::GetWindowLongW(::GetDlgItem(dialog, id), GWL_STYLE) & style) == style;
}

bool HasVisibleStyle(HWND dialog, int id) {
    return HasStyle(dialog, id, WS_VISIBLE);
}

bool WholeTextSelected(HWND edit) {
    DWORD start = 0, end = 0;
    ::SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    return start == 0 && end == DWORD(::GetWindowTextLengthW(edit));
}

RECT ClientRectIn(HWND control, HWND parent) {
    RECT rect{};
    ::GetWindowRect(control, &rect);
    ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

int TopOf(HWND control) {
    return ClientRectIn(control, ::GetParent(control)).top;
}

std::vector<std::string> MessageTexts(const FakeServices& services) {
    std::vector<std::string> texts;
    for (const ShownMessage& message : services.messages) texts.push_back(message.text);
    return texts;
}

std::string Bytes(const void* data, size_t size) {
    return std::string(static_cast<const char*>(data), size);
}

}  // namespace editors_testing
