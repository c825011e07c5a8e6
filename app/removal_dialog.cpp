#include "app/removal_dialog.h"

#include "app/resource.h"
#include "platform/platform_win.h"
#include "removal/removal_sequence.h"

CRemovalDialog::CRemovalDialog(CDialog* parent)
    : CDialog(ID_REMOVAL_DIALOG, parent), m_icon(CWinApp::Current()->LoadIcon(ID_APP_ICON)) {}

BOOL CRemovalDialog::OnInitDialog() {
    CDialog::OnInitDialog();
    ManifestTexts texts;
    try {
        ReadManifest(platform::Windows(), CWinApp::Current()->m_lpCmdLine, m_plan, texts);
    } catch (...) {
        // Out of memory while reading: show what was read so far.
    }
    ApplyTexts(texts);
    return TRUE;
}

void CRemovalDialog::ApplyTexts(const ManifestTexts& texts) {
    if (!texts.present) return;
    ::SetDlgItemTextA(m_hWnd, ID_PROMPT_TEXT, texts.prompt.c_str());
    m_plan.displayName = texts.displayName;
    ::SetWindowTextA(m_hWnd, texts.caption.c_str());
}

void CRemovalDialog::OnOK() { RunRemoval(); }

void CRemovalDialog::OnCancel() {
    if (!m_removing) CDialog::OnCancel();
}

void CRemovalDialog::RunRemoval() {
    // The completion box's own message loop could deliver a posted OK again.
    if (m_removing) return;
    m_removing = true;
    try {
        RunRemovalSteps(platform::Windows(), m_plan, m_hWnd);
    } catch (...) {
        // Out of memory outside every item's guard: the dialog still ends.
    }
    EndDialog(IDOK);
}
