#include "removal/removal_sequence.h"

#include <memory>
#include <vector>

#include "removal/folder_tree.h"
#include "removal/launcher.h"
#include "platform/text.h"

using platform::Format;

const char kCompletionTemplate[] = "%s卸载完毕，我们会继续努力，谢谢使用！";
const char kCompletionCaption[] = "卸载成功";
const char kUnreadManifestText[] = "无法读取卸载信息，未删除任何内容。";
const char kPlainCaption[] = "卸载";  // the dialog's own caption
const char kRestartNote[] = "\n\n部分文件正在使用中，将在计算机重新启动后删除。";
const char kIncompleteTemplate[] = "%s卸载未完成，以下项目未能删除：\n";
const char kMoreTemplate[] = "\n……另有 %s 项";
const char kIncompleteCaption[] = "卸载未完成";
const char kRunAgainNote[] = "\n\n卸载程序和卸载信息已保留：关闭占用这些项目的程序后，可以再次卸载。";
// Module commands that ended well, recorded in the product's key as they end, so
// that a removal cut short runs only the rest when it is started again.
const char kProgressValue[] = "RemovalProgress";
const char kRunningProgramsText[] = "以下程序正在运行。请关闭它们后点击“重试”；点击“取消”则不删除任何内容。\n";
const char kRunningCommandStatus[] = "正在运行卸载程序：%s";
const char kShortcutsStatus[] = "正在删除快捷方式……";
const char kFilesStatus[] = "正在删除程序文件……";
const char kRegistryStatus[] = "正在删除注册表项……";

RemovalReport::RemovalReport(platform::Platform& os, platform::TextSink* log) : os_(os), log_(log) {}

void RemovalReport::Note(const std::string& line) {
    if (log_) log_->Line(line);
}

void RemovalReport::Status(const std::string& text) {
    Note("== " + text);
    if (onStatus) onStatus(text);
}

void RemovalReport::Removed(const std::string& path) {
    if (log_) log_->Line("removed: " + path);
}

void RemovalReport::Scheduled(const std::string& path, const std::string& as) {
    scheduled.push_back(path);
    Note("in use, deleted at the next restart: " + path + (as == path ? "" : " (moved aside to " + as + ")"));
}

void RemovalReport::Left(const std::string& path, uint32_t error) {
    // A plan may list one shortcut twice; it stays only once.
    for (const std::string& known : left) {
        if (known == path) return;
    }
    left.push_back(path);
    Note("left: " + path + ": " + os_.ErrorText(error));
}

bool RemovalReport::GoesWithTheProgram(const std::string& path) {
    for (const std::string& own : goesWithTheProgram) {
        if (platform::SamePathText(own, path)) return true;
    }
    return false;
}

bool RemovalReport::GoesLast(const std::string& folder, const std::string& name) {
    for (const std::string& last : lasts) {
        // `name` is the last entry itself, or the folder that holds it.
        if (!IsInsideFolder(last, folder) || last[folder.size()] != '\\') continue;
        const std::string rest = last.substr(folder.size() + 1);
        if (platform::SamePathText(rest.substr(0, name.size()), name) &&
            (rest.size() == name.size() || rest[name.size()] == '\\')) {
            return true;
        }
    }
    return false;
}

int RemovalReport::ExitCode() const {
    if (!left.empty()) return kExitIncomplete;
    return scheduled.empty() ? kExitRemoved : kExitRestartNeeded;
}

std::vector<platform::RunningProgram> ProgramsInFolder(platform::Platform& os, const std::string& folder) {
    std::vector<platform::RunningProgram> inside;
    for (platform::RunningProgram& program : os.RunningPrograms()) {
        if (IsInsideFolder(program.path, folder)) inside.push_back(std::move(program));
    }
    return inside;
}

namespace {

std::string Lines(const std::vector<platform::RunningProgram>& programs) {
    std::string text;
    for (const platform::RunningProgram& program : programs) text += "\n" + program.path;
    return text;
}

// Programs running from the program folder, other than those of another product
// installed inside it.
std::vector<platform::RunningProgram> OwnPrograms(platform::Platform& os, const std::string& folder,
                                                  Ownership& ownership) {
    std::vector<platform::RunningProgram> own;
    for (platform::RunningProgram& program : ProgramsInFolder(os, folder)) {
        if (!ownership.OtherProductHolding(program.path)) own.push_back(std::move(program));
    }
    return own;
}

// Before anything is removed, programs running from the folder must end: their
// files could not go, and they would lose their work. False: do not go on.
bool ProgramsClosed(platform::Platform& os, const std::string& folder, Ownership& ownership,
                    const RemovalSettings& settings, RemovalReport& report, int* exitCode) {
    std::vector<platform::RunningProgram> running = OwnPrograms(os, folder, ownership);
    if (running.empty()) return true;
    report.Note("running from the program folder:" + Lines(running));
    if (!settings.silent) {
        do {
            if (!os.AskRetry(settings.owner, kRunningProgramsText + Lines(running), kPlainCaption)) {
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

bool Contains(const platform::StringList& list, const std::string& text) {
    for (const std::string& entry : list) {
        if (entry == text) return true;
    }
    return false;
}

bool IsShortcut(const std::string& path) {
    return path.size() > 4 && platform::SamePathText(path.substr(path.size() - 4), ".lnk");
}

std::string KeyName(const std::string& key) { return "HKEY_LOCAL_MACHINE\\" + key; }

// Which manifest a record of progress belongs to: a reinstall writes the manifest
// anew, and what an earlier removal did no longer counts.
std::string ManifestStamp(platform::Platform& os, const std::string& manifest) {
    const platform::FileIdentity identity = os.Identify(manifest);
    return "manifest " + std::to_string(identity.index) + " " + std::to_string(identity.lastWrite);
}

// Each module's own uninstaller, waited for. One that ended well is recorded at
// once, and one recorded by an earlier run of the same installation is not run
// again. The program of one that failed is kept, so that another run can try it.
void RunModules(platform::Platform& os, const RemovalPlan& plan, const std::string& programFolder,
                const std::string& manifest, RemovalReport& report, std::vector<std::string>* failedPrograms) {
    const bool record = IsProductKey(plan.productKey);
    platform::StringList done = record ? os.ReadRegistryList(plan.productKey, kProgressValue) : platform::StringList();
    const std::string stamp = ManifestStamp(os, manifest);
    if (done.empty() || done.front() != stamp) done = {stamp};
    // Work an uninstaller hands on to a copy of itself runs from these.
    std::vector<std::string> workFolders = os.TempFolders();
    workFolders.push_back(programFolder);
    for (const std::string& command : plan.moduleCommands) {
        if (Contains(done, command)) {
            report.Note("done by an earlier run: " + command);
            continue;
        }
        try {
            report.Status(Format(kRunningCommandStatus, {&command}));
            uint32_t code = 0;
            if (RunAndWait(os, command, code, workFolders) != 0) {
                report.left.push_back(ProgramOfCommand(os, command));
                report.Note("could not start: " + command + ": " + os.ErrorText(code));
            } else if (code != 0) {
                failedPrograms->push_back(ProgramOfCommand(os, command));
                report.left.push_back(failedPrograms->back());
                report.Note("exit code " + std::to_string(code) + ": " + command);
            } else {
                report.Note("exit code 0: " + command);
                done.push_back(command);
                if (record) os.WriteRegistryList(plan.productKey, kProgressValue, done);
            }
        } catch (...) {
            report.left.push_back(ProgramOfCommand(os, command));
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
    const size_t cut = file.find_last_of("\\/");
    std::unique_ptr<platform::OpenFolder> folder =
        cut == std::string::npos ? nullptr : os.OpenFolderAt(file.substr(0, cut), false);
    if (folder) {
        RemoveShortcut(os, *folder, file.substr(cut + 1), report);
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
            report.keeps = [&](const std::string& path) {
                if (!IsShortcut(path) || !ownership.LeadsIntoOtherProduct(path)) return false;
                report.Note("kept: " + path + " leads into another installed product");
                return true;
            };
            RemoveFolderTree(os, std::move(group), report);
        } catch (...) {
            report.left.push_back(folder);
        }
        report.keeps = nullptr;
    }
}

// Empties and removes the program folder. The manifest and the program itself go
// after everything else in it, so that a removal cut short at any moment can be
// run again; when something already stays for good they stay too, as does the
// program of a module uninstaller that failed. A folder another product shares
// keeps all but this product's manifest. True when the program's own file and
// folder are to go once it has ended.
bool RemoveProgramFolder(platform::Platform& os, const std::string& programFolder, const std::string& manifest,
                         bool mayEmpty, Ownership& ownership, const std::vector<std::string>& failedPrograms,
                         RemovalReport& report) {
    if (!mayEmpty) {
        // Its files stay: say so rather than report a complete removal.
        report.left.push_back(programFolder);
        report.Note("the program folder is not emptied: it is a root, or is or holds a folder of the system or "
                    "the user: " + programFolder);
        return false;
    }
    const std::string& other = ownership.SharedWith();
    if (!other.empty()) {
        report.Note("the program folder stays: it belongs to " + other + " too, whose manifest lies in it: " +
                    programFolder);
        if (report.left.empty()) RemoveShortcut(os, manifest, report);
        return false;
    }
    const std::string self = os.ModuleFileName();
    report.goesWithTheProgram = {self, programFolder};
    report.lasts = {manifest, self};
    bool keptForAnotherRun = false;
    report.keeps = [&](const std::string& path) {
        for (const std::string& program : failedPrograms) {
            if (platform::SamePathText(program, path)) return true;
        }
        if (const std::string* other = ownership.OtherProductHolding(path)) {
            report.Note("kept: " + path + ": the folder of " + *other + ", another installed product");
            return true;
        }
        if (report.left.empty()) return false;
        for (const std::string& last : report.lasts) {
            if (platform::SamePathText(last, path)) return keptForAnotherRun = true;
        }
        return false;
    };
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
        report.left.push_back(programFolder);
        keptForAnotherRun = true;
    }
    report.keeps = nullptr;
    return !keptForAnotherRun;
}

// The product's entry in the system's list of programs goes last, and only when
// nothing stays: it is the way to run the removal again.
void RemoveKey(platform::Platform& os, const RemovalPlan& plan, RemovalReport& report) {
    if (!IsProductKey(plan.productKey)) {
        report.left.push_back(KeyName(plan.productKey));
        report.Note("registry key refused: it is not one product's key below the Uninstall key: " +
                    KeyName(plan.productKey));
    } else if (!report.left.empty()) {
        report.runAgain = true;
        report.Note("kept for another run: " + KeyName(plan.productKey) + ", the manifest and the program");
    } else if (os.DeleteRegistryTree(plan.productKey)) {
        report.Note("registry key deleted: " + KeyName(plan.productKey));
    } else {
        report.left.push_back(KeyName(plan.productKey));
        report.Note("registry key left: " + KeyName(plan.productKey));
    }
}

}  // namespace

int RunRemoval(platform::Platform& os, const RemovalPlan& plan, const RemovalSettings& settings,
               RemovalReport& report, bool* selfRemoval) {
    *selfRemoval = false;
    // The guard opens every folder of the system and the user: asked once, for the
    // log, the walk and the groups.
    const std::string programFolder = GetProgramFolder(os);
    const std::string fullManifest = os.FullPath(settings.manifestPath);
    const std::string manifest = fullManifest.empty() ? settings.manifestPath : fullManifest;
    std::vector<std::string> modulePrograms;
    for (const std::string& command : plan.moduleCommands) modulePrograms.push_back(ProgramOfCommand(os, command));
    Ownership ownership(os, programFolder, plan.productName, manifest, std::move(modulePrograms));
    const bool emptyProgramFolder = plan.manifestLoaded && ownership.MayEmptyProgramFolder();
    if (report.Logging()) {
        for (const std::string& line : DescribePlan(os, plan, settings.manifestPath, emptyProgramFolder)) {
            report.Note("plan: " + line);
        }
    }
    if (!plan.manifestLoaded) {
        // Without its uninstall information the program cannot know what it owns.
        report.Note(plan.manifestMissing ? "the manifest does not exist: nothing removed"
                                         : "the manifest could not be read: nothing removed");
        if (!settings.silent) {
            os.DiscardQueuedInput();
            os.ShowMessage(settings.owner, kUnreadManifestText, kPlainCaption,
                           platform::MessageKind::kWarning);
        }
        return plan.manifestMissing ? kExitNoManifest : kExitIncomplete;
    }
    int exitCode = kExitRemoved;
    // The installed products are read once, before the modules run: their programs
    // are still there to tell this product's own entries from the others'.
    const bool shared = !ownership.SharedWith().empty();
    if (emptyProgramFolder && !shared && !ProgramsClosed(os, programFolder, ownership, settings, report, &exitCode)) {
        return exitCode;
    }

    std::vector<std::string> failedPrograms;
    RunModules(os, plan, programFolder, manifest, report, &failedPrograms);
    report.Status(kShortcutsStatus);
    for (const std::string& file : plan.shortcutFiles) {
        try {
            RemoveShortcut(os, file, report);
        } catch (...) {
            report.left.push_back(file);
        }
    }
    RemoveGroups(os, plan, ownership, emptyProgramFolder, report);
    report.Status(kFilesStatus);
    *selfRemoval = RemoveProgramFolder(os, programFolder, manifest, emptyProgramFolder, ownership, failedPrograms,
                                       report);
    report.Status(kRegistryStatus);
    RemoveKey(os, plan, report);

    exitCode = report.ExitCode();
    if (!settings.silent) {
        const FinalMessage message = MessageFor(plan, report);
        os.DiscardQueuedInput();
        os.ShowMessage(settings.owner, message.text, message.caption, message.kind);
    }
    return exitCode;
}

FinalMessage MessageFor(const RemovalPlan& plan, const RemovalReport& report) {
    FinalMessage message;
    if (report.left.empty()) {
        message.text = Format(kCompletionTemplate, {&plan.displayName});
        if (!report.scheduled.empty()) message.text += kRestartNote;
        message.caption = kCompletionCaption;
        message.kind = platform::MessageKind::kPlain;
        return message;
    }
    message.text = Format(kIncompleteTemplate, {&plan.displayName});
    const size_t shown = report.left.size() < kPathsShown ? report.left.size() : kPathsShown;
    for (size_t i = 0; i < shown; ++i) message.text += "\n" + report.left[i];
    if (report.left.size() > shown) {
        const std::string more = std::to_string(report.left.size() - shown);
        message.text += Format(kMoreTemplate, {&more});
    }
    if (report.runAgain) message.text += kRunAgainNote;
    message.caption = kIncompleteCaption;
    message.kind = platform::MessageKind::kWarning;
    return message;
}

platform::StringList DescribePlan(platform::Platform& os, const RemovalPlan& plan, const std::string& manifestPath,
                                  bool emptyProgramFolder) {
    platform::StringList lines;
    lines.push_back("manifest: " + manifestPath);
    if (!plan.manifestLoaded) {
        lines.push_back(plan.manifestMissing ? "nothing would be removed: the manifest does not exist"
                                             : "nothing would be removed: the manifest could not be read");
        return lines;
    }
    lines.push_back("display name: " + plan.displayName);
    for (const std::string& command : plan.moduleCommands) lines.push_back("run: " + command);
    for (const std::string& file : plan.shortcutFiles) lines.push_back("delete shortcut: " + file);
    for (const std::string& folder : plan.shortcutFolders) lines.push_back("delete group folder: " + folder);
    const std::string programFolder = GetProgramFolder(os);
    if (emptyProgramFolder) {
        lines.push_back("empty and remove the program folder: " + programFolder);
    } else {
        lines.push_back("refused: the program folder " + programFolder +
                        " is a drive or share root, or is or holds a folder of the system or the user");
    }
    if (IsProductKey(plan.productKey)) {
        lines.push_back("delete registry key: HKEY_LOCAL_MACHINE\\" + plan.productKey);
    } else {
        lines.push_back("refused: the registry key HKEY_LOCAL_MACHINE\\" + plan.productKey +
                        " is not one product's key below the Uninstall key");
    }
    for (const std::string& refusal : plan.refusals) lines.push_back("refused: " + refusal);
    return lines;
}
