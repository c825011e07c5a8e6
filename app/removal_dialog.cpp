#include "app/removal_dialog.h"

#include <commctrl.h>

#include "app/about_box.h"
#include "app/after_exit.h"
#include "app/chrome.h"
#include "app/messages.h"
#include "app/resource.h"
#include "platform/lock_win.h"
#include "platform/platform_win.h"
#include "platform/taskbar_win.h"
#include "platform/win_handles.h"
#include "removal/removal_sequence.h"

namespace {

// The removal's thread posts Update (something to show) and Done (it has ended), and
// sends Ask (close running programs?). Registered under names of this program's own,
// so no other program's WM_APP messages mean anything here; and since any program may
// still post these, each handler acts only on the state it finds, never on what a
// message carries.
struct RemovalMessages {
    UINT update, done, ask;
};
UINT Registered(const wchar_t* name, UINT otherwise) {
    const UINT message = ::RegisterWindowMessageW(name);
    return message ? message : otherwise;
}
const RemovalMessages& Messages() {
    static const RemovalMessages messages = {
        Registered(L"Drevik.Remover.Removal.Update.6b1f0c52", WM_APP + 1),
        Registered(L"Drevik.Remover.Removal.Done.6b1f0c52", WM_APP + 2),
        Registered(L"Drevik.Remover.Removal.Ask.6b1f0c52", WM_APP + 3),
    };
    return messages;
}
// The removal posts at most this often; the dialog looks once more this long
// after each post, for what came meanwhile.
const DWORD kUpdateMs = 50;
const UINT_PTR kLookAgainTimer = 1;

class Lock {
public:
    explicit Lock(SRWLOCK& lock) : lock_(lock) { ::AcquireSRWLockExclusive(&lock_); }
    ~Lock() { ::ReleaseSRWLockExclusive(&lock_); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

private:
    SRWLOCK& lock_;
};

}  // namespace

// What the removal tells, handed from its thread to the dialog's. Its thread never
// waits on the window, but to ask the user.
class CRemovalDialog::Feed : public RunListener {
public:
    struct Shown {
        std::string status;  // the status line, when it changed since last shown
        uint32_t done = 0;
        bool busy = false;
    };

    Feed(platform::Platform& os, platform::TextSink* log, HWND window) : RunListener(os, log, window) {}

    void Status(RemovalStep step, const std::string& command) override {
        RunListener::Status(step, command);
        {
            Lock lock(lock_);
            shown_.status = StatusText(step, command);
        }
        Post();
    }
    void Progress(uint32_t done, bool busy) override {
        {
            Lock lock(lock_);
            shown_.done = done;
            shown_.busy = busy;
        }
        Post();
    }
    // Asked on the dialog's thread, which may show a box; this thread waits for the answer.
    bool AskRetry(const std::vector<std::string>& programs) override {
        {
            Lock lock(lock_);
            question_ = &programs;
            answered_ = false;
        }
        ::SendMessageW(Window(), Messages().ask, 0, 0);
        // A copy of the message posted from elsewhere may have asked first: its answer counts.
        ::WaitForSingleObject(answeredEvent_.get(), INFINITE);
        Lock lock(lock_);
        question_ = nullptr;
        return answer_;
    }
    // On the dialog's thread: asks the question the removal waits on, if there is one
    // that nobody has asked yet.
    bool AnswerPending() {
        const std::vector<std::string>* question;
        {
            Lock lock(lock_);
            if (!question_ || asking_ || answered_) return false;
            question = question_;
            asking_ = true;
        }
        const bool answer = RunListener::AskRetry(*question);
        {
            Lock lock(lock_);
            answer_ = answer;
            answered_ = true;
            asking_ = false;
        }
        ::SetEvent(answeredEvent_.get());  // once per question
        return answer;
    }

    Shown Take() {
        Lock lock(lock_);
        Shown shown = shown_;
        shown_.status.clear();
        return shown;
    }
    // The last the removal's thread does: after it, it touches nothing of this.
    void Ended(RemovalOutcome outcome) {
        const HWND window = Window();
        {
            Lock lock(lock_);
            outcome_ = std::move(outcome);
            ended_ = true;
        }
        ::PostMessageW(window, Messages().done, 0, 0);
    }
    bool HasEnded() {
        Lock lock(lock_);
        return ended_;
    }
    RemovalOutcome Result() {
        Lock lock(lock_);
        return outcome_;
    }

private:
    HWND Window() const { return static_cast<HWND>(owner_); }
    void Post() {
        const DWORD now = ::GetTickCount();
        if (posted_ && now - lastPost_ < kUpdateMs) return;
        posted_ = true;
        lastPost_ = now;
        ::PostMessageW(Window(), Messages().update, 0, 0);
    }

    SRWLOCK lock_ = SRWLOCK_INIT;
    Shown shown_;
    RemovalOutcome outcome_;
    bool ended_ = false;
    const std::vector<std::string>* question_ = nullptr;  // the removal's, while it waits
    bool asking_ = false, answered_ = false, answer_ = false;
    platform::unique_handle answeredEvent_{::CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    bool posted_ = false;  // the removal's thread alone uses these two
    DWORD lastPost_ = 0;
};

CRemovalDialog::CRemovalDialog(const RunContext* context, platform::TextSink* log, const platform::ProductLock* lock,
                               const std::string& logPath, CDialog* parent)
    : CDialog(ID_REMOVAL_DIALOG, parent),
      m_icon(CWinApp::Current()->LoadIcon(ID_APP_ICON)),
      m_context(context ? *context : MakeRunContext(platform::Windows(), CWinApp::Current()->m_lpCmdLine)),
      m_log(log),
      m_logPath(logPath),
      m_lock(lock),
      m_exitCode(kExitCancelled) {}

CRemovalDialog::~CRemovalDialog() = default;

BOOL CRemovalDialog::OnInitDialog() {
    CDialog::OnInitDialog();
    SetUpChrome();
    if (m_lock) m_lock->Mark(m_hWnd);
    ManifestTexts texts;
    try {
        ReadManifest(platform::Windows(), m_context, m_plan, texts);
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
        case WM_QUERYENDSESSION:
            // Shut down half-way, the product would be left half removed.
            if (!m_feed) return false;
            *result = FALSE;
            return true;
        case WM_TIMER:
            if (wParam != kLookAgainTimer) return false;
            ::KillTimer(m_hWnd, kLookAgainTimer);
            if (m_feed) ShowProgress();
            return true;
        default:
            break;
    }
    const RemovalMessages& removal = Messages();
    if (message == removal.update) {
        if (m_feed) {
            ShowProgress();
            ::SetTimer(m_hWnd, kLookAgainTimer, kUpdateMs, nullptr);
        }
        return true;
    }
    if (message == removal.ask) {
        *result = m_feed && m_feed->AnswerPending();
        return true;
    }
    if (message == removal.done) {
        // Only a removal that has really ended finishes: its thread no longer uses the feed.
        if (m_feed && m_feed->HasEnded()) Finish();
        return true;
    }
    return false;
}

void CRemovalDialog::HoldClose(bool held) {
    if (HMENU menu = ::GetSystemMenu(m_hWnd, FALSE)) {
        ::EnableMenuItem(menu, SC_CLOSE, MF_BYCOMMAND | (held ? MF_GRAYED : MF_ENABLED));
    }
}

bool CRemovalDialog::OnSysCommand(UINT command, LPARAM) {
    if (!IsAboutCommand(command)) return false;  // the system's own handling
    CAboutBox about;
    m_aboutOpen = true;
    about.DoModal();
    m_aboutOpen = false;
    // The removal ended while the box was open: the final message comes now.
    if (m_finishPending) Finish();
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
    HoldClose(true);
    // Below the status line, where there was nothing until now.
    RECT place = {7, 56, 7 + 232, 56 + 8};
    ::MapDialogRect(m_hWnd, &place);
    m_bar = ::CreateWindowExW(0, PROGRESS_CLASSW, nullptr, WS_CHILD | WS_VISIBLE | PBS_SMOOTH, place.left, place.top,
                              place.right - place.left, place.bottom - place.top, m_hWnd,
                              reinterpret_cast<HMENU>(static_cast<UINT_PTR>(ID_PROGRESS_BAR)), nullptr, nullptr);
    ::SendMessageW(m_bar, PBM_SETRANGE32, 0, kProgressEnd);
    m_taskbar.reset(new platform::TaskbarProgress(m_hWnd));
    platform::Platform& os = platform::Windows();
    m_feed.reset(new Feed(os, m_log, m_hWnd));
    Messages();  // registered here, on this thread, before the removal's thread posts any
    uint32_t error = 0;
    // Without a thread of its own it runs here, as ever, only without answering meanwhile.
    if (!os.BeginThread(Work, this, &error)) Work(this);
}

unsigned CRemovalDialog::Work(void* dialog) {
    CRemovalDialog& self = *static_cast<CRemovalDialog*>(dialog);
    RemovalOutcome outcome;  // out of memory outside every item's guard: 1603, nothing told
    try {
        outcome = ::RunRemoval(platform::Windows(), self.m_context, self.m_plan, RemovalSettings(), *self.m_feed);
        // Here, before the final message, while the shutdown stays blocked and the
        // window answers: the copy that deletes the program waits for the process.
        RemoveProgramAfterExit(self.m_context, self.m_logPath, self.m_log, outcome);
    } catch (...) {
    }
    self.m_feed->Ended(std::move(outcome));
    return 0;
}

void CRemovalDialog::ShowProgress() {
    const Feed::Shown shown = m_feed->Take();
    if (!shown.status.empty()) {
        SetDlgItemText(ID_PROMPT_TEXT, shown.status);
        // Windows names the reason beside the window when the user shuts down.
        if (m_shutdownBlock) {
            m_shutdownBlock->Say(shown.status);
        } else {
            m_shutdownBlock.reset(new platform::ShutdownBlock(m_hWnd, shown.status));
        }
    }
    if (shown.busy != m_barBusy) {
        // A marquee while a module's uninstaller runs: how far it is, nobody knows.
        m_barBusy = shown.busy;
        const LONG style = ::GetWindowLongW(m_bar, GWL_STYLE);
        ::SetWindowLongW(m_bar, GWL_STYLE, shown.busy ? style | PBS_MARQUEE : style & ~PBS_MARQUEE);
        ::SendMessageW(m_bar, PBM_SETMARQUEE, shown.busy, 0);
    }
    if (!shown.busy) ::SendMessageW(m_bar, PBM_SETPOS, shown.done, 0);
    m_taskbar->Show(shown.done, kProgressEnd, shown.busy);
}

void CRemovalDialog::Finish() {
    if (m_aboutOpen) {
        m_finishPending = true;
        return;
    }
    m_finishPending = false;
    ::KillTimer(m_hWnd, kLookAgainTimer);
    ShowProgress();
    const RemovalOutcome outcome = m_feed->Result();
    m_feed.reset();
    m_shutdownBlock.reset();
    m_taskbar.reset();
    HoldClose(false);
    m_exitCode = outcome.exitCode;
    if (m_log) m_log->Line("exit code " + std::to_string(m_exitCode));
    // Nothing is left to do once the user has read it: the process ends as the box
    // is dismissed, and takes both windows with it.
    {
        const QuitWithNextBox ending(m_hWnd, m_exitCode);
        ShowOutcome(platform::Windows(), m_hWnd, m_plan.displayName, outcome);
    }
    CWinApp::Quit(m_exitCode);
}
