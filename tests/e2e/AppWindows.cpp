#include "AppWindows.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "ScreenCapture.h"

namespace e2e {
namespace {

constexpr DWORD kPollMs = 15;
constexpr UINT kSendTimeoutMs = 5000;

struct ControlSearch {
    int id;
    HWND found;
};

BOOL CALLBACK FindControlById(HWND child, LPARAM param) {
    auto* search = reinterpret_cast<ControlSearch*>(param);
    if (::GetDlgCtrlID(child) != search->id) return TRUE;
    search->found = child;
    return FALSE;
}

struct TopLevelSearch {
    DWORD pid;
    const wchar_t* windowClass;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectTopLevel(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<TopLevelSearch*>(param);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(window, &pid);
    if (pid != search->pid || !::IsWindowVisible(window)) return TRUE;
    if (search->windowClass && ClassOf(window) != search->windowClass) return TRUE;
    search->found.push_back(window);
    return TRUE;
}

// The difference between the captured icon and a system icon drawn on the captured background.
long long IconDistance(const Pixels& shot, LPCWSTR iconId) {
    HICON icon = ::LoadIconW(nullptr, iconId);
    DibCanvas canvas(shot.width, shot.height);
    if (!icon || !canvas.Ok()) return LLONG_MAX;
    uint32_t* out = canvas.Bits();
    std::fill(out, out + shot.bgra.size(), shot.bgra[0]);  // the dialog's face
    ::DrawIconEx(canvas.Dc(), 0, 0, icon, ::GetSystemMetrics(SM_CXICON), ::GetSystemMetrics(SM_CYICON), 0,
                 nullptr, DI_NORMAL);
    ::GdiFlush();
    long long distance = 0;
    for (size_t i = 0; i < shot.bgra.size(); ++i) {
        const uint32_t a = shot.bgra[i], b = out[i];
        for (int shift = 0; shift < 24; shift += 8)
            distance += std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF));
    }
    return distance;
}

BoxIcon ClassifyIcon(HWND iconStatic) {
    RECT rect;
    ::GetWindowRect(iconStatic, &rect);
    rect.right = std::min<LONG>(rect.right, rect.left + ::GetSystemMetrics(SM_CXICON));
    rect.bottom = std::min<LONG>(rect.bottom, rect.top + ::GetSystemMetrics(SM_CYICON));
    const Pixels shot = CaptureScreenRect(rect);
    if (shot.bgra.empty()) return BoxIcon::Unknown;
    const std::pair<BoxIcon, LPCWSTR> candidates[] = {{BoxIcon::Information, IDI_INFORMATION},
                                                      {BoxIcon::Warning, IDI_WARNING},
                                                      {BoxIcon::Error, IDI_ERROR},
                                                      {BoxIcon::Question, IDI_QUESTION}};
    BoxIcon best = BoxIcon::Unknown;
    long long bestDistance = LLONG_MAX;
    for (const auto& [kind, id] : candidates) {
        const long long d = IconDistance(shot, id);
        if (d < bestDistance) best = kind, bestDistance = d;
    }
    // A drawn icon matches its reference to within antialiasing; anything else is no known icon.
    const long long limit = 40LL * shot.width * shot.height;
    return bestDistance <= limit ? best : BoxIcon::Unknown;
}

}  // namespace

LRESULT Send(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    ::SendMessageTimeoutW(window, msg, wParam, lParam, SMTO_ABORTIFHUNG, kSendTimeoutMs, &result);
    return LRESULT(result);
}

bool WaitUntil(const std::function<bool()>& cond, DWORD timeoutMs) {
    const DWORD start = ::GetTickCount();
    for (;;) {
        if (cond()) return true;
        if (::GetTickCount() - start > timeoutMs) return cond();
        ::Sleep(kPollMs);
    }
}

std::vector<HWND> TopLevelWindows(DWORD pid, const wchar_t* windowClass) {
    TopLevelSearch search{pid, windowClass, {}};
    ::EnumWindows(&CollectTopLevel, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND FindDialog(DWORD pid, const std::wstring& caption) {
    for (HWND window : TopLevelWindows(pid)) {
        if (TextOf(window) == caption) return window;
    }
    return nullptr;
}

HWND WaitForDialog(DWORD pid, const std::wstring& caption, DWORD timeoutMs) {
    HWND found = nullptr;
    WaitUntil([&] { return (found = FindDialog(pid, caption)) != nullptr; }, timeoutMs);
    return found;
}

bool WaitForDialogGone(DWORD pid, const std::wstring& caption, DWORD timeoutMs) {
    return WaitUntil([&] { return FindDialog(pid, caption) == nullptr; }, timeoutMs);
}

HWND Control(HWND dialog, int id) {
    if (HWND direct = ::GetDlgItem(dialog, id)) return direct;
    ControlSearch search{id, nullptr};
    ::EnumChildWindows(dialog, &FindControlById, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::wstring TextOf(HWND window) {
    if (!window) return L"<no window>";
    const int length = int(Send(window, WM_GETTEXTLENGTH));
    std::wstring text(size_t(length) + 1, L'\0');
    const int got = int(Send(window, WM_GETTEXT, WPARAM(text.size()), reinterpret_cast<LPARAM>(text.data())));
    text.resize(size_t(std::clamp(got, 0, length)));
    return text;
}

std::wstring TextOf(HWND dialog, int id) {
    return TextOf(Control(dialog, id));
}

std::wstring ClassOf(HWND window) {
    wchar_t name[64] = L"";
    ::GetClassNameW(window, name, int(std::size(name)));
    return name;
}

void SetText(HWND dialog, int id, const std::wstring& text) {
    Send(Control(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void Click(HWND dialog, int id) {
    ::PostMessageW(Control(dialog, id), BM_CLICK, 0, 0);
}

bool IsEnabled(HWND dialog, int id) {
    HWND control = Control(dialog, id);
    return control && ::IsWindowEnabled(control);
}

bool IsVisible(HWND dialog, int id) {
    HWND control = Control(dialog, id);
    return control && ::IsWindowVisible(control);
}

bool IsChecked(HWND dialog, int id) {
    return Send(Control(dialog, id), BM_GETCHECK) == BST_CHECKED;
}

void PressCloseBox(HWND window) {
    ::PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
}

HWND FocusOf(HWND window) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!::GetGUIThreadInfo(::GetWindowThreadProcessId(window, nullptr), &info)) return nullptr;
    return info.hwndFocus;
}

std::pair<int, int> SelectionOf(HWND edit) {
    const DWORD packed = DWORD(Send(edit, EM_GETSEL));
    return {int(LOWORD(packed)), int(HIWORD(packed))};
}

bool WholeTextSelected(HWND edit) {
    const auto [start, end] = SelectionOf(edit);
    return start == 0 && end == int(Send(edit, WM_GETTEXTLENGTH));
}

const char* IconName(BoxIcon icon) {
    switch (icon) {
        case BoxIcon::None:
            return "none";
        case BoxIcon::Information:
            return "information";
        case BoxIcon::Warning:
            return "warning";
        case BoxIcon::Error:
            return "error";
        case BoxIcon::Question:
            return "question";
        case BoxIcon::Unknown:
            break;
    }
    return "unknown";
}

MessageBoxView ReadMessageBox(HWND box) {
    MessageBoxView view;
    view.window = box;
    if (!box) return view;
    view.caption = TextOf(box);
    view.text = TextOf(::GetDlgItem(box, 0xFFFF));
    std::vector<std::pair<LONG, int>> buttons;
    for (HWND child = ::GetWindow(box, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        if (!::IsWindowVisible(child)) continue;
        const std::wstring cls = ClassOf(child);
        const LONG style = ::GetWindowLongW(child, GWL_STYLE);
        if (cls == L"Static" && (style & SS_TYPEMASK) == SS_ICON) {
            view.icon = ClassifyIcon(child);
        } else if (cls == L"Button") {
            RECT rect;
            ::GetWindowRect(child, &rect);
            buttons.emplace_back(rect.left, ::GetDlgCtrlID(child));
        }
    }
    std::sort(buttons.begin(), buttons.end());
    for (const auto& button : buttons) view.buttons.push_back(button.second);
    return view;
}

MessageBoxView WaitForMessageBox(DWORD pid, const std::wstring& caption, DWORD timeoutMs) {
    HWND box = WaitForDialog(pid, caption, timeoutMs);
    MessageBoxView view = ReadMessageBox(box);
    // The box may show before its icon is painted: look again for a moment.
    if (box && view.icon == BoxIcon::Unknown) {
        WaitUntil([&] { return (view = ReadMessageBox(box)).icon != BoxIcon::Unknown; }, 1000);
    }
    return view;
}

bool AnswerMessageBox(const MessageBoxView& box, int buttonId) {
    if (!box.window) return false;
    Click(box.window, buttonId);
    return WaitUntil([&] { return !::IsWindow(box.window) || !::IsWindowVisible(box.window); });
}

}  // namespace e2e
