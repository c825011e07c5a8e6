// What a removal tells whoever runs it while it works, and how it ended.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Exit codes in the conventions deployment tools already understand.
enum : int {
    kExitRemoved = 0,
    kExitBadSwitch = 87,
    kExitCancelled = 1602,
    kExitIncomplete = 1603,
    kExitNoManifest = 1605,
    kExitAlreadyRunning = 1618,
    kExitRestartNeeded = 3010,
};

// What the removal is doing now.
enum class RemovalStep { kRunningCommand, kShortcuts, kFiles, kRegistry };

// How far a removal has come, from 0: this is reached when it ends, and only then.
constexpr uint32_t kProgressEnd = 10000;

// Hears a removal on the thread it runs on. Nothing here may wait on a window:
// only the question is answered, by whoever can ask the user.
class RemovalListener {
public:
    virtual ~RemovalListener() = default;
    // Whether anybody reads the log: describing the plan for it costs file lookups.
    virtual bool Logs() const { return false; }
    virtual void Log(const std::string& line) {}
    // The step under way; `command` is the module's command line that runs.
    virtual void Status(RemovalStep step, const std::string& command) {}
    // How far it has come, of kProgressEnd, never less than before; `busy` while a
    // module's uninstaller runs, whose own progress nobody knows.
    virtual void Progress(uint32_t done, bool busy) {}
    // Programs running from the program folder must close first: true to look
    // again, false to give up, removing nothing.
    virtual bool AskRetry(const std::vector<std::string>& programs) { return false; }
};

// Why something stays, which decides what the user can do about it.
enum class LeftCause {
    kHeld,            // a program holds it, or keeps writing into its folder: close it
    kLink,            // a link the system cannot delete without reaching what it leads to
    kBadName,         // a name the system cannot handle, written by another system
    kTooDeep,         // deeper than the longest path the system handles
    kSpecialFile,     // a pipe, socket or device of another system
    kAccessDenied,    // not ours to delete
    kHoldsWhatStays,  // a folder that stays for what stays inside it
    kOther,           // an uninstaller that failed, a refused folder or key, anything else
};
// What no program holds and the walk may not or cannot delete: the user removes it
// by hand, and then a rerun finishes.
inline bool ByHand(LeftCause cause) {
    return cause != LeftCause::kHeld && cause != LeftCause::kHoldsWhatStays && cause != LeftCause::kOther;
}

// How a removal ended: the exit code, and what the final message tells.
struct RemovalOutcome {
    enum class Told {
        kNothing,             // nothing to tell (cancelled, or nobody to ask)
        kReport,              // what was removed and what stays
        kUnreadManifest,      // no manifest was read, and no key is there: nothing removed
        kKeyWithoutManifest,  // the key is there, its manifest cannot be read: nothing removed
    };
    Told told = Told::kNothing;
    int exitCode = kExitIncomplete;
    std::vector<std::string> left;    // what stays
    std::vector<LeftCause> why;       // for each of `left`, why
    std::vector<std::string> notRun;  // module programs that do not exist
    bool restartNeeded = false;       // some entries go at the next restart
    bool runAgain = false;            // the way to run again is kept, and a rerun can mend what stays
    std::string manifest;             // the manifest that could not be read
    bool selfRemoval = false;         // the program's own file and folder go once it has ended
};
