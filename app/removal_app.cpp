#include "app/removal_app.h"

#include <commctrl.h>

#include <algorithm>
#include <memory>

#include "app/after_exit.h"
#include "app/messages.h"
#include "app/preflight.h"
#include "app/removal_dialog.h"
#include "plan/command_line.h"
#include "plan/manifest_reader.h"
#include "platform/lock_win.h"
#include "platform/log_win.h"
#include "platform/platform_win.h"
#include "platform/self_removal_win.h"
#include "platform/shell_win.h"
#include "platform/win_handles.h"
#include "removal/ownership.h"
#include "removal/removal_sequence.h"
#include "version.h"

CRemovalApp theApp;

namespace {

// The plan as read from the manifest, with the display name the dialog would show.
RemovalPlan ReadPlan(platform::Platform& os, const RunContext& context) {
    RemovalPlan plan;
    ManifestTexts texts;
    try {
        ReadManifest(os, context, plan, texts);
    } catch (...) {
        // Out of memory while reading: what was read so far stands.
    }
    if (texts.present) plan.displayName = texts.displayName;
    return plan;
}

// The current common-controls look, as the embedded manifest requests. Loaded here,
// not linked: a silent run, which shows no window, then never pays for the library.
void LoadCurrentControls() {
    HMODULE library = ::LoadLibraryW(L"comctl32.dll");
    if (!library) return;
    using Init = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    if (auto init = reinterpret_cast<Init>(reinterpret_cast<void*>(::GetProcAddress(library, "InitCommonControlsEx")))) {
        INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
        init(&controls);
    }
}

const char kLogFailedTemplate[] = "无法创建日志文件：%s";
const char kAlreadyRunningText[] = "该产品的另一个卸载程序正在运行，请等它结束后再试。";
const char kLockFailedText[] = "无法确认该产品没有另一个卸载程序正在运行，未删除任何内容。";

void ShowBox(const std::string& text, UINT icon) {
    ::MessageBoxW(nullptr, platform::Widen(text).c_str(), platform::Widen(kPlainCaption).c_str(), MB_OK | icon);
}

}  // namespace

BOOL CRemovalApp::InitInstance() {
    const Switches switches = ParseSwitches(m_lpCmdLine, platform::kSelfRemovalSwitch);
    platform::Platform& os = platform::Windows();
    // A relative log path is the caller's, from where the caller stood; then the
    // process leaves that folder, which may be the very folder it is to remove.
    const std::string logPath = switches.logPath.empty() ? std::string() : os.FullPath(switches.logPath);
    platform::EnterSystemFolder();
    if (!switches.selfRemoval.empty()) {
        m_exitCode = platform::RunSelfRemoval(switches.selfRemoval) ? kExitRemoved : kExitBadSwitch;
        return FALSE;
    }
    const RunContext context = MakeRunContext(os, switches.argument);
    // A log on the manifest or in the program folder is a usage error, like an unknown switch.
    const bool logRefused =
        !logPath.empty() && LogPathRefused(os, logPath, context.manifestFull, context.programFolder);
    // A /plan run is read by a script and never shows a window: what a box would say
    // goes to standard output (when redirected) and to the log.
    std::unique_ptr<platform::TextSink> output = switches.planOnly ? platform::RedirectedOutput() : nullptr;
    const auto toScript = [&output](platform::TextSink* log, const std::string& text) {
        for (size_t from = 0, end = 0; from <= text.size(); from = end + 1) {
            end = std::min(text.find('\n', from), text.size());
            for (platform::TextSink* sink : {output.get(), log}) {
                if (sink) sink->Line(text.substr(from, end - from));
            }
        }
    };
    if (switches.help || !switches.unknown.empty() || logRefused) {
        // A silent run has nobody to read the usage: the exit code says it.
        if (switches.planOnly) {
            // The log takes the refusal too, unless the log is what is refused.
            std::unique_ptr<platform::TextSink> log =
                logRefused || logPath.empty() ? nullptr : platform::OpenLogFile(logPath);
            std::string text = kUsageText;
            if (!switches.unknown.empty()) {
                text = "refused: unknown switch: " + switches.unknown + "\n" + text;
            } else if (logRefused) {
                text = "refused: the log is the manifest or lies in the program folder: " + logPath + "\n" + text;
            }
            toScript(log.get(), text);
        } else if (!switches.silent) {
            ShowBox(kUsageText, switches.help ? MB_ICONINFORMATION : MB_ICONWARNING);
        }
        m_exitCode = switches.help ? kExitRemoved : kExitBadSwitch;
        return FALSE;
    }

    // The silent and plan runs read the manifest before the log is created. The
    // dialog reads it later, but the refusal above already keeps the log off the
    // manifest and out of the program folder, and a log that cannot be created
    // is then said before any window shows.
    RemovalPlan plan;
    if (switches.silent || switches.planOnly) plan = ReadPlan(os, context);
    std::unique_ptr<platform::TextSink> log;
    if (!switches.logPath.empty()) {
        if (!logPath.empty()) log = platform::OpenLogFile(logPath);
        if (!log) {
            const std::string& shown = logPath.empty() ? switches.logPath : logPath;
            if (switches.planOnly) {
                toScript(nullptr, "the log file cannot be created: " + shown);
            } else if (!switches.silent) {
                ShowBox(platform::Format(kLogFailedTemplate, {&shown}), MB_ICONWARNING);
            }
            m_exitCode = kExitLogFailed;
            return FALSE;
        }
        log->Line("remover.exe " + std::string(m_lpCmdLine));
        log->Line("version " REMOVER_VERSION_TEXT);
    }

    if (switches.planOnly) {
        platform::TextSink* sink = output ? output.get() : log.get();
        const bool emptyProgramFolder = plan.manifestLoaded && MayEmptyProgramFolder(os, context.programFolder);
        int code = kExitIncomplete;
        for (const std::string& line : DescribePlan(os, context, plan, emptyProgramFolder, &code)) {
            if (sink) sink->Line(line);
        }
        m_exitCode = code;
        return FALSE;
    }

    // One removal per product at a time: a second start shows the first one.
    platform::ProductLock lock(context.product);
    if (lock.Failed()) {
        // Unguarded, two removals could each delete what the other still needs.
        if (!switches.silent) ShowBox(kLockFailedText, MB_ICONWARNING);
        if (log) log->Line("the one-run lock cannot be made, nothing removed: " + os.ErrorText(lock.Error()));
        m_exitCode = kExitIncomplete;
        return FALSE;
    }
    if (lock.Taken()) {
        // A silent run holding the lock has no window to show: say so instead.
        if (!switches.silent && !lock.ActivateHolder()) ShowBox(kAlreadyRunningText, MB_ICONWARNING);
        if (log) log->Line("another removal of this product is running");
        m_exitCode = kExitAlreadyRunning;
        return FALSE;
    }

    if (switches.silent) {
        // No window, so nothing keeps a shutdown or log-off from ending it: the
        // journal lets a rerun finish what it cut short.
        RunListener listener(os, log.get());
        RemovalSettings settings;
        settings.silent = true;
        try {
            RemovalOutcome outcome = RunRemoval(os, context, plan, settings, listener);
            RemoveProgramAfterExit(context, logPath, log.get(), outcome);
            m_exitCode = outcome.exitCode;
        } catch (...) {
            m_exitCode = kExitIncomplete;
        }
    } else {
        LoadCurrentControls();
        // A removal ends the process from the dialog, with the final message; only
        // a dialog closed without removing (Cancel) comes back here.
        CRemovalDialog dialog(&context, log.get(), &lock, logPath);
        m_pMainWnd = &dialog;
        dialog.DoModal();
        m_pMainWnd = nullptr;
        m_exitCode = dialog.ProcessExitCode();
    }
    if (log) log->Line("exit code " + std::to_string(m_exitCode));
    return FALSE;
}
