#include "app/preflight.h"

#include "platform/text.h"
#include "removal/removal_sequence.h"

int PlanExitCode(platform::Platform& os, const RemovalPlan& plan, bool emptyProgramFolder) {
    if (!plan.manifestLoaded) return plan.manifestMissing ? kExitNoManifest : kExitIncomplete;
    if (!emptyProgramFolder || !IsProductKey(plan.productKey)) return kExitIncomplete;
    for (const std::string& command : plan.moduleCommands) {
        // Such a module cannot start, and the run leaves it standing.
        if (!os.IsFile(platform::QuotedProgram(command))) return kExitIncomplete;
    }
    return kExitRemoved;
}
