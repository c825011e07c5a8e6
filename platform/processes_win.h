// Processes and threads beyond the Platform interface.
#pragma once

#include <windows.h>

#include "platform/win_handles.h"

namespace platform {

// The program file a process runs; empty when it cannot be asked.
WideString ImageOf(HANDLE process);

}  // namespace platform
