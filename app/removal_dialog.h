// The confirmation dialog: names the product, and removes it on OK.
#pragma once

#include <windows.h>

#include "plan/manifest_reader.h"
#include "plan/removal_plan.h"
#include "platform/framework_win.h"
#include "platform/platform.h"

class CRemovalDialog : public CDialog {
public:
    explicit CRemovalDialog(CDialog* parent = nullptr);

    const RemovalPlan& Plan() const { return m_plan; }

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
};
