// Every dialog template as the windows rely on it: caption, styles, font, size, and each control's
// id, class, text, style and rectangle in tab order. Then each template is created for real, to
// prove the classes exist and the dialog manager walks the tab stops in the intended order.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "DialogTemplateReader.h"
#include "resource.h"

namespace {

constexpr int kNoId = -1;
constexpr DWORD kShown = WS_CHILD | WS_VISIBLE;
constexpr DWORD kLabel = kShown | WS_GROUP | SS_LEFT;
constexpr DWORD kHiddenLabel = WS_CHILD | SS_LEFT;
constexpr DWORD kEdit = kShown | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL;
constexpr DWORD kDigits = kEdit | ES_NUMBER;
constexpr DWORD kReadOnly = kEdit | ES_READONLY;
constexpr DWORD kButton = kShown | WS_TABSTOP | BS_PUSHBUTTON;
constexpr DWORD kDefault = kShown | WS_TABSTOP | BS_DEFPUSHBUTTON;
constexpr DWORD kGroupBox = kShown | BS_GROUPBOX;
constexpr DWORD kRadio = kShown | BS_AUTORADIOBUTTON;  // no tab stop: the group is reached by mouse
constexpr DWORD kCheck = kShown | WS_TABSTOP | BS_AUTOCHECKBOX;
constexpr DWORD kList = kShown | WS_BORDER | WS_TABSTOP;
constexpr DWORD kPlaceholder = WS_CHILD | WS_BORDER | SS_LEFT;
constexpr DWORD Hidden(DWORD style) {
    return style & ~WS_VISIBLE;
}

constexpr DWORD kEditorStyle = DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU;

struct Control {
    int id;
    const wchar_t* cls;
    const wchar_t* text;
    DWORD style;
    DialogUnitsRect rect;
};

struct Font {
    int pointSize;
    const wchar_t* typeface;
    int charset;
};
constexpr Font kSimSun9{9, L"宋体", GB2312_CHARSET};
constexpr Font kShellDlg8{8, L"MS Shell Dlg", DEFAULT_CHARSET};

struct Header {
    int id;
    const wchar_t* caption;
    DWORD style, exStyle;
    int cx, cy;
    Font font;
};

struct Dialog {
    Header header;
    std::vector<Control> controls;  // in tab order
    std::vector<int> tabStops;      // as the dialog manager walks them with every control shown
};

const std::vector<Dialog>& ExpectedDialogs() {
    static const std::vector<Dialog> dialogs = {
        {{IDD_PLAN_DESK, L"任务计划", kEditorStyle | WS_VISIBLE, WS_EX_APPWINDOW, 475, 345, kSimSun9},
         {
             {kNoId, L"Button", L"自动清理规则", kGroupBox, {6, 3, 463, 101}},
             {IDC_CLEAR_LIST, L"SysListView32", L"", kList | LVS_REPORT, {14, 16, 450, 85}},
             {kNoId, L"Button", L"自动备份规则", kGroupBox, {6, 109, 463, 101}},
             {IDC_BACKUP_LIST, L"SysListView32", L"", kList | LVS_REPORT, {14, 123, 450, 83}},
             {kNoId, L"Button", L"运行日志", kGroupBox, {6, 216, 463, 101}},
             {IDC_LOG_LIST, L"SysListView32", L"", kList | LVS_ICON | LVS_OWNERDRAWFIXED, {14, 228, 450, 84}},
             {IDC_MANUAL_RESTORE, L"Button", L"手动还原", kButton, {296, 320, 50, 22}},
             {IDC_AUTO_RUN, L"Button", L"自动运行", kButton, {355, 320, 50, 22}},
             {IDC_STOP_RUN, L"Button", L"停止运行", kButton | WS_DISABLED, {414, 320, 50, 22}},
             {IDC_MANUAL_BACKUP, L"Button", L"手动备份", Hidden(kButton), {237, 320, 50, 22}},
         },
         {IDC_CLEAR_LIST, IDC_BACKUP_LIST, IDC_LOG_LIST, IDC_MANUAL_RESTORE, IDC_AUTO_RUN,
          IDC_MANUAL_BACKUP}},
        {{IDD_LOGIN, L"登录 - 任务计划管理",
          DS_SHELLFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU, 0, 200, 110, kShellDlg8},
         {
             {IDC_LOGIN_USER, L"Edit", L"", kEdit, {77, 31, 85, 14}},
             {IDC_LOGIN_PASSWORD, L"Edit", L"", kEdit | ES_PASSWORD, {77, 58, 85, 14}},
             {IDC_LOGIN_BUTTON, L"Button", L"登录", kDefault, {51, 86, 50, 17}},
             {IDCANCEL, L"Button", L"退出", kButton, {116, 86, 50, 17}},
             {kNoId, L"Static", L"账号：", kLabel, {37, 33, 27, 10}},
             {kNoId, L"Static", L"密码：", kLabel, {37, 60, 27, 10}},
             {kNoId, L"Static", L"欢迎使用，请登录...", kShown | WS_GROUP | SS_CENTER, {2, 9, 195, 14}},
         },
         {IDC_LOGIN_USER, IDC_LOGIN_PASSWORD, IDC_LOGIN_BUTTON, IDCANCEL}},
        {{IDD_RUN_TIME, L"", DS_SETFONT | DS_CONTROL | WS_CHILD, 0, 166, 156, kSimSun9},
         {
             {kNoId, L"Button", L"执行方式 (0标识无效)", kGroupBox, {7, 4, 154, 146}},
             {IDC_MODE_INTERVAL, L"Button", L"间隔执行", kRadio | WS_GROUP, {17, 18, 51, 16}},
             {IDC_MODE_DAILY, L"Button", L"按天执行", kRadio, {77, 18, 51, 16}},
             {IDC_MODE_WEEKLY, L"Button", L"按周执行", kRadio, {17, 33, 51, 16}},
             {IDC_MODE_MONTHLY, L"Button", L"按月执行", kRadio, {77, 33, 51, 16}},
             {3024, L"Button", L"星期一", Hidden(kCheck) | WS_GROUP, {18, 54, 42, 15}},
             {3025, L"Button", L"星期二", Hidden(kCheck), {66, 54, 42, 15}},
             {3026, L"Button", L"星期三", Hidden(kCheck), {114, 54, 42, 15}},
             {3027, L"Button", L"星期四", Hidden(kCheck), {18, 71, 42, 15}},
             {3028, L"Button", L"星期五", Hidden(kCheck), {66, 71, 42, 15}},
             {3029, L"Button", L"星期六", Hidden(kCheck), {114, 71, 42, 15}},
             {3030, L"Button", L"星期日", Hidden(kCheck), {18, 88, 42, 15}},
             {IDC_INTERVAL_LABEL, L"Static", L"间隔时长(分钟)：", kHiddenLabel, {18, 54, 72, 11}},
             {IDC_INTERVAL, L"Edit", L"", Hidden(kDigits), {99, 54, 46, 12}},
             {IDC_DAY_LABEL, L"Static", L"执行日期(几号)：", kHiddenLabel, {18, 54, 72, 11}},
             {IDC_DAY, L"Edit", L"", Hidden(kDigits), {99, 54, 46, 12}},
             {IDC_TIME_LABEL, L"Static", L"执行时间：", kHiddenLabel, {18, 110, 58, 11}},
             {IDC_HOUR, L"Edit", L"", Hidden(kDigits), {99, 108, 16, 12}},
             {IDC_HOUR_LABEL, L"Static", L"时", kHiddenLabel, {115, 110, 11, 9}},
             {IDC_MINUTE, L"Edit", L"", Hidden(kDigits), {125, 108, 16, 12}},
             {IDC_MINUTE_LABEL, L"Static", L"分", kHiddenLabel, {143, 110, 11, 9}},
         },
         // The minute edit ends the walk (the interval edit stands alone in its mode), which is
         // where the panel hands Tab on to its editor.
         {3024, 3025, 3026, 3027, 3028, 3029, 3030, IDC_INTERVAL, IDC_DAY, IDC_HOUR, IDC_MINUTE}},
        {{IDD_CLEAR_RULE, L"清理规则配置", kEditorStyle, 0, 383, 236, kSimSun9},
         {
             {kNoId, L"Static", L"规则描述：", kLabel, {19, 15, 49, 12}},
             {IDC_DESCRIPTION, L"Edit", L"", kEdit, {67, 14, 211, 13}},
             {kNoId, L"Static", L"监控路径：", kLabel, {19, 35, 49, 12}},
             {IDC_CLEAR_PATH, L"Edit", L"", kReadOnly, {67, 34, 211, 13}},
             {IDC_PICK_PATH, L"Button", L"...", kButton, {283, 34, 19, 14}},
             {IDC_FREE_SPACE_CHECK,
              L"Button",
              L"确保磁盘空间剩余(百分比，区间[5,95])",
              kCheck,
              {17, 55, 162, 14}},
             {IDC_FREE_SPACE_PERCENT, L"Edit", L"", Hidden(kDigits), {182, 56, 46, 13}},
             {IDC_PANEL_PLACEHOLDER, L"Static", L"", kPlaceholder, {2, 75, 172, 156}},
             {kNoId, L"Button", L"删除条件 (按照文件名称及最后修改日期检索)", kGroupBox, {177, 80, 197, 146}},
             {kNoId, L"Static", L"保存天数(0标识不检测此项)：", kLabel, {191, 99, 112, 12}},
             {IDC_KEEP_DAYS, L"Edit", L"", kDigits, {306, 97, 55, 13}},
             {kNoId, L"Static", L"按名称匹配(多个关键字用','隔开)：", kLabel, {191, 117, 168, 12}},
             {IDC_NAME_FILTER, L"Edit", L"", kEdit, {190, 129, 171, 13}},
             {kNoId, L"Static", L"大小范围：", kLabel, {191, 150, 59, 12}},
             {kNoId, L"Static", L"-", kLabel, {296, 150, 11, 10}},
             {kNoId, L"Static", L"KB", kLabel, {348, 150, 11, 10}},
             {IDC_MIN_SIZE, L"Edit", L"", kDigits, {252, 148, 39, 13}},
             {IDC_MAX_SIZE, L"Edit", L"", kDigits, {306, 148, 39, 13}},
             {kNoId, L"Static", L"日期范围(格式：YYYYMMDD 0标识不检测此项)：", kLabel, {191, 167, 178, 12}},
             {kNoId, L"Static", L"-", kLabel, {235, 179, 11, 10}},
             {IDC_START_DATE, L"Edit", L"", kDigits, {191, 177, 39, 13}},
             {IDC_END_DATE, L"Edit", L"", kDigits, {245, 177, 39, 13}},
             {kNoId, L"Static", L"时间范围(格式:HHMM 0标识不检测此项)：", kLabel, {191, 196, 178, 12}},
             {kNoId, L"Static", L"时", kLabel, {209, 209, 11, 10}},
             {kNoId, L"Static", L"分", kLabel, {236, 209, 11, 10}},
             {kNoId, L"Static", L"-", kLabel, {251, 209, 11, 10}},
             {kNoId, L"Static", L"时", kLabel, {287, 209, 11, 10}},
             {kNoId, L"Static", L"分", kLabel, {314, 209, 11, 10}},
             {IDC_START_HOUR, L"Edit", L"", kDigits, {192, 207, 16, 13}},
             {IDC_START_MINUTE, L"Edit", L"", kDigits, {218, 207, 16, 13}},
             {IDC_END_HOUR, L"Edit", L"", kDigits, {270, 207, 16, 13}},
             {IDC_END_MINUTE, L"Edit", L"", kDigits, {296, 207, 16, 13}},
             {IDOK, L"Button", L"保存", kDefault, {315, 20, 55, 33}},
         },
         {IDC_DESCRIPTION, IDC_CLEAR_PATH, IDC_PICK_PATH, IDC_FREE_SPACE_CHECK, IDC_FREE_SPACE_PERCENT,
          IDC_KEEP_DAYS, IDC_NAME_FILTER, IDC_MIN_SIZE, IDC_MAX_SIZE, IDC_START_DATE, IDC_END_DATE,
          IDC_START_HOUR, IDC_START_MINUTE, IDC_END_HOUR, IDC_END_MINUTE, IDOK}},
        {{IDD_BACKUP_RULE, L"备份规则配置", kEditorStyle, 0, 309, 236, kSimSun9},
         {
             {kNoId, L"Static", L"规则描述：", kLabel, {19, 15, 49, 12}},
             {IDC_DESCRIPTION, L"Edit", L"", kEdit, {67, 14, 211, 13}},
             {kNoId, L"Static", L"监控路径：", kLabel, {19, 35, 49, 12}},
             {IDC_BACKUP_SOURCE, L"Edit", L"", kReadOnly, {67, 34, 211, 13}},
             {IDC_PICK_PATH, L"Button", L"...", kButton, {283, 34, 19, 14}},
             {kNoId, L"Static", L"备份路径：", kLabel, {19, 55, 49, 12}},
             {IDC_BACKUP_TARGET, L"Edit", L"", kReadOnly, {67, 54, 211, 13}},
             {IDC_PICK_BACKUP_TARGET, L"Button", L"...", kButton, {283, 54, 19, 14}},
             {IDC_PANEL_PLACEHOLDER, L"Static", L"", kPlaceholder, {2, 75, 172, 156}},
             {kNoId, L"Static", L"保存天数(0标识不检测此项)：", kLabel, {185, 77, 112, 12}},
             {IDC_KEEP_DAYS, L"Edit", L"", kDigits, {185, 93, 55, 13}},
             {IDC_SOURCE_IS_FOLDER, L"Button", L"备份文件夹", kRadio | WS_GROUP, {187, 113, 91, 13}},
             {IDC_SOURCE_IS_FILE, L"Button", L"备份文件", kRadio, {187, 134, 91, 13}},
             {IDOK, L"Button", L"保存", kDefault | WS_GROUP, {235, 187, 55, 33}},
         },
         {IDC_DESCRIPTION, IDC_BACKUP_SOURCE, IDC_PICK_PATH, IDC_BACKUP_TARGET, IDC_PICK_BACKUP_TARGET,
          IDC_KEEP_DAYS, IDOK}},
        {{IDD_RESTORE, L"手动备份与还原", kEditorStyle, 0, 255, 133, kSimSun9},
         {
             {kNoId, L"Static", L"请选择备份文件：", kLabel, {11, 13, 175, 12}},
             {IDC_RESTORE_FILE, L"Edit", L"", kReadOnly, {11, 27, 211, 13}},
             {IDC_PICK_RESTORE_FILE, L"Button", L"...", kButton, {227, 27, 19, 14}},
             {kNoId, L"Static", L"请选择源目录路径：", kLabel, {11, 54, 175, 12}},
             {IDC_RESTORE_FOLDER, L"Edit", L"", kReadOnly, {11, 67, 211, 13}},
             {IDC_PICK_RESTORE_FOLDER, L"Button", L"...", kButton, {227, 67, 19, 14}},
             {IDC_RESTORE_BACKUP, L"Button", L"备份", kButton, {71, 97, 45, 22}},
             {IDOK, L"Button", L"还原", kButton, {139, 98, 45, 22}},
         },
         {IDC_RESTORE_FILE, IDC_PICK_RESTORE_FILE, IDC_RESTORE_FOLDER, IDC_PICK_RESTORE_FOLDER,
          IDC_RESTORE_BACKUP, IDOK}},
        {{IDD_CLEAR_PREVIEW, L"清理预览",
          DS_SETFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MAXIMIZEBOX, 0, 420, 250,
          kSimSun9},
         {
             {IDC_PREVIEW_SUMMARY, L"Static", L"", kShown | SS_LEFT | SS_NOPREFIX, {7, 7, 406, 20}},
             {IDC_PREVIEW_LIST,
              L"SysListView32",
              L"",
              kList | LVS_REPORT | LVS_OWNERDATA | LVS_SHOWSELALWAYS,
              {7, 31, 406, 188}},
             {IDC_PREVIEW_EXPORT, L"Button", L"导出列表(&E)…", kButton | WS_DISABLED, {235, 226, 64, 17}},
             {IDC_PREVIEW_CLEAN, L"Button", L"立即清理(&R)", kButton | WS_DISABLED, {305, 226, 52, 17}},
             {IDCANCEL, L"Button", L"关闭", kButton, {361, 226, 52, 17}},
         },
         {IDC_PREVIEW_LIST, IDCANCEL}},
    };
    return dialogs;
}

TEST(DialogTemplates, MatchTheWindowsLayoutControlByControl) {
    for (const Dialog& want : ExpectedDialogs()) {
        SCOPED_TRACE(testing::Message() << "template " << want.header.id);
        DialogTemplate got;
        ASSERT_TRUE(ReadDialogTemplate(GetModuleHandleW(nullptr), want.header.id, got));
        EXPECT_EQ(got.caption, want.header.caption);
        EXPECT_EQ(got.style, want.header.style);
        EXPECT_EQ(got.exStyle, want.header.exStyle);
        EXPECT_EQ(got.rect, (DialogUnitsRect{0, 0, want.header.cx, want.header.cy}));
        EXPECT_EQ(got.menu, L"");
        EXPECT_EQ(got.windowClass, L"");
        EXPECT_EQ(got.pointSize, want.header.font.pointSize);
        EXPECT_EQ(got.typeface, want.header.font.typeface);
        EXPECT_EQ(got.weight, FW_NORMAL);
        EXPECT_EQ(got.italic, 0);
        EXPECT_EQ(got.charset, want.header.font.charset);
        ASSERT_EQ(got.items.size(), want.controls.size());
        for (size_t i = 0; i < want.controls.size(); ++i) {
            const Control& w = want.controls[i];
            const DialogItem& g = got.items[i];
            SCOPED_TRACE(testing::Message() << "control #" << i << " id " << w.id);
            EXPECT_EQ(g.id, w.id);
            EXPECT_EQ(CompareStringOrdinal(g.className.c_str(), -1, w.cls, -1, TRUE), CSTR_EQUAL)
                << "class " << testing::PrintToString(g.className);
            EXPECT_EQ(g.text, w.text);
            EXPECT_EQ(g.style, w.style) << std::hex << "0x" << g.style << " != 0x" << w.style;
            EXPECT_EQ(g.exStyle, 0u);
            EXPECT_EQ(g.rect, w.rect);
        }
    }
}

INT_PTR CALLBACK QuietDialogProc(HWND, UINT, WPARAM, LPARAM) {
    return FALSE;
}

// Creates the template without showing it; a child template gets a hidden host window.
class HiddenDialog {
  public:
    HiddenDialog(int id, bool child) {
        std::vector<BYTE> bytes = DialogTemplateBytes(GetModuleHandleW(nullptr), id);
        if (bytes.size() < 16) return;
        DWORD style;
        std::memcpy(&style, &bytes[12], sizeof style);  // DLGTEMPLATEEX::style
        style &= ~WS_VISIBLE;
        std::memcpy(&bytes[12], &style, sizeof style);
        if (child)
            m_host = CreateWindowExW(0, L"Static", L"", WS_POPUP, 0, 0, 600, 600, nullptr, nullptr, nullptr,
                                     nullptr);
        m_dialog = CreateDialogIndirectParamW(GetModuleHandleW(nullptr),
                                              reinterpret_cast<LPCDLGTEMPLATEW>(bytes.data()), m_host,
                                              QuietDialogProc, 0);
    }
    ~HiddenDialog() {
        if (m_dialog) DestroyWindow(m_dialog);
        if (m_host) DestroyWindow(m_host);
    }
    HiddenDialog(const HiddenDialog&) = delete;
    HiddenDialog& operator=(const HiddenDialog&) = delete;
    HWND Get() const { return m_dialog; }

  private:
    HWND m_host = nullptr;
    HWND m_dialog = nullptr;
};

std::wstring ClassOf(HWND hwnd) {
    wchar_t name[64] = {};
    GetClassNameW(hwnd, name, 64);
    return name;
}

TEST(DialogTemplates, CreateWithEveryControlAndWalkTheTabStopsInOrder) {
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
    ASSERT_TRUE(InitCommonControlsEx(&icc));
    for (const Dialog& want : ExpectedDialogs()) {
        SCOPED_TRACE(testing::Message() << "template " << want.header.id);
        HiddenDialog dialog(want.header.id, (want.header.style & WS_CHILD) != 0);
        ASSERT_NE(dialog.Get(), nullptr) << "error " << GetLastError();

        // Children in creation order, the order the dialog manager tabs through.
        std::vector<HWND> children;
        for (HWND c = GetWindow(dialog.Get(), GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
            children.push_back(c);
        ASSERT_EQ(children.size(), want.controls.size());
        for (size_t i = 0; i < children.size(); ++i) {
            SCOPED_TRACE(testing::Message() << "control #" << i);
            EXPECT_EQ(static_cast<int>(static_cast<short>(GetDlgCtrlID(children[i]))), want.controls[i].id);
            EXPECT_EQ(CompareStringOrdinal(ClassOf(children[i]).c_str(), -1, want.controls[i].cls, -1, TRUE),
                      CSTR_EQUAL)
                << testing::PrintToString(ClassOf(children[i]));
        }

        // With every control shown, Tab visits exactly the intended stops, disabled ones excepted.
        for (HWND c : children) ShowWindow(c, SW_SHOWNA);
        std::vector<int> walked;
        HWND first = GetNextDlgTabItem(dialog.Get(), nullptr, FALSE);
        for (HWND c = first; c && walked.size() <= children.size();) {
            walked.push_back(GetDlgCtrlID(c));
            c = GetNextDlgTabItem(dialog.Get(), c, FALSE);
            if (c == first) break;
        }
        EXPECT_EQ(walked, want.tabStops);
    }
}

}  // namespace
