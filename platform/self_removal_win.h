// Removing the program's own file and folder once it has ended.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// How the program's own file and folder go once it has ended.
enum class SelfRemoval {
    kStarted,        // a copy of the program deletes them, and then itself, when this process ends
    kAtRestart,      // moved aside and scheduled, the folder after it, for the next restart: no copy
                     // could start or outlive the job this runs in
    kFileAtRestart,  // the file moved aside and scheduled; the folder could not be, and stays
    kFailed,         // the file stays under its own name, neither deleted nor scheduled
};
struct SelfRemovalResult {
    SelfRemoval how = SelfRemoval::kFailed;
    std::string aside;   // the hidden name the file was moved to for the restart
    uint32_t error = 0;  // the system's error for what stays
};
// Hands the program file and its folder, as files, to a copy of the program in a
// fresh temp folder, which deletes them after this process has ended; a newer file
// of the same name is never touched. Returns once the copy holds them, so it may be
// called before the run's last words: the copy waits for this process. The copy adds
// to the log at `logPath` (none when empty) what it could not simply delete. The
// restart is never told the file's own name, which a reinstall may have reused by
// then: a file that cannot be moved aside (another program holds it without delete
// sharing for 2 s) stays.
SelfRemovalResult StartSelfRemoval(const std::string& programFile, const std::string& logPath);
// The copy's work; `arguments` is what StartSelfRemoval passed. False, having
// touched nothing, when they are not the handles StartSelfRemoval hands over.
bool RunSelfRemoval(const std::string& arguments);
// The private switch that starts that work.
extern const char kSelfRemovalSwitch[];

}  // namespace platform
