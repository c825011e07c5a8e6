// What becomes of the program's own file and folder once a removal has ended, for
// the silent run and the dialog alike.
#pragma once

#include <string>

#include "plan/removal_plan.h"
#include "platform/platform.h"
#include "removal/listener.h"

// Once a removal has ended, and its outcome says the program's own file and folder
// go: starts what removes them after this process has ended (it waits for the
// process, so this may come before the run's last words), says how in the log at
// `log` (its path `logPath`, where the copy adds what it could not do), and folds
// into the outcome what it could not do: what stays, and the exit code.
void RemoveProgramAfterExit(const RunContext& context, const std::string& logPath, platform::TextSink* log,
                            RemovalOutcome& outcome);
