// The confirmation dialog: names the product, and removes it on OK.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "plan/manifest_reader.h"
#include "plan/removal_plan.h"
#include "app/framework_win.h"
#include "platform/platform.h"
#include "removal/listener.h"

namespace platform {
class ProductLock;
class ShutdownBlock;
class TaskbarProgress;
}  // namespace platform

class CRemovalDialog : public CDialog {
public:
    // `context` names the manifest (null: the whole command-line tail); `log`
    // (may be null, at `logPath`) hears every step; `lock` marks the window as this
    // product's removal. Once OK has run the removal, the dialog ends the process
    // itself, with the final message: DoModal returns only when nothing was removed.
    explicit CRemovalDialog(const RunContext* context = nullptr, platform::TextSink* log = nullptr,
                            const platform::ProductLock* lock = nullptr, const std::string& logPath = std::string(),
                            CDialog* parent = nullptr);
    ~CRemovalDialog() override;

    const RemovalPlan& Plan() const { return m_plan; }
    // 1602: the dialog closed without removing.
    int ProcessExitCode() const { return m_exitCode; }

protected:
    void DoDataExchange() override {}
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
    // Greys the close box and the system menu's Close while the removal runs.
    void HoldClose(bool held);

private:
    class Feed;

    // The About entry of the system menu and the window's icons.
    void SetUpChrome();
    bool OnSysCommand(UINT command, LPARAM position);
    bool OnPaint();
    HCURSOR OnQueryDragIcon() const;
    void ApplyTexts(const ManifestTexts& texts);
    // OK: starts the removal on a thread of its own; this thread shows what it tells.
    void RunRemoval();
    static unsigned Work(void* dialog);
    // Shows the latest status and progress the removal told.
    void ShowProgress();
    // Once the removal has ended: says how, and ends the process.
    void Finish();

    RemovalPlan m_plan;
    HICON m_icon;
    bool m_removing = false;  // OK and Cancel are ignored once removal has begun
    bool m_aboutOpen = false, m_finishPending = false;
    RunContext m_context;
    platform::TextSink* m_log;
    std::string m_logPath;
    const platform::ProductLock* m_lock;
    int m_exitCode;
    std::unique_ptr<Feed> m_feed;
    HWND m_bar = nullptr;
    bool m_barBusy = false;
    std::unique_ptr<platform::TaskbarProgress> m_taskbar;
    std::unique_ptr<platform::ShutdownBlock> m_shutdownBlock;
};
