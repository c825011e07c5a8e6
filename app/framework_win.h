// A thin application framework: one application object and modal dialogs whose
// window procedure forwards to virtual handlers.
#pragma once

#include <windows.h>

#include <string>

class CWinApp {
public:
    CWinApp();
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // Returning FALSE ends the program without entering a message loop.
    virtual BOOL InitInstance() = 0;

    // Loads a group icon of this program's resources.
    HICON LoadIcon(UINT id) const;
    // A string of this program's string table (UTF-8); empty when absent.
    std::string LoadString(UINT id) const;

    static CWinApp* Current();
    // Ends the process at once with `exitCode`. Its windows go with it, all at once,
    // instead of being hidden one by one: under Wine without a window manager, each
    // top-level window hidden waits 2 s for a manager that never answers.
    [[noreturn]] static void Quit(int exitCode);

    HINSTANCE m_hInstance = nullptr;
    const char* m_lpCmdLine = "";  // the command-line tail, verbatim, UTF-8
    class CDialog* m_pMainWnd = nullptr;
    int m_exitCode = 0;  // the process's exit code
};

class CDialog {
public:
    explicit CDialog(UINT templateId, CDialog* parent = nullptr);
    virtual ~CDialog();
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    // Runs the dialog modally; its owner is the parent, else the active window,
    // else the application's main window.
    INT_PTR DoModal();
    void EndDialog(int result);

    // Texts are UTF-8; the window is a Unicode one.
    void SetWindowText(const std::string& text);
    void SetDlgItemText(int id, const std::string& text);
    int MessageBox(const std::string& text, const std::string& caption, UINT type);

    HWND m_hWnd = nullptr;

protected:
    virtual void DoDataExchange() {}
    // Called while the window is created, before it is shown; TRUE lets the
    // system set the initial focus.
    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();
    // The message map: return true when handled, with the message's result.
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
    void CenterOnOwner();

    UINT templateId_;
    CDialog* parent_;
};

// While it lives, the next message box this thread shows over `owner` ends the
// process with `exitCode` (CWinApp::Quit) as soon as the user dismisses it, before
// the box would be taken down: for a run's last message, after which nothing is left
// to do. Should the box escape it, the box returns as usual.
class QuitWithNextBox {
public:
    QuitWithNextBox(HWND owner, int exitCode);
    ~QuitWithNextBox();
    QuitWithNextBox(const QuitWithNextBox&) = delete;
    QuitWithNextBox& operator=(const QuitWithNextBox&) = delete;

private:
    static LRESULT CALLBACK Watch(int code, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK BoxProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    HHOOK hook_;
};
