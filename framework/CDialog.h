// The dialog base: one static dialog procedure attaches the object on the first message its
// window receives and forwards to small virtual handlers. Modal runs use our own loop so that
// PreTranslateMessage sees every message, as nested dialogs (the schedule panel) need.
#pragma once

#include <string>

#include "CWnd.h"

namespace fw {

class CDialog;

// Data exchange between controls and members ("save": controls -> members).
class CDataExchange {
  public:
    CDataExchange(CDialog& dialog, bool save) : m_dialog(dialog), m_bSave(save) {}
    CDialog& Dialog() const { return m_dialog; }
    bool Saving() const { return m_bSave; }

  private:
    CDialog& m_dialog;
    bool m_bSave;
};

// Binds an edit to a GBK string; a positive limit is also set on the edit (in characters).
void DDX_Text(CDataExchange& dx, int id, std::string& value, int limit = 0);
// Binds a control to a wrapper object.
void DDX_Control(CDataExchange& dx, int id, CWnd& control);

class CDialog : public CWnd {
  public:
    explicit CDialog(int templateId, HWND parent = nullptr) : m_nTemplateId(templateId), m_hParent(parent) {}
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;
    virtual ~CDialog();

    // Runs the dialog modally; the owner (the parent, or else the main window) is disabled meanwhile.
    INT_PTR DoModal();
    // Creates the window without running a loop (a modeless or child dialog). hidden: the window
    // stays hidden even when its template says visible.
    bool Create(int templateId, HWND parent, bool hidden = false);
    INT_PTR RunModalLoop();
    void EndModalLoop(INT_PTR result);
    // Ends a modal run with result and hides the window.
    void EndDialog(INT_PTR result);
    bool IsModalLoopRunning() const { return m_bInModalLoop; }

    bool UpdateData(bool save);
    // True while a data exchange runs: change notifications are not acted on then.
    bool IsExchanging() const { return m_nExchangeDepth > 0; }

    virtual BOOL PreTranslateMessage(MSG* msg);

    // The window of the attached dialog object, if hwnd belongs to one.
    static CDialog* FromHandle(HWND hwnd);

  protected:
    virtual BOOL OnInitDialog();
    virtual void DoDataExchange(CDataExchange& dx) { (void)dx; }
    virtual void OnOK();
    virtual void OnCancel();
    virtual void OnClose() { OnCancel(); }
    virtual bool OnCommand(WORD code, WORD id, HWND control) {
        (void)code, (void)id, (void)control;
        return false;
    }
    virtual bool OnNotify(NMHDR* header, LRESULT* result) {
        (void)header, (void)result;
        return false;
    }
    virtual void OnTimer(UINT_PTR id) { (void)id; }
    virtual bool OnDrawItem(int id, DRAWITEMSTRUCT* item) {
        (void)id, (void)item;
        return false;
    }
    virtual bool OnMeasureItem(int id, MEASUREITEMSTRUCT* item) {
        (void)id, (void)item;
        return false;
    }
    // Every other message; return true with result set when handled.
    virtual bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) {
        (void)msg, (void)wParam, (void)lParam, (void)result;
        return false;
    }

    int m_nTemplateId;
    HWND m_hParent;

  private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    INT_PTR Dispatch(UINT msg, WPARAM wParam, LPARAM lParam);

    bool m_bInModalLoop = false;
    bool m_bDoModal = false;
    bool m_bEndLoop = false;
    INT_PTR m_nModalResult = -1;
    int m_nExchangeDepth = 0;
};

// The application's main window: the default owner of modal dialogs without a parent.
void SetMainWindow(HWND hwnd);
HWND GetMainWindow();

// Gives the messages of one loop iteration to the dialogs from msg->hwnd up to its top-level window.
bool PreTranslateChain(MSG* msg);

}  // namespace fw
