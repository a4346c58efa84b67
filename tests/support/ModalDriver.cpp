#include "ModalDriver.h"

#include <map>
#include <vector>

namespace testing_support {
namespace {

// Drivers may nest (a step of one runs a dialog that another drives); each timer knows its own.
std::map<UINT_PTR, ModalDriver*> g_drivers;
constexpr UINT kTickMs = 20;

BOOL CALLBACK CollectDialogs(HWND hwnd, LPARAM param) {
    wchar_t cls[16] = {};
    ::GetClassNameW(hwnd, cls, 16);
    if (std::wstring(cls) == L"#32770") reinterpret_cast<std::vector<HWND>*>(param)->push_back(hwnd);
    return TRUE;
}

std::vector<HWND> ThreadDialogs() {
    std::vector<HWND> dialogs;
    ::EnumThreadWindows(::GetCurrentThreadId(), CollectDialogs, reinterpret_cast<LPARAM>(&dialogs));
    return dialogs;
}

}  // namespace

ModalDriver& ModalDriver::Then(std::function<void()> step) {
    m_steps.push_back([step = std::move(step)] {
        step();
        return true;
    });
    return *this;
}

ModalDriver& ModalDriver::Until(Step step) {
    m_steps.push_back(std::move(step));
    return *this;
}

void ModalDriver::Start() {
    m_started = ::GetTickCount();
    m_timedOut = false;
    m_timer = ::SetTimer(nullptr, 0, kTickMs, &ModalDriver::OnTick);
    g_drivers[m_timer] = this;
}

void ModalDriver::Stop() {
    if (m_timer) ::KillTimer(nullptr, m_timer);
    g_drivers.erase(m_timer);
    m_timer = 0;
}

INT_PTR ModalDriver::Run(const std::function<INT_PTR()>& body) {
    Start();
    INT_PTR result = body();
    Stop();
    return result;
}

void ModalDriver::RunSteps() {
    Start();
    MSG msg;
    while (!m_steps.empty() && !m_timedOut && ::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    Stop();
}

void CALLBACK ModalDriver::OnTick(HWND, UINT, UINT_PTR timer, DWORD) {
    if (auto it = g_drivers.find(timer); it != g_drivers.end()) it->second->Tick();
}

void ModalDriver::Tick() {
    if (::GetTickCount() - m_started > m_timeoutMs) {
        m_timedOut = true;
        m_steps.clear();
        EndAllDialogs();
        return;
    }
    if (m_steps.empty()) return;
    // Take the step out first: it may open a nested modal loop in which later ticks run the next steps.
    Step step = std::move(m_steps.front());
    m_steps.pop_front();
    if (!step()) m_steps.push_front(std::move(step));
}

HWND FindDialog(const std::wstring& caption) {
    for (HWND hwnd : ThreadDialogs()) {
        wchar_t text[256] = {};
        ::GetWindowTextW(hwnd, text, 256);
        if (::IsWindowVisible(hwnd) && caption == text) return hwnd;
    }
    return nullptr;
}

void EndAllDialogs() {
    for (HWND hwnd : ThreadDialogs()) {
        if (!(::GetWindowLongW(hwnd, GWL_STYLE) & WS_CHILD)) {
            ::PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
            ::PostMessageW(hwnd, WM_CLOSE, 0, 0);
        }
    }
}

void Click(HWND dialog, int id) {
    ::SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(dialog, id)));
}

void Type(HWND dialog, int id, const std::wstring& text) {
    ::SetDlgItemTextW(dialog, id, text.c_str());
}

std::wstring TextOf(HWND dialog, int id) {
    wchar_t text[1024] = {};
    ::GetDlgItemTextW(dialog, id, text, 1024);
    return text;
}

void PressKey(HWND control, UINT vk) {
    ::SetFocus(control);
    ::PostMessageW(control, WM_KEYDOWN, vk, 1);
    ::PostMessageW(control, WM_KEYUP, vk, 0xC0000001);
}

void Pump() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

}  // namespace testing_support
