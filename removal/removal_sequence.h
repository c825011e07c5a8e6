// What OK does: carries out the removal plan in a fixed order, telling whoever
// runs it how it goes, and ends with the outcome.
#pragma once

#include <cstdint>
#include <string>

#include "plan/removal_plan.h"
#include "platform/platform.h"
#include "removal/listener.h"

// How long a silent removal lets running programs close after asking them.
constexpr uint32_t kCloseWaitMs = 15000;

struct RemovalSettings {
    bool silent = false;  // nobody to ask: running programs are asked to close instead
};

// Everything OK (or a silent start) does: closes running programs, runs the module
// uninstallers, deletes shortcuts, group folders, the program folder's contents
// and the registry entry. A failure in one item never stops the later ones. A plan
// whose manifest could not be read removes nothing, unless the manifest went in a
// removal of this installation that was cut short before the key: that one is
// finished. The log (if anybody reads it) opens with the plan. It shows nothing
// itself: the outcome says what to tell.
RemovalOutcome RunRemoval(platform::Platform& os, const RunContext& context, const RemovalPlan& plan,
                          const RemovalSettings& settings, RemovalListener& listener);

// What OK would do, and what the guards refuse and why: one line each.
// `emptyProgramFolder` is MayEmptyProgramFolder's answer for the program folder.
// `exitCode` (when given) is the code OK would end with, as far as the plan, the
// files and the registry tell before anything runs.
platform::StringList DescribePlan(platform::Platform& os, const RunContext& context, const RemovalPlan& plan,
                                  bool emptyProgramFolder, int* exitCode = nullptr);
