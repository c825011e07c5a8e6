#include "app/after_exit.h"

#include "platform/platform_win.h"
#include "platform/self_removal_win.h"

void RemoveProgramAfterExit(const RunContext& context, const std::string& logPath, platform::TextSink* log,
                            RemovalOutcome& outcome) {
    if (!outcome.selfRemoval) return;
    platform::Platform& os = platform::Windows();
    const auto say = [log](const std::string& line) {
        if (log) log->Line(line);
    };
    // The copy adds to the log once this process has closed it.
    const std::string& programFile = context.programFile;
    const platform::SelfRemovalResult result = platform::StartSelfRemoval(programFile, log ? logPath : std::string());
    const auto stays = [&outcome](const std::string& path) {
        outcome.left.push_back(path);
        if (outcome.exitCode == kExitRemoved || outcome.exitCode == kExitRestartNeeded) {
            outcome.exitCode = kExitIncomplete;
        }
    };
    switch (result.how) {
        case platform::SelfRemoval::kStarted:
            say("deleted once the program has ended: " + programFile + ", and its folder if empty");
            break;
        case platform::SelfRemoval::kAtRestart:
            say("deleted at the next restart, as no copy could outlive this run: " + programFile + " (moved aside to " +
                result.aside + "), and its folder if empty");
            outcome.restartNeeded = true;
            if (outcome.exitCode == kExitRemoved) outcome.exitCode = kExitRestartNeeded;
            break;
        case platform::SelfRemoval::kFileAtRestart:
            say("deleted at the next restart, as no copy could outlive this run: " + programFile + " (moved aside to " +
                result.aside + ")");
            say("left: " + context.programFolder + ": not scheduled for the restart: " + os.ErrorText(result.error));
            outcome.restartNeeded = true;
            stays(context.programFolder);
            break;
        case platform::SelfRemoval::kFailed:
            // Never scheduled by its own name, which a reinstall may have reused by the restart.
            say("left: " + programFile + ": neither deleted nor scheduled: " + os.ErrorText(result.error));
            stays(programFile);
            break;
    }
}
