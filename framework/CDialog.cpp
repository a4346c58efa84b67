#include "CDialog.h"

#include <cstring>
#include <vector>

namespace fw {
namespace {

// The object whose window is being created on this thread; the dialog procedure attaches it
// on the first message, which (WM_SETFONT, WM_MEASUREITEM) comes before WM_INITDIALOG.
thread_local CDialog* t_creating = nullptr;
HWND g_mainWindow = nullptr;

bool ReturnsDirectly(UINT msg) {
    switch (msg) {
        case WM_CHARTOITEM:
        case WM_COMPAREITEM:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORDLG:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORSCROLLBAR:
        case WM_CTLCOLORSTATIC:
        case WM_INITDIALOG:
        case WM_QUERYDRAGICON:
        case WM_VKEYTOITEM:
            return true;
        default:
            return false;
    }
}

}  // namespace

void DDX_Text(CDataExchange& dx, int id, std::string& value, int limit) {
    HWND item = dx.Dialog().GetDlgItem(id);
    if (dx.Saving()) {
        value = GetWindowTextGbk(item);
        return;
    }
    if (limit > 0) ::SendMessageW(item, EM_LIMITTEXT, limit, 0);
    SetWindowTextGbk(item, value);
}

void DDX_Control(CDataExchange& dx, int id, CWnd& control) {
    if (!control.GetSafeHwnd()) control.Attach(dx.Dialog().GetDlgItem(id));
}

void SetMainWindow(HWND hwnd) {
    g_mainWindow = hwnd;
}
HWND GetMainWindow() {
    return g_mainWindow;
}

CDialog::~CDialog() {
    if (m_hWnd && ::IsWindow(m_hWnd)) {
        ::SetWindowLongPtrW(m_hWnd, DWLP_USER, 0);
        ::DestroyWindow(m_hWnd);
    }
}

CDialog* CDialog::FromHandle(HWND hwnd) {
    if (!hwnd ||
        ::GetWindowLongPtrW(hwnd, DWLP_DLGPROC) != reinterpret_cast<LONG_PTR>(&CDialog::DialogProc)) {
        return nullptr;
    }
    return reinterpret_cast<CDialog*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
}

bool CDialog::Create(int templateId, HWND parent, bool hidden) {
    m_nTemplateId = templateId;
    m_hParent = parent;
    m_bEndLoop = false;
    m_nModalResult = -1;
    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    std::vector<DWORD> copy;
    if (hidden) {
        // The dialog manager shows a window whose template has WS_VISIBLE right after WM_INITDIALOG:
        // create from a copy without it.
        HRSRC found =
            ::FindResourceW(instance, MAKEINTRESOURCEW(templateId), MAKEINTRESOURCEW(5) /* RT_DIALOG */);
        HGLOBAL loaded = found ? ::LoadResource(instance, found) : nullptr;
        const void* bytes = loaded ? ::LockResource(loaded) : nullptr;
        const DWORD size = found ? ::SizeofResource(instance, found) : 0;
        if (!bytes || size < sizeof(DLGTEMPLATE)) return false;
        copy.resize((size + sizeof(DWORD) - 1) / sizeof(DWORD));
        std::memcpy(copy.data(), bytes, size);
        const auto* words = reinterpret_cast<const WORD*>(copy.data());
        // An extended template starts with version 1 and signature 0xFFFF; its style is at byte 12.
        DWORD& style = words[0] == 1 && words[1] == 0xFFFF ? copy[3] : copy[0];
        style &= ~DWORD(WS_VISIBLE);
    }
    CDialog* outer = t_creating;
    t_creating = this;
    HWND hwnd =
        hidden
            ? ::CreateDialogIndirectParamW(instance, reinterpret_cast<LPCDLGTEMPLATEW>(copy.data()), parent,
                                           &CDialog::DialogProc, 0)
            : ::CreateDialogParamW(instance, MAKEINTRESOURCEW(templateId), parent, &CDialog::DialogProc, 0);
    t_creating = outer;
    return hwnd != nullptr;
}

INT_PTR CDialog::DoModal() {
    HWND owner = m_hParent ? m_hParent : GetMainWindow();
    if (owner && !::IsWindow(owner)) owner = nullptr;
    if (owner) owner = ::GetAncestor(owner, GA_ROOT);
    if (!Create(m_nTemplateId, owner)) return -1;
    const bool disableOwner = owner && ::IsWindowEnabled(owner);
    if (disableOwner) ::EnableWindow(owner, FALSE);
    ::ShowWindow(m_hWnd, SW_SHOW);

    m_bDoModal = true;
    INT_PTR result = RunModalLoop();
    m_bDoModal = false;

    // Hide first, then give the owner back its input and activation, then destroy.
    if (m_hWnd) {
        ::SetWindowPos(m_hWnd, nullptr, 0, 0, 0, 0,
                       SWP_HIDEWINDOW | SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE | SWP_NOZORDER);
    }
    if (disableOwner) ::EnableWindow(owner, TRUE);
    if (owner && ::GetActiveWindow() == m_hWnd) ::SetActiveWindow(owner);
    if (m_hWnd) ::DestroyWindow(m_hWnd);
    return result;
}

INT_PTR CDialog::RunModalLoop() {
    // An end asked for before the loop started (in OnInitDialog, say) ends it at once.
    m_bInModalLoop = true;
    MSG msg;
    while (!m_bEndLoop && m_hWnd) {
        BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            ::PostQuitMessage(int(msg.wParam));  // leave WM_QUIT for the outer loop
            break;
        }
        if (got == -1) break;
        if (!PreTranslateChain(&msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
    m_bInModalLoop = false;
    m_bEndLoop = false;
    return m_nModalResult;
}

void CDialog::EndModalLoop(INT_PTR result) {
    m_nModalResult = result;
    m_bEndLoop = true;
    if (m_hWnd) ::PostMessageW(m_hWnd, WM_NULL, 0, 0);  // wake the loop
}

void CDialog::EndDialog(INT_PTR result) {
    EndModalLoop(result);
    // DoModal hides the window itself, in the order that hands activation back to the owner.
    if (!m_bDoModal && m_hWnd) ::ShowWindow(m_hWnd, SW_HIDE);
}

bool CDialog::UpdateData(bool save) {
    ++m_nExchangeDepth;
    CDataExchange dx(*this, save);
    DoDataExchange(dx);
    --m_nExchangeDepth;
    return true;
}

BOOL CDialog::PreTranslateMessage(MSG* msg) {
    const bool input = (msg->message >= WM_KEYFIRST && msg->message <= WM_KEYLAST) ||
                       (msg->message >= WM_MOUSEFIRST && msg->message <= WM_MOUSELAST);
    return input && m_hWnd && ::IsDialogMessageW(m_hWnd, msg);
}

bool PreTranslateChain(MSG* msg) {
    for (HWND h = msg->hwnd; h;) {
        if (CDialog* dialog = CDialog::FromHandle(h); dialog && dialog->PreTranslateMessage(msg)) return true;
        if (!(::GetWindowLongW(h, GWL_STYLE) & WS_CHILD)) break;
        h = ::GetParent(h);
    }
    return false;
}

BOOL CDialog::OnInitDialog() {
    UpdateData(false);
    return TRUE;
}

void CDialog::OnOK() {
    if (UpdateData(true)) EndDialog(IDOK);
}

void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<CDialog*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
    if (!self) {
        self = t_creating;
        if (!self) return FALSE;
        t_creating = nullptr;
        self->m_hWnd = hwnd;
        ::SetWindowLongPtrW(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
    }
    INT_PTR result = FALSE;
    try {
        result = self->Dispatch(msg, wParam, lParam);
    } catch (...) {
        // Nothing may escape into Windows; the handler's work is simply not done.
        result = FALSE;
    }
    if (msg == WM_NCDESTROY) {
        ::SetWindowLongPtrW(hwnd, DWLP_USER, 0);
        if (self->m_hWnd == hwnd) {
            self->m_hWnd = nullptr;
            self->m_bEndLoop = true;
        }
    }
    return result;
}

INT_PTR CDialog::Dispatch(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_INITDIALOG:
            return OnInitDialog();
        case WM_COMMAND: {
            const WORD code = HIWORD(wParam), id = LOWORD(wParam);
            if (code == EN_CHANGE && IsExchanging()) return TRUE;
            if (OnCommand(code, id, reinterpret_cast<HWND>(lParam))) return TRUE;
            if (code == BN_CLICKED && id == IDOK) {
                OnOK();
                return TRUE;
            }
            if (code == BN_CLICKED && id == IDCANCEL) {
                OnCancel();
                return TRUE;
            }
            return FALSE;
        }
        case WM_NOTIFY: {
            LRESULT result = 0;
            if (!OnNotify(reinterpret_cast<NMHDR*>(lParam), &result)) return FALSE;
            ::SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, result);
            return TRUE;
        }
        case WM_TIMER:
            OnTimer(wParam);
            return TRUE;
        case WM_CLOSE:
            OnClose();
            return TRUE;
        case WM_HELP:
            // Every dialog answers F1 itself, by doing nothing.
            ::SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, TRUE);
            return TRUE;
        case WM_DRAWITEM:
            return OnDrawItem(int(wParam), reinterpret_cast<DRAWITEMSTRUCT*>(lParam));
        case WM_MEASUREITEM:
            return OnMeasureItem(int(wParam), reinterpret_cast<MEASUREITEMSTRUCT*>(lParam));
        default: {
            LRESULT result = 0;
            if (!OnMessage(msg, wParam, lParam, &result)) return FALSE;
            if (ReturnsDirectly(msg)) return INT_PTR(result);
            ::SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, result);
            return TRUE;
        }
    }
}

}  // namespace fw
