// The About box, opened from the confirmation dialog's system menu.
#pragma once

#include "app/framework_win.h"

class CAboutBox : public CDialog {
public:
    // Run modally, it is owned by the active window: the confirmation dialog.
    CAboutBox();

protected:
    void DoDataExchange() override {}
};
