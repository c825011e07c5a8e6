// What a window shows of long work outside itself: progress on its taskbar button,
// and a reason Windows gives for not shutting down meanwhile.
#pragma once

#include <windows.h>

#include <shobjidl.h>

#include <cstdint>
#include <string>

#include "platform/com_win.h"

namespace platform {

// The window's taskbar button as a progress bar, where the system offers one
// (Windows 7 and later; not Wine). Cleared when it goes.
class TaskbarProgress {
public:
    explicit TaskbarProgress(HWND window);
    ~TaskbarProgress();
    TaskbarProgress(const TaskbarProgress&) = delete;
    TaskbarProgress& operator=(const TaskbarProgress&) = delete;
    // `done` of `total`; `busy`: under way, by how much unknown.
    void Show(uint32_t done, uint32_t total, bool busy);

private:
    HWND window_;
    ComScope com_;
    com_ptr<ITaskbarList3> list_;
};

// Held while shutting down or logging off would cut the work short: Windows shows
// `reason` beside the window and asks the user. The window must also answer
// WM_QUERYENDSESSION with FALSE meanwhile.
class ShutdownBlock {
public:
    ShutdownBlock(HWND window, const std::string& reason);
    ~ShutdownBlock();
    ShutdownBlock(const ShutdownBlock&) = delete;
    ShutdownBlock& operator=(const ShutdownBlock&) = delete;
    void Say(const std::string& reason);

private:
    HWND window_;
};

}  // namespace platform
