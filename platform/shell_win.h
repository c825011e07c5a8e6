// The system's folders beyond the Platform interface.
#pragma once

#include "platform/win_handles.h"

namespace platform {

// The system's own folder (System32); empty when the system cannot say.
WideString SystemFolder();

// Makes the system's own folder the current one, so that no folder the caller
// started the program in (the program folder, say) is held open by this process.
void EnterSystemFolder();

}  // namespace platform
