// What a run can tell before it touches anything: how a /plan run ends.
#pragma once

#include <string>

#include "plan/removal_plan.h"
#include "platform/platform.h"

// The exit code a removal of `plan` would end with, as far as the plan alone can
// tell: 1605 without a manifest, 1603 when it is unreadable or when something is
// sure to stay (a module program that does not exist, a refused program folder or
// registry key), else 0. `emptyProgramFolder` is MayEmptyProgramFolder's answer.
int PlanExitCode(platform::Platform& os, const RemovalPlan& plan, bool emptyProgramFolder);
