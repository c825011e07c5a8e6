// The confirmation dialog: names the product, and removes it on OK.
#pragma once

#include <windows.h>

#include "plan/manifest_reader.h"
#include "plan/removal_plan.h"
#include "platform/framework_win.h"
#include "platform/platform.h"

namespace platform {
class ProductLock;
}

class CRemovalDialog : public CDialog {
public:
    // `argument` names the manifest (null: the whole command-line tail); `log`
    // (may be null) hears every step; `lock` marks the window as this product's removal.
    explicit CRemovalDialog(const char* argument = nullptr, platform::TextSink* log = nullptr,
                            const platform::ProductLock* lock = nullptr, CDialog* parent = nullptr);

    const RemovalPlan& Plan() const { return m_plan; }
    // 1602 unless OK ran the removal; then what the removal says.
    int ExitCode() const { return m_exitCode; }
    // Whether the program's own file and folder are to go once it has ended.
    bool SelfRemoval() const { return m_selfRemoval; }

protected:
    void DoDataExchange() override {}
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

private:
    // The About entry of the system menu and the window's icons.
    void SetUpChrome();
    bool OnSysCommand(UINT command, LPARAM position);
    bool OnPaint();
    HCURSOR OnQueryDragIcon() const;
    void ApplyTexts(const ManifestTexts& texts);
    // OK: carries out the plan, says so, and ends the dialog.
    void RunRemoval();

    RemovalPlan m_plan;
    HICON m_icon;
    bool m_removing = false;  // OK and Cancel are ignored once removal has begun
    std::string m_argument;
    platform::TextSink* m_log;
    const platform::ProductLock* m_lock;
    int m_exitCode;
    bool m_selfRemoval = false;
};
