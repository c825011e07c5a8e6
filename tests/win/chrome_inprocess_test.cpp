// The confirmation dialog's chrome, from inside the program's own process (Wine
// gives no other process the system menu).
#include <gtest/gtest.h>

#include "app/removal_dialog.h"
#include "tests/win/driver.h"

namespace {

class TestApp : public CWinApp {
public:
    BOOL InitInstance() override { return FALSE; }
} g_app;

const UINT kProbe = WM_APP + 1;
const UINT_PTR kCloseAbout = 7;

BOOL CALLBACK FindAbout(HWND window, LPARAM param) {
    auto* found = reinterpret_cast<std::pair<HWND, HWND>*>(param);
    wchar_t cls[32] = {};
    GetClassNameW(window, cls, 32);
    if (window != found->first && std::wstring(cls) == L"#32770" && IsWindowVisible(window)) found->second = window;
    return TRUE;
}

class ChromeProbe : public CRemovalDialog {
public:
    std::string separatorType, lastText;
    UINT lastId = 0;
    int items = 0;
    HICON big = nullptr, small = nullptr, drag = nullptr;
    bool minimised = false;
    UINT closeHeld = 0, closeFree = 0;  // the menu's Close while the removal runs, and after
    std::vector<std::string> aboutCaptions;
    std::vector<HWND> aboutOwners;

protected:
    BOOL OnInitDialog() override {
        const BOOL result = CRemovalDialog::OnInitDialog();
        PostMessageW(m_hWnd, kProbe, 0, 0);
        return result;
    }
    void OnOK() override {
        ADD_FAILURE() << "OK must never run in a test process";
        CDialog::OnCancel();
    }
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override {
        if (message == kProbe) {
            Probe();
            EndDialog(IDCANCEL);
            return true;
        }
        if (message == WM_TIMER && wParam == kCloseAbout) {
            std::pair<HWND, HWND> found(m_hWnd, nullptr);
            EnumThreadWindows(GetCurrentThreadId(), FindAbout, reinterpret_cast<LPARAM>(&found));
            if (found.second) {
                KillTimer(m_hWnd, kCloseAbout);
                aboutCaptions.push_back(testwin::WindowText(found.second));
                aboutOwners.push_back(GetWindow(found.second, GW_OWNER));
                testwin::PressButton(found.second, IDOK);
            }
            return true;
        }
        return CRemovalDialog::OnMessage(message, wParam, lParam, result);
    }

private:
    void Probe() {
        HMENU menu = GetSystemMenu(m_hWnd, FALSE);
        ASSERT_NE(menu, nullptr);
        items = GetMenuItemCount(menu);
        ASSERT_GE(items, 2);
        MENUITEMINFOW info{};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_FTYPE;
        GetMenuItemInfoW(menu, static_cast<UINT>(items - 2), TRUE, &info);
        separatorType = (info.fType & MFT_SEPARATOR) ? "separator" : "item";
        wchar_t text[128] = {};
        GetMenuStringW(menu, static_cast<UINT>(items - 1), text, 128, MF_BYPOSITION);
        lastText = testwin::Utf8(text);
        lastId = GetMenuItemID(menu, items - 1);
        HoldClose(true);
        closeHeld = GetMenuState(menu, SC_CLOSE, MF_BYCOMMAND);
        HoldClose(false);
        closeFree = GetMenuState(menu, SC_CLOSE, MF_BYCOMMAND);
        big = reinterpret_cast<HICON>(SendMessageW(m_hWnd, WM_GETICON, ICON_BIG, 0));
        small = reinterpret_cast<HICON>(SendMessageW(m_hWnd, WM_GETICON, ICON_SMALL, 0));
        ShowWindow(m_hWnd, SW_MINIMIZE);
        minimised = IsIconic(m_hWnd) != FALSE;
        RedrawWindow(m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);  // paints the icon
        drag = reinterpret_cast<HICON>(SendMessageW(m_hWnd, WM_QUERYDRAGICON, 0, 0));
        ShowWindow(m_hWnd, SW_RESTORE);
        for (WPARAM command : {WPARAM(0x0010), WPARAM(0x0013)}) {
            SetTimer(m_hWnd, kCloseAbout, 100, nullptr);
            SendMessageW(m_hWnd, WM_SYSCOMMAND, command, 0);  // returns when the About box closes
        }
    }
};

TEST(ChromeInProcess, SystemMenuIconsAndAboutBox) {
    g_app.m_hInstance = GetModuleHandleW(nullptr);
    ChromeProbe dialog;
    g_app.m_pMainWnd = &dialog;
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    g_app.m_pMainWnd = nullptr;
    EXPECT_EQ(dialog.separatorType, "separator");
    EXPECT_EQ(dialog.lastText, "关于 Drevik(&A)...");
    EXPECT_EQ(dialog.lastId, 0x0010u);
    EXPECT_TRUE(dialog.closeHeld & MF_GRAYED);
    EXPECT_FALSE(dialog.closeFree & (MF_GRAYED | MF_DISABLED));
    EXPECT_NE(dialog.big, nullptr);
    EXPECT_EQ(dialog.big, dialog.small) << "the application icon serves both";
    EXPECT_TRUE(dialog.minimised);
    EXPECT_EQ(dialog.drag, dialog.big) << "dragging the minimised window shows the icon";
    ASSERT_EQ(dialog.aboutCaptions.size(), 2u) << "0x0010 and 0x0013 both open the About box";
    for (const std::string& caption : dialog.aboutCaptions) EXPECT_EQ(caption, "关于 Drevik");
    for (HWND owner : dialog.aboutOwners) EXPECT_NE(owner, nullptr);
}

}  // namespace
