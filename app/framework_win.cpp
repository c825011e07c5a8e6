#include "app/framework_win.h"

#include "platform/win_handles.h"

using platform::Widen;

namespace {
CWinApp* g_app = nullptr;
}

CWinApp::CWinApp() { g_app = this; }

CWinApp::~CWinApp() {
    if (g_app == this) g_app = nullptr;
}

CWinApp* CWinApp::Current() { return g_app; }

void CWinApp::Quit(int exitCode) { ::ExitProcess(static_cast<UINT>(exitCode)); }

HICON CWinApp::LoadIcon(UINT id) const {
    HINSTANCE module = m_hInstance ? m_hInstance : ::GetModuleHandleW(nullptr);
    return ::LoadIconW(module, MAKEINTRESOURCEW(id));
}

std::string CWinApp::LoadString(UINT id) const {
    HINSTANCE module = m_hInstance ? m_hInstance : ::GetModuleHandleW(nullptr);
    const wchar_t* text = nullptr;
    // A length of 0 asks for a pointer into the resource itself.
    const int length = ::LoadStringW(module, id, reinterpret_cast<wchar_t*>(&text), 0);
    return length > 0 && text ? platform::Narrow(text, static_cast<size_t>(length)) : std::string();
}

CDialog::CDialog(UINT templateId, CDialog* parent) : templateId_(templateId), parent_(parent) {}

CDialog::~CDialog() = default;

INT_PTR CDialog::DoModal() {
    HWND owner = parent_ ? parent_->m_hWnd : ::GetActiveWindow();
    if (!owner && CWinApp::Current() && CWinApp::Current()->m_pMainWnd) owner = CWinApp::Current()->m_pMainWnd->m_hWnd;
    HINSTANCE module = CWinApp::Current() ? CWinApp::Current()->m_hInstance : ::GetModuleHandleW(nullptr);
    const INT_PTR result = ::DialogBoxParamW(module, MAKEINTRESOURCEW(templateId_), owner, DialogProc,
                                             reinterpret_cast<LPARAM>(this));
    m_hWnd = nullptr;
    return result;
}

void CDialog::EndDialog(int result) { ::EndDialog(m_hWnd, result); }

void CDialog::SetWindowText(const std::string& text) { ::SetWindowTextW(m_hWnd, Widen(text).c_str()); }

void CDialog::SetDlgItemText(int id, const std::string& text) {
    ::SetDlgItemTextW(m_hWnd, id, Widen(text).c_str());
}

int CDialog::MessageBox(const std::string& text, const std::string& caption, UINT type) {
    return ::MessageBoxW(m_hWnd, Widen(text).c_str(), Widen(caption).c_str(), type);
}

BOOL CDialog::OnInitDialog() { return TRUE; }

void CDialog::OnOK() { EndDialog(IDOK); }

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

bool CDialog::OnMessage(UINT, WPARAM, LPARAM, LRESULT*) { return false; }

void CDialog::CenterOnOwner() {
    RECT window;
    ::GetWindowRect(m_hWnd, &window);
    RECT area;
    HWND owner = ::GetWindow(m_hWnd, GW_OWNER);
    if (owner && ::IsWindowVisible(owner) && !::IsIconic(owner)) {
        ::GetWindowRect(owner, &area);
    } else {
        MONITORINFO info{};
        info.cbSize = sizeof(info);
        ::GetMonitorInfoW(::MonitorFromWindow(m_hWnd, MONITOR_DEFAULTTOPRIMARY), &info);
        area = info.rcWork;
    }
    const int width = window.right - window.left;
    const int height = window.bottom - window.top;
    const int x = area.left + ((area.right - area.left) - width) / 2;
    const int y = area.top + ((area.bottom - area.top) - height) / 2;
    ::SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CDialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            CenterOnOwner();
            return OnInitDialog();
        case WM_COMMAND:
            if (lParam == 0 || HIWORD(wParam) == BN_CLICKED) {
                if (LOWORD(wParam) == IDOK) {
                    OnOK();
                    return TRUE;
                }
                if (LOWORD(wParam) == IDCANCEL) {
                    OnCancel();
                    return TRUE;
                }
            }
            break;
        case WM_CLOSE:
            OnCancel();
            return TRUE;
        default:
            break;
    }
    LRESULT result = 0;
    if (!OnMessage(message, wParam, lParam, &result)) return FALSE;
    switch (message) {
        // These return their result directly rather than through DWLP_MSGRESULT.
        case WM_QUERYDRAGICON:
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORBTN:
            return static_cast<INT_PTR>(result);
        default:
            ::SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, result);
            return TRUE;
    }
}

INT_PTR CALLBACK CDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    CDialog* self;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<CDialog*>(lParam);
        self->m_hWnd = window;
        ::SetWindowLongPtrW(window, DWLP_USER, lParam);
    } else {
        self = reinterpret_cast<CDialog*>(::GetWindowLongPtrW(window, DWLP_USER));
        if (!self) return FALSE;
    }
    // No exception may cross the system's frames.
    try {
        return self->Dispatch(message, wParam, lParam);
    } catch (...) {
        return message == WM_INITDIALOG ? TRUE : FALSE;
    }
}

namespace {
// The one box being watched for, on the one thread that shows it.
struct Watched {
    HWND owner = nullptr;
    int exitCode = 0;
    HWND box = nullptr;
    WNDPROC proc = nullptr;
} g_watched;
}  // namespace

QuitWithNextBox::QuitWithNextBox(HWND owner, int exitCode)
    : hook_(::SetWindowsHookExW(WH_CBT, Watch, nullptr, ::GetCurrentThreadId())) {
    g_watched = Watched{owner, exitCode, nullptr, nullptr};
}

QuitWithNextBox::~QuitWithNextBox() {
    if (hook_) ::UnhookWindowsHookEx(hook_);
    g_watched = Watched();
}

LRESULT CALLBACK QuitWithNextBox::Watch(int code, WPARAM wParam, LPARAM lParam) {
    // The box, as it is first activated: a dialog of the system's class, owned by the owner.
    if (code == HCBT_ACTIVATE && !g_watched.box) {
        const HWND window = reinterpret_cast<HWND>(wParam);
        wchar_t name[8] = {};
        if (::GetClassNameW(window, name, 8) == 6 && ::lstrcmpW(name, L"#32770") == 0 &&
            ::GetWindow(window, GW_OWNER) == g_watched.owner) {
            g_watched.box = window;
            g_watched.proc = reinterpret_cast<WNDPROC>(
                ::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(BoxProc)));
        }
    }
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT CALLBACK QuitWithNextBox::BoxProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    // OK, Enter, Esc, the close box and Alt+F4 all come as one of these.
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        CWinApp::Quit(g_watched.exitCode);
    }
    return ::CallWindowProcW(g_watched.proc, window, message, wParam, lParam);
}
