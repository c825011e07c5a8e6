// Resource identifiers, shared by the code and the resource script.
#pragma once

#define ID_ABOUT_DIALOG 100
#define ID_ABOUT_MENU_TEXT 101
#define ID_REMOVAL_DIALOG 102
#define ID_APP_ICON 128
#define ID_PROMPT_TEXT 1000
#define ID_PROGRESS_BAR 1001
#define ID_ABOUT_COMMAND 0x0010

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
