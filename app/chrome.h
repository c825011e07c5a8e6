// Window-chrome arithmetic that needs no window.
#pragma once

#include "app/resource.h"

struct IconOrigin {
    int x;
    int y;
};

// Where the icon is drawn in a minimised window's client area: centred, rounding
// half a pixel toward the right and bottom, with division truncating toward zero.
inline IconOrigin CentredIcon(int clientWidth, int clientHeight, int iconWidth, int iconHeight) {
    return IconOrigin{(clientWidth - iconWidth + 1) / 2, (clientHeight - iconHeight + 1) / 2};
}

// The system-menu command of the About entry; the system uses the low four bits.
constexpr unsigned kAboutCommand = ID_ABOUT_COMMAND;
inline bool IsAboutCommand(unsigned command) { return (command & 0xFFF0) == kAboutCommand; }
