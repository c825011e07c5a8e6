#include "removal/removal_sequence.h"

#include <memory>
#include <vector>

#include "plan/command_line.h"
#include "platform/text.h"
#include "removal/folder_tree.h"
#include "removal/journal.h"
#include "removal/launcher.h"
#include "removal/ownership.h"
#include "removal/removal_report.h"

namespace {

std::string Lines(const std::vector<platform::RunningProgram>& programs) {
    std::string text;
    for (const platform::RunningProgram& program : programs) text += "\n" + program.path;
    return text;
}

// Programs running from the program folder, other than this one and those of
// another product installed inside it.
std::vector<platform::RunningProgram> OwnPrograms(platform::Platform& os, const std::string& folder,
                                                  Ownership& ownership) {
    std::vector<platform::RunningProgram> own;
    for (platform::RunningProgram& program : os.RunningPrograms()) {
        if (platform::IsInsideFolder(program.path, folder) && !ownership.OtherProductHolding(program.path)) {
            own.push_back(std::move(program));
        }
    }
    return own;
}

// Before anything is removed, programs running from the folder must end: their
// files could not go, and they would lose their work. False: do not go on.
bool ProgramsClosed(platform::Platform& os, const std::string& folder, Ownership& ownership,
                    const RemovalSettings& settings, RemovalListener& listener, RemovalReport& report,
                    int* exitCode) {
    std::vector<platform::RunningProgram> running = OwnPrograms(os, folder, ownership);
    if (running.empty()) return true;
    report.Note("running from the program folder:" + Lines(running));
    if (!settings.silent) {
        do {
            std::vector<std::string> paths;
            for (const platform::RunningProgram& program : running) paths.push_back(program.path);
            if (!listener.AskRetry(paths)) {
                report.Note("cancelled while programs were running");
                *exitCode = kExitCancelled;
                return false;
            }
            running = OwnPrograms(os, folder, ownership);
        } while (!running.empty());
        return true;
    }
    // Nobody to ask: ask the programs themselves, and give them time to save.
    for (const platform::RunningProgram& program : running) os.AskToClose(program.id);
    constexpr uint32_t kPollMs = 250;
    for (uint32_t waited = 0; waited < kCloseWaitMs; waited += kPollMs) {
        os.Sleep(kPollMs);
        running = OwnPrograms(os, folder, ownership);
        if (running.empty()) return true;
    }
    report.Note("still running, nothing removed:" + Lines(running));
    *exitCode = kExitIncomplete;
    return false;
}

bool IsShortcut(const std::string& path) {
    return path.size() > 4 && platform::SamePathText(path.substr(path.size() - 4), ".lnk");
}

// What the report is told for one walk holds until that walk is over.
class ForOneWalk {
public:
    explicit ForOneWalk(RemovalReport& report) : report_(report) {}
    ~ForOneWalk() { report_.ForTheWalk({}, {}, nullptr); }
    ForOneWalk(const ForOneWalk&) = delete;
    ForOneWalk& operator=(const ForOneWalk&) = delete;

private:
    RemovalReport& report_;
};

// The program each module command runs, found once for the whole run.
std::vector<std::string> ModulePrograms(platform::Platform& os, const RemovalPlan& plan) {
    std::vector<std::string> programs;
    for (const std::string& command : plan.moduleCommands) programs.push_back(ProgramOfCommand(os, command).path);
    return programs;
}

// What becomes of one module uninstaller, for the plan and the run alike.
enum class ModuleFate {
    kRun,
    kDone,          // an earlier run of this installation's removal finished it, and it was not written since
    kStartedGone,   // an earlier run started it, and its program is gone since: it finished alone
    kAbsent,        // its program does not exist: it cannot run, now or in a rerun
};

ModuleFate FateOf(platform::Platform& os, const Journal& journal, const std::string& command,
                  const std::string& program) {
    if (journal.Done(command, program)) return ModuleFate::kDone;
    if (os.IsFile(program)) return ModuleFate::kRun;
    return journal.Started(command) ? ModuleFate::kStartedGone : ModuleFate::kAbsent;
}

// Each module's own uninstaller, waited for. Each is recorded as started before it
// runs and as done once it ended well; one that an earlier run of this
// installation's removal finished is not run again, nor one it started whose
// program is gone since (it finished alone and took its program with it). The
// program of one that failed is kept, so that another run can try it. One whose
// program does not exist is reported, and keeps nothing: no rerun can mend it.
void RunModules(platform::Platform& os, const RemovalPlan& plan, const std::vector<std::string>& programs,
                const std::string& programFolder, Journal& journal, RemovalReport& report,
                std::vector<std::string>* failedPrograms) {
    // Work an uninstaller hands on to a copy of itself runs from these.
    std::vector<std::string> workFolders = os.TempFolders();
    workFolders.push_back(programFolder);
    for (size_t i = 0; i < plan.moduleCommands.size(); ++i) {
        const std::string& command = plan.moduleCommands[i];
        const std::string& program = programs[i];
        try {
            switch (FateOf(os, journal, command, program)) {
            case ModuleFate::kDone:
                report.Note("done by an earlier run: " + command);
                continue;
            case ModuleFate::kStartedGone:
                report.Note("started by an earlier run, and its program is gone since: counted as done: " + command);
                journal.Finish(command, program);
                continue;
            case ModuleFate::kAbsent:
                report.NotRun(program);
                report.Note("not run, its program does not exist: " + command);
                continue;
            case ModuleFate::kRun:
                break;
            }
            const bool startedBefore = journal.Started(command);
            report.Module(i, command);
            if (!startedBefore) journal.Start(command);
            uint32_t code = 0;
            const int ran = RunAndWait(os, command, code, workFolders);
            if (ran < 0 && !startedBefore) journal.Unstart(command);
            if (ran < 0 && (code == platform::kErrorFileNotFound || code == platform::kErrorPathNotFound)) {
                // Gone between the look and the start.
                report.NotRun(program);
                report.Note("not run, its program does not exist: " + command);
            } else if (ran < 0) {
                report.Stays(program);
                report.Note("could not start: " + command + ": " + os.ErrorText(code));
            } else if (ran > 0 || code != 0) {
                // How it ended is unknown when its code cannot be read: not recorded, so it runs again.
                failedPrograms->push_back(program);
                report.Stays(program);
                report.Note(ran > 0 ? "exit code unreadable: " + command + ": " + os.ErrorText(code)
                                    : "exit code " + std::to_string(code) + ": " + command);
            } else {
                report.Note("exit code 0: " + command);
                journal.Finish(command, program);
            }
        } catch (...) {
            report.Stays(program);
        }
    }
}

// A shortcut file, deleted through its folder's handle; one that is gone already
// counts as removed. No attribute reset: a read-only shortcut is not ours to force.
void RemoveShortcut(platform::Platform& os, platform::OpenFolder& folder, const std::string& name,
                    RemovalReport& report) {
    platform::FolderEntry entry;
    entry.name = name;
    const std::string path = folder.Path() + "\\" + name;
    if (folder.DeleteChild(entry)) {
        report.Removed(path);
        return;
    }
    const uint32_t error = os.LastError();
    if (error != platform::kErrorFileNotFound && error != platform::kErrorPathNotFound) report.Left(path, error);
}

// The folder that holds it is only removed from, so it is opened wherever its path
// leads (a Desktop that is a link is still the Desktop).
void RemoveShortcut(platform::Platform& os, const std::string& file, RemovalReport& report) {
    const std::string parent = platform::ParentFolder(file);
    std::unique_ptr<platform::OpenFolder> folder = parent.empty() ? nullptr : os.OpenFolderAt(parent, false);
    if (folder) {
        RemoveShortcut(os, *folder, file.substr(file.find_last_of("\\/") + 1), report);
        return;
    }
    const uint32_t error = os.LastError();
    if (error != platform::kErrorFileNotFound && error != platform::kErrorPathNotFound) report.Left(file, error);
}

// A group that is one of the shell's own folders (StartUp, say) is never removed:
// only the shortcut its ShortCut names goes, with the product's others there
// unless the program folder is refused. From any other group, a shortcut that
// leads into another installed product stays, and the group with it. Each group
// is opened once, as itself, and judged by what that handle is.
void RemoveGroups(platform::Platform& os, const RemovalPlan& plan, Ownership& ownership, bool ownFolder,
                  RemovalReport& report) {
    for (size_t i = 0; i < plan.shortcutFolders.size(); ++i) {
        const std::string& folder = plan.shortcutFolders[i];
        ForOneWalk walk(report);
        try {
            std::unique_ptr<platform::OpenFolder> group = OpenTopFolder(os, folder, report);
            if (!group) continue;
            if (ownership.IsShellFolder(group->Identity())) {
                report.Note("a folder of the shell, not removed: " + folder);
                const std::string link = i < plan.groupLinks.size() ? plan.groupLinks[i] : std::string();
                const size_t cut = link.find_last_of('\\');
                if (cut != std::string::npos && platform::SamePathText(link.substr(0, cut), folder)) {
                    RemoveShortcut(os, *group, link.substr(cut + 1), report);
                } else if (!link.empty()) {
                    RemoveShortcut(os, link, report);
                }
                // And the product's other shortcuts there, known by where they lead:
                // into a folder that is the product's own.
                if (!ownFolder) continue;
                for (const platform::FolderEntry& entry : group->List()) {
                    const std::string path = folder + "\\" + entry.name;
                    if (!entry.directory && !entry.reparsePoint && IsShortcut(path) &&
                        ownership.LeadsIntoThisProduct(path)) {
                        RemoveShortcut(os, *group, entry.name, report);
                    }
                }
                continue;
            }
            report.ForTheWalk({}, {}, [&](const std::string& parent, const platform::FolderEntry& entry) {
                const std::string path = InFolder(parent, entry.name);
                if (!IsShortcut(path) || !ownership.LeadsIntoOtherProduct(path)) return false;
                report.Note("kept: " + path + " leads into another installed product");
                return true;
            });
            RemoveFolderTree(os, std::move(group), report);
        } catch (...) {
            report.Stays(folder);
        }
    }
}

// Empties and removes the program folder. The manifest and the program itself go
// after everything else in it, so that a removal cut short at any moment can be
// run again; when something already stays for good they stay too, as does the
// program of a module uninstaller that failed. A folder another product shares
// keeps all but this product's manifest. True when the program's own file and
// folder are to go once it has ended.
bool RemoveProgramFolder(platform::Platform& os, const RunContext& context, bool mayEmpty, Ownership& ownership,
                         const std::vector<std::string>& failedPrograms, RemovalReport& report) {
    const std::string& programFolder = context.programFolder;
    if (!mayEmpty) {
        // Its files stay: say so rather than report a complete removal.
        report.Stays(programFolder, true);
        report.Note("the program folder is not emptied: it is a root, or is or holds a folder of the system or "
                    "the user: " + programFolder);
        return false;
    }
    const std::string& other = ownership.SharedWith();
    if (!other.empty()) {
        report.Note("the program folder stays: it belongs to " + other + " too, whose manifest lies in it: " +
                    programFolder);
        if (!report.SomethingStays()) RemoveShortcut(os, context.manifestFull, report);
        return false;
    }
    bool keptForAnotherRun = false;
    ForOneWalk walk(report);
    report.ForTheWalk({context.manifestFull, context.programFile}, {context.programFile, programFolder},
                      [&](const std::string& parent, const platform::FolderEntry& entry) {
        // Every file of the program folder is asked: its path is joined only when needed.
        std::string path;
        auto full = [&]() -> const std::string& {
            if (path.empty()) path = InFolder(parent, entry.name);
            return path;
        };
        for (const std::string& program : failedPrograms) {
            if (platform::SamePathText(program, full())) return true;
        }
        if (!entry.directory || entry.reparsePoint) {
            // Only folders are another product's; a file is kept with the folder that holds it.
        } else if (const std::string* other = ownership.OtherProductFolder(full(), entry.id)) {
            report.Note("kept: " + path + ": the folder of " + *other + ", another installed product");
            return true;
        }
        if (!report.SomethingStays()) return false;
        for (const std::string& last : report.Lasts()) {
            if (platform::SamePathText(last, full())) return keptForAnotherRun = true;
        }
        return false;
    });
    try {
        std::unique_ptr<platform::OpenFolder> folder = OpenTopFolder(os, programFolder, report);
        if (!folder) return false;  // nothing of it was touched: the way to run again stays
        if (!platform::SameFile(folder->Identity(), ownership.ProgramFolderIdentity())) {
            // Renamed or swapped since it was judged: not the folder that may be emptied.
            report.Left(programFolder, platform::kErrorNotItself);
            report.Note("the program folder is no longer the folder that was judged: " + programFolder);
            return false;
        }
        RemoveFolderTree(os, std::move(folder), report);
    } catch (...) {
        report.Stays(programFolder);
        keptForAnotherRun = true;
    }
    return !keptForAnotherRun;
}

// The product's entry in the system's list of programs goes last, and only when
// nothing stays: it is the way to run the removal again, offered when a rerun can
// mend what stays (what the guards refused they refuse again). True when it was
// kept for another run.
// `program`: the program's own file, which removes itself once the run has ended;
// it is marked first, so that a run cut short between the key and that end still
// knows, from the program alone, to finish.
bool RemoveKey(platform::Platform& os, const RemovalPlan& plan, Journal& journal, RemovalReport& report,
               const std::string& program = std::string()) {
    const std::string name = KeyName(plan.productKey, journal.Hive());
    if (!IsProductKey(plan.productKey)) {
        report.Stays(name, true);
        report.Note("registry key refused: it is not one product's key below the Uninstall key: " + name);
    } else if (report.SomethingStays()) {
        const bool runAgain = report.RerunCanMend();
        report.Note("kept" + std::string(runAgain ? " for another run: " : ", as what stays was refused: ") + name +
                    ", the manifest and the program");
        return runAgain;
    } else {
        journal.KeyGoes();
        if (!program.empty() && !os.MarkGoing(program)) {
            report.Note("the program cannot be marked as going, so a run cut short from here would not finish: " +
                        program + ": " + os.ErrorText(os.LastError()));
        }
        // Wherever it is: a product registered for the machine and for a user leaves both lists.
        bool found = false;
        for (platform::Hive hive : {platform::Hive::kMachine, platform::Hive::kUser}) {
            uint64_t written = 0;
            if (!os.RegistryKeyExists(plan.productKey, &written, hive)) continue;
            found = true;
            const std::string at = KeyName(plan.productKey, hive);
            if (os.DeleteRegistryTree(plan.productKey, hive)) {
                report.Note("registry key deleted: " + at);
            } else {
                report.Stays(at);
                report.Note("registry key left: " + at);
            }
        }
        if (!found) report.Note("no registry key to delete: " + name);
    }
    return false;
}

// What a run without a readable manifest finds.
enum class Unread {
    kNotInstalled,        // neither the manifest nor the key exists
    kUnreadable,          // the manifest exists but cannot be read, and the key does not exist
    kKeyWithoutManifest,  // the key exists, its manifest is missing or unreadable
    kFinish,              // the manifest went in a removal of this installation cut short before the key
    kFinishItself,        // that removal was cut short after the key: only the program is left, marked as going
};

// Whether only the program is left, marked as going, with the aside names that an
// earlier run of it gave files in use.
bool OnlyTheMarkedProgramLeft(platform::Platform& os, const RunContext& context) {
    if (!os.IsMarkedGoing(context.programFile)) return false;
    std::unique_ptr<platform::OpenFolder> folder = os.OpenFolderAt(context.programFolder);
    if (!folder) return false;
    const std::string self = context.programFile.substr(context.programFolder.size() + 1);
    for (const platform::FolderEntry& entry : folder->List()) {
        const bool aside = !entry.directory && platform::IsAsideName(entry.name);
        if (!aside && !platform::SamePathText(entry.name, self)) return false;
    }
    return true;
}

Unread UnreadState(platform::Platform& os, const RunContext& context, const RemovalPlan& plan) {
    if (!FindProductKey(os, plan.productKey).exists) {
        if (plan.manifestMissing && OnlyTheMarkedProgramLeft(os, context) &&
            MayEmptyProgramFolder(os, context.programFolder)) {
            return Unread::kFinishItself;
        }
        return plan.manifestMissing ? Unread::kNotInstalled : Unread::kUnreadable;
    }
    if (plan.manifestMissing && Journal(os, plan, std::string()).Counts()) return Unread::kFinish;
    return Unread::kKeyWithoutManifest;
}

// Without its manifest the program cannot know what it owns, and removes nothing;
// but where the manifest went in a removal of this installation cut short before
// the key, only the key and the program are left of it, and they go.
RemovalOutcome WithoutManifest(platform::Platform& os, const RunContext& context, const RemovalPlan& plan,
                               Ownership& ownership, RemovalReport& report) {
    const Unread state = UnreadState(os, context, plan);
    if (state == Unread::kFinishItself) {
        report.Note("the key went in a removal of this installation that was cut short; only the program is left: "
                    "finishing it");
        RemovalOutcome outcome = report.Outcome(false);
        outcome.selfRemoval = true;
        return outcome;
    }
    if (state == Unread::kFinish) {
        report.Note("the manifest went in a removal of this installation that was cut short: finishing it");
        Journal journal(os, plan, std::string());
        if (!ownership.MayEmptyProgramFolder()) {
            report.Stays(context.programFolder, true);
            report.Note("the program stays: its folder is a root, or is or holds a folder of the system or the user: " +
                        context.programFolder);
        }
        const bool itself = !report.SomethingStays() && ownership.SharedWith().empty();
        RemovalOutcome outcome =
            report.Outcome(RemoveKey(os, plan, journal, report, itself ? context.programFile : std::string()));
        outcome.selfRemoval = !report.SomethingStays() && ownership.SharedWith().empty();
        return outcome;
    }
    const char* why = plan.manifestMissing ? "the manifest does not exist" : "the manifest could not be read";
    report.Note(std::string(why) +
                (state == Unread::kKeyWithoutManifest
                     ? ", yet the registry key " + KeyName(plan.productKey, FindProductKey(os, plan.productKey).hive) +
                           " does"
                                                      : std::string()) +
                ": nothing removed");
    RemovalOutcome outcome;
    outcome.told = state == Unread::kKeyWithoutManifest ? RemovalOutcome::Told::kKeyWithoutManifest
                                                        : RemovalOutcome::Told::kUnreadManifest;
    outcome.manifest = context.manifestFull;
    outcome.exitCode = state == Unread::kNotInstalled ? kExitNoManifest : kExitIncomplete;
    return outcome;
}

RemovalOutcome Remove(platform::Platform& os, const RunContext& context, const RemovalPlan& plan,
                      const RemovalSettings& settings, RemovalListener& listener, RemovalReport& report) {
    // The guard opens every folder of the system and the user: asked once, for the
    // log, the walk and the groups.
    const std::vector<std::string> programs = ModulePrograms(os, plan);
    Ownership ownership(os, context, programs);
    const bool emptyProgramFolder = plan.manifestLoaded && ownership.MayEmptyProgramFolder();
    if (listener.Logs()) {
        for (const std::string& line : DescribePlan(os, context, plan, emptyProgramFolder)) {
            report.Note("plan: " + line);
        }
    }
    if (!plan.manifestLoaded) return WithoutManifest(os, context, plan, ownership, report);
    // The installed products are read once, before the modules run: their programs
    // are still there to tell this product's own entries from the others'.
    const bool shared = !ownership.SharedWith().empty();
    RemovalOutcome closing;
    if (emptyProgramFolder && !shared &&
        !ProgramsClosed(os, context.programFolder, ownership, settings, listener, report, &closing.exitCode)) {
        return closing;
    }

    Journal journal(os, plan, context.manifestFull);
    if (!journal.Begin()) {
        report.Note("no journal of this removal can be kept in " + KeyName(plan.productKey, journal.Hive()));
    }
    std::vector<std::string> failedPrograms;
    RunModules(os, plan, programs, context.programFolder, journal, report, &failedPrograms);
    report.Status(RemovalStep::kShortcuts);
    for (const std::string& file : plan.shortcutFiles) {
        try {
            RemoveShortcut(os, file, report);
        } catch (...) {
            report.Stays(file);
        }
    }
    RemoveGroups(os, plan, ownership, emptyProgramFolder, report);
    report.Status(RemovalStep::kFiles);
    const bool selfRemoval = RemoveProgramFolder(os, context, emptyProgramFolder, ownership, failedPrograms, report);
    report.Status(RemovalStep::kRegistry);
    RemovalOutcome outcome =
        report.Outcome(RemoveKey(os, plan, journal, report, selfRemoval ? context.programFile : std::string()));
    outcome.selfRemoval = selfRemoval;
    return outcome;
}

}  // namespace

RemovalOutcome RunRemoval(platform::Platform& os, const RunContext& context, const RemovalPlan& plan,
                          const RemovalSettings& settings, RemovalListener& listener) {
    RemovalReport report(os, listener, plan.moduleCommands.size());
    const RemovalOutcome outcome = Remove(os, context, plan, settings, listener, report);
    report.End();
    return outcome;
}

platform::StringList DescribePlan(platform::Platform& os, const RunContext& context, const RemovalPlan& plan,
                                  bool emptyProgramFolder, int* exitCode) {
    platform::StringList lines;
    int code = kExitRemoved;
    const std::string keyName = KeyName(plan.productKey, FindProductKey(os, plan.productKey).hive);
    lines.push_back("manifest: " + context.manifestPath);
    if (!plan.manifestLoaded) {
        const char* why = plan.manifestMissing ? "the manifest does not exist" : "the manifest could not be read";
        switch (UnreadState(os, context, plan)) {
            case Unread::kFinishItself:
                lines.push_back("finish the removal cut short after the key went: the program");
                break;
            case Unread::kFinish:
                code = MayEmptyProgramFolder(os, context.programFolder) ? kExitRemoved : kExitIncomplete;
                lines.push_back("finish the removal cut short after the manifest went: delete registry key: " +
                                keyName + ", and the program");
                break;
            case Unread::kKeyWithoutManifest:
                code = kExitIncomplete;
                lines.push_back("nothing would be removed: " + std::string(why) + ", yet the registry key " +
                                keyName + " does");
                break;
            default:
                code = plan.manifestMissing ? kExitNoManifest : kExitIncomplete;
                lines.push_back("nothing would be removed: " + std::string(why));
        }
        if (exitCode) *exitCode = code;
        return lines;
    }
    lines.push_back("display name: " + plan.displayName);
    const Journal journal(os, plan, context.manifestFull);
    const std::vector<std::string> programs = ModulePrograms(os, plan);
    for (size_t i = 0; i < plan.moduleCommands.size(); ++i) {
        const std::string& command = plan.moduleCommands[i];
        switch (FateOf(os, journal, command, programs[i])) {
        case ModuleFate::kDone:
        case ModuleFate::kStartedGone:
            lines.push_back("done by an earlier run: " + command);
            break;
        case ModuleFate::kAbsent:
            code = kExitIncomplete;  // reported, though it keeps nothing
            lines.push_back("not run, its program does not exist: " + command);
            break;
        case ModuleFate::kRun:
            lines.push_back("run: " + command);
        }
    }
    for (const std::string& file : plan.shortcutFiles) lines.push_back("delete shortcut: " + file);
    for (const std::string& folder : plan.shortcutFolders) lines.push_back("delete group folder: " + folder);
    if (emptyProgramFolder) {
        lines.push_back("empty and remove the program folder: " + context.programFolder);
    } else {
        code = kExitIncomplete;
        lines.push_back("refused: the program folder " + context.programFolder +
                        " is a drive or share root, or is or holds a folder of the system or the user");
    }
    if (IsProductKey(plan.productKey)) {
        lines.push_back("delete registry key: " + keyName);
    } else {
        code = kExitIncomplete;
        lines.push_back("refused: the registry key " + keyName +
                        " is not one product's key below the Uninstall key");
    }
    for (const std::string& refusal : plan.refusals) lines.push_back("refused: " + refusal);
    if (exitCode) *exitCode = code;
    return lines;
}
