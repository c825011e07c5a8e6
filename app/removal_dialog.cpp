#include "app/removal_dialog.h"

#include "app/about_box.h"
#include "app/chrome.h"
#include "app/resource.h"
#include "platform/platform_win.h"
#include "platform/program_win.h"
#include "platform/win_handles.h"
#include "removal/removal_sequence.h"

CRemovalDialog::CRemovalDialog(const char* argument, platform::TextSink* log, const platform::ProductLock* lock,
                               CDialog* parent)
    : CDialog(ID_REMOVAL_DIALOG, parent),
      m_icon(CWinApp::Current()->LoadIcon(ID_APP_ICON)),
      m_argument(argument ? argument : CWinApp::Current()->m_lpCmdLine),
      m_log(log),
      m_lock(lock),
      m_exitCode(kExitCancelled) {}

BOOL CRemovalDialog::OnInitDialog() {
    CDialog::OnInitDialog();
    SetUpChrome();
    if (m_lock) m_lock->Mark(m_hWnd);
    ManifestTexts texts;
    try {
        ReadManifest(platform::Windows(), m_argument, m_plan, texts);
    } catch (...) {
        // Out of memory while reading: show what was read so far.
    }
    ApplyTexts(texts);
    return TRUE;
}

void CRemovalDialog::SetUpChrome() {
    if (HMENU menu = ::GetSystemMenu(m_hWnd, FALSE)) {
        const platform::WideString text = platform::Widen(CWinApp::Current()->LoadString(ID_ABOUT_MENU_TEXT));
        if (!text.empty()) {
            ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
            ::AppendMenuW(menu, MF_STRING, kAboutCommand, text.c_str());
        }
    }
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_icon));
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_icon));
}

bool CRemovalDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    switch (message) {
        case WM_SYSCOMMAND:
            return OnSysCommand(static_cast<UINT>(wParam), lParam);
        case WM_PAINT:
            return OnPaint();
        case WM_QUERYDRAGICON:
            *result = reinterpret_cast<LRESULT>(OnQueryDragIcon());
            return true;
        default:
            return false;
    }
}

bool CRemovalDialog::OnSysCommand(UINT command, LPARAM) {
    if (!IsAboutCommand(command)) return false;  // the system's own handling
    CAboutBox about;
    about.DoModal();
    return true;
}

bool CRemovalDialog::OnPaint() {
    if (!::IsIconic(m_hWnd)) return false;  // the dialog paints itself as usual
    PAINTSTRUCT paint;
    HDC dc = ::BeginPaint(m_hWnd, &paint);
    ::SendMessageW(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client;
    ::GetClientRect(m_hWnd, &client);
    const IconOrigin at = CentredIcon(client.right - client.left, client.bottom - client.top,
                                      ::GetSystemMetrics(SM_CXICON), ::GetSystemMetrics(SM_CYICON));
    ::DrawIcon(dc, at.x, at.y, m_icon);
    ::EndPaint(m_hWnd, &paint);
    return true;
}

HCURSOR CRemovalDialog::OnQueryDragIcon() const { return static_cast<HCURSOR>(m_icon); }

void CRemovalDialog::ApplyTexts(const ManifestTexts& texts) {
    if (!texts.present) return;
    SetDlgItemText(ID_PROMPT_TEXT, texts.prompt);
    m_plan.displayName = texts.displayName;
    SetWindowText(texts.caption);
}

void CRemovalDialog::OnOK() { RunRemoval(); }

void CRemovalDialog::OnCancel() {
    if (m_removing) return;
    if (m_log) m_log->Line("cancelled");
    CDialog::OnCancel();
}

void CRemovalDialog::RunRemoval() {
    // The completion box's own message loop could deliver a posted OK again.
    if (m_removing) return;
    m_removing = true;
    ::EnableWindow(::GetDlgItem(m_hWnd, IDOK), FALSE);
    ::EnableWindow(::GetDlgItem(m_hWnd, IDCANCEL), FALSE);
    platform::Platform& os = platform::Windows();
    RemovalReport report(os, m_log);
    report.onStatus = [this](const std::string& text) {
        SetDlgItemText(ID_PROMPT_TEXT, text);
        ::UpdateWindow(::GetDlgItem(m_hWnd, ID_PROMPT_TEXT));
    };
    int result = kExitIncomplete;
    try {
        RemovalSettings settings;
        settings.owner = m_hWnd;
        settings.manifestPath = ManifestPath(GetProgramFolder(os), m_argument);
        result = ::RunRemoval(os, m_plan, settings, report, &m_selfRemoval);
    } catch (...) {
        // Out of memory outside every item's guard: the dialog still ends.
    }
    m_exitCode = result;
    EndDialog(result == kExitCancelled ? IDCANCEL : IDOK);
}
