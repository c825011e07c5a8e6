#include "app/removal_app.h"

#include <commctrl.h>

#include "app/removal_dialog.h"

CRemovalApp theApp;

BOOL CRemovalApp::InitInstance() {
    // The current common-controls look, as the embedded manifest requests.
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);

    CRemovalDialog dialog;
    m_pMainWnd = &dialog;
    dialog.DoModal();
    m_pMainWnd = nullptr;
    return FALSE;
}
