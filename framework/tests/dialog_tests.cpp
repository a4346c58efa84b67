#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "CDialog.h"
#include "FakeServices.h"
#include "ModalDriver.h"

using namespace testing_support;

namespace {

constexpr int kParent = 100, kChild = 101, kEdit = 1001, kEdit2 = 1002, kChildEdit = 1101;

class ChildPanel : public fw::CDialog {
  public:
    ChildPanel() : CDialog(kChild) {}
    std::vector<UINT> forwarded;
    BOOL PreTranslateMessage(MSG* msg) override {
        if (msg->message == WM_KEYDOWN && msg->wParam == VK_RETURN) {
            forwarded.push_back(UINT(msg->wParam));
            return CDialog::FromHandle(::GetParent(m_hWnd))->PreTranslateMessage(msg);
        }
        return CDialog::PreTranslateMessage(msg);
    }
};

class TestDialog : public fw::CDialog {
  public:
    TestDialog() : CDialog(kParent) {}
    std::string value = "abcdef";
    std::vector<UINT> firstMessages;
    int changes = 0;
    bool throwOnCommand = false;
    ChildPanel panel;

  protected:
    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        panel.Create(kChild, m_hWnd);
        ::ShowWindow(panel.GetSafeHwnd(), SW_SHOW);
        return TRUE;
    }
    void DoDataExchange(fw::CDataExchange& dx) override { fw::DDX_Text(dx, kEdit, value, 4); }
    bool OnCommand(WORD code, WORD id, HWND) override {
        if (throwOnCommand && id == kEdit2) throw std::runtime_error("handler failed");
        if (code == EN_CHANGE && id == kEdit) ++changes;
        return false;
    }
    bool OnMessage(UINT msg, WPARAM, LPARAM, LRESULT*) override {
        if (firstMessages.size() < 3) firstMessages.push_back(msg);
        return false;
    }
};

TEST(Dialog, AttachesOnTheFirstMessageBeforeInit) {
    TestDialog dialog;
    ModalDriver driver;
    driver.Then([&] { Click(dialog.GetSafeHwnd(), IDCANCEL); });
    EXPECT_EQ(driver.Run([&] { return dialog.DoModal(); }), IDCANCEL);
    ASSERT_FALSE(dialog.firstMessages.empty());
    EXPECT_NE(dialog.firstMessages.front(), UINT(WM_INITDIALOG));  // WM_SETFONT and friends came first
}

TEST(Dialog, ExchangeSetsLimitAndSuppressesChangeNotifications) {
    TestDialog dialog;
    ModalDriver driver;
    std::wstring shown;
    int changesAfterInit = -1;
    driver
        .Then([&] {
            shown = TextOf(dialog.GetSafeHwnd(), kEdit);
            changesAfterInit = dialog.changes;
            Type(dialog.GetSafeHwnd(), kEdit, L"wxyz");  // typing does notify
        })
        .Then([&] { Click(dialog.GetSafeHwnd(), IDOK); });
    EXPECT_EQ(driver.Run([&] { return dialog.DoModal(); }), IDOK);
    EXPECT_EQ(shown, L"abcdef");  // the member is shown whole; the limit binds typing
    EXPECT_EQ(changesAfterInit, 0);
    EXPECT_EQ(dialog.changes, 1);
    EXPECT_EQ(dialog.value, "wxyz");  // OnOK saved the controls
}

TEST(Dialog, KeysReachChildFirstAndEnterEscapeEndTheModalRun) {
    TestDialog enter;
    ModalDriver driver;
    driver.Then([&] { PressKey(::GetDlgItem(enter.panel.GetSafeHwnd(), kChildEdit), VK_RETURN); });
    EXPECT_EQ(driver.Run([&] { return enter.DoModal(); }), IDOK);
    EXPECT_EQ(enter.panel.forwarded, std::vector<UINT>{VK_RETURN});

    TestDialog escape;
    ModalDriver driver2;
    driver2.Then([&] { PressKey(::GetDlgItem(escape.GetSafeHwnd(), kEdit), VK_ESCAPE); });
    EXPECT_EQ(driver2.Run([&] { return escape.DoModal(); }), IDCANCEL);
}

TEST(Dialog, OwnerIsDisabledDuringTheRunAndEnabledAfter) {
    TestDialog owner;
    ASSERT_TRUE(owner.Create(kParent, nullptr));
    ::ShowWindow(owner.GetSafeHwnd(), SW_SHOW);
    fw::SetMainWindow(owner.GetSafeHwnd());
    TestDialog modal;
    bool ownerEnabledDuring = true;
    ModalDriver driver;
    driver.Then([&] {
        ownerEnabledDuring = ::IsWindowEnabled(owner.GetSafeHwnd()) != FALSE;
        ::SendMessageW(modal.GetSafeHwnd(), WM_CLOSE, 0, 0);  // the close box cancels
    });
    EXPECT_EQ(driver.Run([&] { return modal.DoModal(); }), IDCANCEL);
    EXPECT_FALSE(ownerEnabledDuring);
    EXPECT_TRUE(::IsWindowEnabled(owner.GetSafeHwnd()));
    fw::SetMainWindow(nullptr);
}

TEST(Dialog, HelpIsAnsweredAndExceptionsStayInside) {
    TestDialog dialog;
    dialog.throwOnCommand = true;
    ModalDriver driver;
    LRESULT help = 0;
    driver
        .Then([&] {
            HELPINFO info{};
            info.cbSize = sizeof info;
            help = ::SendMessageW(dialog.GetSafeHwnd(), WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
            Click(dialog.GetSafeHwnd(), kEdit2);  // the handler throws; the dialog lives on
        })
        .Then([&] { Click(dialog.GetSafeHwnd(), IDCANCEL); });
    EXPECT_EQ(driver.Run([&] { return dialog.DoModal(); }), IDCANCEL);
    EXPECT_FALSE(driver.TimedOut());
    EXPECT_EQ(help, TRUE);
}

}  // namespace

namespace {

class EndsAtOnce : public fw::CDialog {
  public:
    EndsAtOnce() : CDialog(kParent) {}

  protected:
    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        EndDialog(IDABORT);  // e.g. a part of the dialog could not be created
        return TRUE;
    }
};

TEST(Dialog, EndDuringInitEndsTheModalRunAtOnce) {
    EndsAtOnce dialog;
    ModalDriver driver(3000);
    EXPECT_EQ(driver.Run([&] { return dialog.DoModal(); }), IDABORT);
    EXPECT_FALSE(driver.TimedOut());
}

}  // namespace

namespace {

class IconDialog : public fw::CDialog {
  public:
    IconDialog() : CDialog(kParent) {}
    HICON icon = ::LoadIconA(nullptr, IDI_INFORMATION);

  protected:
    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        fw::SetWindowIcon(m_hWnd, icon);
        return TRUE;
    }
    bool OnMessage(UINT msg, WPARAM, LPARAM, LRESULT* result) override {
        return fw::AnswerIconMessage(m_hWnd, icon, msg, result);
    }
};

TEST(Dialog, ShowsItsIconInTheCaptionTheTaskbarAndWhenDragged) {
    IconDialog dialog;
    ASSERT_TRUE(dialog.Create(kParent, nullptr));
    const HWND hwnd = dialog.GetSafeHwnd();
    EXPECT_EQ(reinterpret_cast<HICON>(::SendMessageW(hwnd, WM_GETICON, ICON_BIG, 0)), dialog.icon);
    EXPECT_EQ(reinterpret_cast<HICON>(::SendMessageW(hwnd, WM_GETICON, ICON_SMALL, 0)), dialog.icon);
    EXPECT_EQ(reinterpret_cast<HICON>(::SendMessageW(hwnd, WM_QUERYDRAGICON, 0, 0)), dialog.icon);
    EXPECT_NE(dialog.icon, nullptr);
}

}  // namespace

namespace {

class VisibleTemplate : public fw::CDialog {
  public:
    explicit VisibleTemplate(int id) : CDialog(id) {}
    bool initialised = false;

  protected:
    BOOL OnInitDialog() override {
        initialised = true;
        return CDialog::OnInitDialog();
    }
};

}  // namespace

TEST(Dialog, AVisibleTemplateCreatedHiddenStaysHiddenInEitherTemplateForm) {
    for (int id : {102, 103}) {
        SCOPED_TRACE(id);
        VisibleTemplate hidden(id), shown(id);
        ASSERT_TRUE(hidden.Create(id, nullptr, true));
        ASSERT_TRUE(shown.Create(id, nullptr));
        Pump();
        EXPECT_TRUE(hidden.initialised);
        EXPECT_FALSE(hidden.IsVisible());
        EXPECT_TRUE(shown.IsVisible());
        // Nothing else of the template changed.
        EXPECT_EQ(::GetWindowLongW(hidden.GetSafeHwnd(), GWL_STYLE) | WS_VISIBLE,
                  ::GetWindowLongW(shown.GetSafeHwnd(), GWL_STYLE));
        EXPECT_EQ(hidden.GetItemText(1001), "");
        EXPECT_NE(hidden.GetDlgItem(1001), nullptr);
    }
}
