// What OK does: carries out the removal plan in a fixed order and says how it went.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "plan/removal_plan.h"
#include "platform/platform.h"
#include "removal/folder_tree.h"
#include "removal/ownership.h"

extern const char kCompletionTemplate[];
extern const char kCompletionCaption[];
extern const char kUnreadManifestText[];
extern const char kPlainCaption[];
extern const char kRestartNote[];
extern const char kIncompleteTemplate[];
extern const char kMoreTemplate[];
extern const char kIncompleteCaption[];
extern const char kRunAgainNote[];
extern const char kUnfinishedTemplate[];
extern const char kNotRunText[];
extern const char kKeyWithoutManifestTemplate[];
extern const char kProgressKey[];
extern const char kRunningProgramsText[];
extern const char kRunningCommandStatus[];
extern const char kShortcutsStatus[];
extern const char kFilesStatus[];
extern const char kRegistryStatus[];

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

// How long a silent removal lets running programs close after asking them.
constexpr uint32_t kCloseWaitMs = 15000;
// How many of the paths that stay the warning names before it counts the rest.
constexpr size_t kPathsShown = 5;

// Programs running now from inside `folder`, this one excepted.
std::vector<platform::RunningProgram> ProgramsInFolder(platform::Platform& os, const std::string& folder);

// What a removal did: the log, the status line, and what the final message and
// the exit code say.
class RemovalReport : public RemovalObserver {
public:
    explicit RemovalReport(platform::Platform& os, platform::TextSink* log = nullptr);

    void Note(const std::string& line);    // the log only
    void Status(const std::string& text);  // the status line, and the log

    void Removed(const std::string& path) override;
    void Scheduled(const std::string& path, const std::string& as) override;
    void Left(const std::string& path, uint32_t error) override;
    bool GoesWithTheProgram(const std::string& path) override;
    bool Keeps(const std::string& path) override { return keeps && keeps(path); }
    bool GoesLast(const std::string& folder, const std::string& name) override;

    // 0 all gone, 3010 some at the next restart, 1603 something stays or a module
    // program did not exist.
    int ExitCode() const;
    bool Logging() const { return log_ != nullptr; }

    std::function<void(const std::string&)> onStatus;
    std::vector<std::string> scheduled;
    std::vector<std::string> left;
    std::vector<std::string> notRun;   // module programs that do not exist: reported, yet they keep nothing
    std::vector<std::string> refused;  // of `left`, what the guards refused: a rerun would refuse it again
    std::vector<std::string> goesWithTheProgram;
    std::function<bool(const std::string&)> keeps;  // what the walk at hand must leave alone
    std::vector<std::string> lasts;                 // what the walk at hand removes after all else
    bool runAgain = false;  // the key, the manifest and the program stay for a run that can mend what stays

private:
    platform::Platform& os_;
    platform::TextSink* log_;
};

struct RemovalSettings {
    bool silent = false;  // no message box at all; running programs are asked to close
    platform::WindowRef owner = nullptr;
    std::string manifestPath;  // for the plan that opens the log
};

struct FinalMessage {
    std::string text;
    std::string caption;
    platform::MessageKind kind = platform::MessageKind::kPlain;
};
// The completion message when everything is gone (with a note when a restart
// finishes it), else a warning naming what stays and the module programs that did
// not exist.
FinalMessage MessageFor(const RemovalPlan& plan, const RemovalReport& report);

// Everything OK (or a silent start) does: closes running programs, runs the module
// uninstallers, deletes shortcuts, group folders, the program folder's contents
// and the registry entry, and tells the user. A failure in one item never stops
// the later ones. A plan whose manifest could not be read removes nothing, unless
// the manifest went in a removal of this installation that was cut short before
// the key: that one is finished. The log (if any) opens with the plan.
// Returns the exit code; `selfRemoval` tells whether the program's own file and
// folder are to go once it has ended.
int RunRemoval(platform::Platform& os, const RemovalPlan& plan, const RemovalSettings& settings,
               RemovalReport& report, bool* selfRemoval);

// What OK would do, and what the guards refuse and why: one line each.
// `emptyProgramFolder` is MayEmptyProgramFolder's answer for the program folder.
// `exitCode` (when given) is the code OK would end with, as far as the plan, the
// files and the registry tell before anything runs.
platform::StringList DescribePlan(platform::Platform& os, const RemovalPlan& plan, const std::string& manifestPath,
                                  bool emptyProgramFolder, int* exitCode = nullptr);
