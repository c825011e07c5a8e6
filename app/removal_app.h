// The application object: runs the confirmation dialog, then ends the program.
#pragma once

#include "app/framework_win.h"

class CRemovalApp : public CWinApp {
public:
    BOOL InitInstance() override;
};
