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
const char kUnfinishedTemplate[] = "%s卸载未完成，";
const char kNotRunText[] = "以下卸载程序不存在，未能运行：\n";
const char kKeyWithoutManifestTemplate[] = "该产品仍登记在系统的程序列表中，但无法读取其卸载信息（%s），未删除任何内容。";
// The journal of a removal under way, a subkey of the product's key, so that a
// removal cut short runs only the rest when it is started again.
const char kProgressKey[] = "RemovalProgress";
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
    if (!left.empty() || !notRun.empty()) return kExitIncomplete;
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

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The journal of a removal under way. It lives in a subkey of the product's key: it
// goes with the key, and writing it leaves the key's own last-write time alone. Its
// first entry names the installation it belongs to: the manifest's file stamp and a
// hash of its bytes, and the key's last-write time once the journal was made. A
// repair or a reinstall writes the key or the manifest again (a file's index and
// time can even come back the same), and the journal no longer counts. Then each
// module command is "started" before it runs and "done" once it ended well, and
// "the key goes" before the key is deleted.
const char kJournalValue[] = "Journal";
const char kStarted[] = "started ";
const char kDone[] = "done ";
const char kKeyGoes[] = "the key goes";

std::string ManifestStamp(platform::Platform& os, const std::string& manifest) {
    const platform::FileIdentity identity = os.Identify(manifest);
    std::string bytes, hash = "unread";
    if (os.FileBytes(manifest, &bytes)) {
        uint64_t fnv = 14695981039346656037ull;  // FNV-1a
        for (unsigned char c : bytes) fnv = (fnv ^ c) * 1099511628211ull;
        hash = std::to_string(fnv);
    }
    return "manifest " + std::to_string(identity.index) + " " + std::to_string(identity.lastWrite) + " " + hash;
}

std::string KeyStamp(uint64_t written) { return "; key " + std::to_string(written); }

class Journal {
public:
    // What an earlier removal of this installation recorded, as far as it still
    // counts. `manifest` empty: the manifest is gone, and only the key can tell.
    Journal(platform::Platform& os, const RemovalPlan& plan, const std::string& manifest)
        : os_(os), productKey_(plan.productKey), key_(plan.productKey + "\\" + kProgressKey), manifest_(manifest) {
        uint64_t written = 0;
        if (!IsProductKey(productKey_) || !os.RegistryKeyExists(productKey_, &written) || written == 0) return;
        platform::StringList found = os.ReadRegistryList(key_, kJournalValue);
        if (found.empty()) return;
        // Deleting the key's subkeys moves its time on: once the removal has begun
        // to delete the key, that time is its own doing.
        const bool counts = manifest.empty() ? EndsWith(found.front(), KeyStamp(written)) || Contains(found, kKeyGoes)
                                             : found.front() == ManifestStamp(os, manifest) + KeyStamp(written);
        if (counts) entries_ = std::move(found);
    }
    bool Counts() const { return !entries_.empty(); }
    bool Has(const std::string& entry) const { return Contains(entries_, entry); }

    // Written as the removal starts, before anything runs, so that a rerun knows a
    // removal of this installation was under way. Making the subkey is the
    // removal's last write to the key itself before it deletes it.
    void Begin(RemovalReport& report) {
        uint64_t written = 0;
        if (!IsProductKey(productKey_)) return;
        if (!os_.CreateRegistryKey(key_) || !os_.RegistryKeyExists(productKey_, &written) || written == 0) {
            report.Note("no journal of this removal can be kept in " + KeyName(productKey_));
            entries_.clear();
            return;
        }
        const std::string stamp = ManifestStamp(os_, manifest_) + KeyStamp(written);
        if (entries_.empty() || entries_.front() != stamp) entries_ = {stamp};
        Write();
    }
    void Add(const std::string& entry) {
        if (entries_.empty()) return;
        entries_.push_back(entry);
        Write();
    }
    void Drop(const std::string& entry) {
        for (auto it = entries_.begin(); it != entries_.end(); ++it) {
            if (*it != entry) continue;
            entries_.erase(it);
            Write();
            return;
        }
    }

private:
    void Write() {
        if (!entries_.empty()) os_.WriteRegistryList(key_, kJournalValue, entries_);
    }

    platform::Platform& os_;
    std::string productKey_, key_, manifest_;
    platform::StringList entries_;
};

// Each module's own uninstaller, waited for. Each is recorded as started before it
// runs and as done once it ended well; one that an earlier run of this
// installation's removal finished is not run again, nor one it started whose
// program is gone since (it finished alone and took its program with it). The
// program of one that failed is kept, so that another run can try it. One whose
// program does not exist is reported, and keeps nothing: no rerun can mend it.
void RunModules(platform::Platform& os, const RemovalPlan& plan, const std::string& programFolder, Journal& journal,
                RemovalReport& report, std::vector<std::string>* failedPrograms) {
    // Work an uninstaller hands on to a copy of itself runs from these.
    std::vector<std::string> workFolders = os.TempFolders();
    workFolders.push_back(programFolder);
    for (const std::string& command : plan.moduleCommands) {
        if (journal.Has(kDone + command)) {
            report.Note("done by an earlier run: " + command);
            continue;
        }
        const bool startedBefore = journal.Has(kStarted + command);
        try {
            report.Status(Format(kRunningCommandStatus, {&command}));
            if (!startedBefore) journal.Add(kStarted + command);
            uint32_t code = 0;
            const int ran = RunAndWait(os, command, code, workFolders);
            if (ran < 0 && !startedBefore) journal.Drop(kStarted + command);
            const bool absent =
                ran < 0 && (code == platform::kErrorFileNotFound || code == platform::kErrorPathNotFound);
            if (absent && startedBefore) {
                report.Note("started by an earlier run, and its program is gone since: counted as done: " + command);
                journal.Add(kDone + command);
            } else if (absent) {
                report.notRun.push_back(ProgramOfCommand(os, command));
                report.Note("not run, its program does not exist: " + command);
            } else if (ran < 0) {
                report.left.push_back(ProgramOfCommand(os, command));
                report.Note("could not start: " + command + ": " + os.ErrorText(code));
            } else if (ran > 0 || code != 0) {
                // How it ended is unknown when its code cannot be read: not recorded, so it runs again.
                failedPrograms->push_back(ProgramOfCommand(os, command));
                report.left.push_back(failedPrograms->back());
                report.Note(ran > 0 ? "exit code unreadable: " + command + ": " + os.ErrorText(code)
                                    : "exit code " + std::to_string(code) + ": " + command);
            } else {
                report.Note("exit code 0: " + command);
                journal.Add(kDone + command);
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
        report.refused.push_back(programFolder);
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
// nothing stays: it is the way to run the removal again, offered when a rerun can
// mend what stays (what the guards refused they refuse again).
void RemoveKey(platform::Platform& os, const RemovalPlan& plan, Journal& journal, RemovalReport& report) {
    if (!IsProductKey(plan.productKey)) {
        report.left.push_back(KeyName(plan.productKey));
        report.refused.push_back(report.left.back());
        report.Note("registry key refused: it is not one product's key below the Uninstall key: " +
                    KeyName(plan.productKey));
    } else if (!report.left.empty()) {
        report.runAgain = report.left.size() > report.refused.size();
        report.Note("kept" + std::string(report.runAgain ? " for another run: " : ", as what stays was refused: ") +
                    KeyName(plan.productKey) + ", the manifest and the program");
    } else {
        journal.Add(kKeyGoes);
        if (os.DeleteRegistryTree(plan.productKey)) {
            report.Note("registry key deleted: " + KeyName(plan.productKey));
        } else {
            report.left.push_back(KeyName(plan.productKey));
            report.Note("registry key left: " + KeyName(plan.productKey));
        }
    }
}

// What a run without a readable manifest finds.
enum class Unread {
    kNotInstalled,        // neither the manifest nor the key exists
    kUnreadable,          // the manifest exists but cannot be read, and the key does not exist
    kKeyWithoutManifest,  // the key exists, its manifest is missing or unreadable
    kFinish,              // the manifest went in a removal of this installation cut short before the key
};

Unread UnreadState(platform::Platform& os, const RemovalPlan& plan) {
    uint64_t written = 0;
    if (!IsProductKey(plan.productKey) || !os.RegistryKeyExists(plan.productKey, &written)) {
        return plan.manifestMissing ? Unread::kNotInstalled : Unread::kUnreadable;
    }
    if (plan.manifestMissing && Journal(os, plan, std::string()).Counts()) return Unread::kFinish;
    return Unread::kKeyWithoutManifest;
}

void ShowFinalMessage(platform::Platform& os, const RemovalPlan& plan, const RemovalSettings& settings,
                      const RemovalReport& report) {
    if (settings.silent) return;
    const FinalMessage message = MessageFor(plan, report);
    os.DiscardQueuedInput();
    os.ShowMessage(settings.owner, message.text, message.caption, message.kind);
}

// Without its manifest the program cannot know what it owns, and removes nothing;
// but where the manifest went in a removal of this installation cut short before
// the key, only the key and the program are left of it, and they go.
int WithoutManifest(platform::Platform& os, const RemovalPlan& plan, const std::string& manifest,
                    Ownership& ownership, const RemovalSettings& settings, RemovalReport& report, bool* selfRemoval) {
    const Unread state = UnreadState(os, plan);
    if (state == Unread::kFinish) {
        report.Note("the manifest went in a removal of this installation that was cut short: finishing it");
        Journal journal(os, plan, std::string());
        const std::string programFolder = GetProgramFolder(os);
        if (!ownership.MayEmptyProgramFolder()) {
            report.left.push_back(programFolder);
            report.refused.push_back(programFolder);
            report.Note("the program stays: its folder is a root, or is or holds a folder of the system or the user: " +
                        programFolder);
        }
        RemoveKey(os, plan, journal, report);
        *selfRemoval = report.left.empty() && ownership.SharedWith().empty();
        ShowFinalMessage(os, plan, settings, report);
        return report.ExitCode();
    }
    const char* why = plan.manifestMissing ? "the manifest does not exist" : "the manifest could not be read";
    report.Note(std::string(why) +
                (state == Unread::kKeyWithoutManifest ? ", yet the registry key " + KeyName(plan.productKey) + " does"
                                                      : std::string()) +
                ": nothing removed");
    if (!settings.silent) {
        os.DiscardQueuedInput();
        os.ShowMessage(settings.owner,
                       state == Unread::kKeyWithoutManifest ? Format(kKeyWithoutManifestTemplate, {&manifest})
                                                            : std::string(kUnreadManifestText),
                       kPlainCaption, platform::MessageKind::kWarning);
    }
    return state == Unread::kNotInstalled ? kExitNoManifest : kExitIncomplete;
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
    if (!plan.manifestLoaded) return WithoutManifest(os, plan, manifest, ownership, settings, report, selfRemoval);
    int exitCode = kExitRemoved;
    // The installed products are read once, before the modules run: their programs
    // are still there to tell this product's own entries from the others'.
    const bool shared = !ownership.SharedWith().empty();
    if (emptyProgramFolder && !shared && !ProgramsClosed(os, programFolder, ownership, settings, report, &exitCode)) {
        return exitCode;
    }

    Journal journal(os, plan, manifest);
    journal.Begin(report);
    std::vector<std::string> failedPrograms;
    RunModules(os, plan, programFolder, journal, report, &failedPrograms);
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
    RemoveKey(os, plan, journal, report);
    ShowFinalMessage(os, plan, settings, report);
    return report.ExitCode();
}

FinalMessage MessageFor(const RemovalPlan& plan, const RemovalReport& report) {
    FinalMessage message;
    if (report.left.empty() && report.notRun.empty()) {
        message.text = Format(kCompletionTemplate, {&plan.displayName});
        if (!report.scheduled.empty()) message.text += kRestartNote;
        message.caption = kCompletionCaption;
        message.kind = platform::MessageKind::kPlain;
        return message;
    }
    const auto listed = [](const std::vector<std::string>& paths) {
        std::string text;
        const size_t shown = paths.size() < kPathsShown ? paths.size() : kPathsShown;
        for (size_t i = 0; i < shown; ++i) text += "\n" + paths[i];
        if (paths.size() > shown) {
            const std::string more = std::to_string(paths.size() - shown);
            text += Format(kMoreTemplate, {&more});
        }
        return text;
    };
    if (!report.left.empty()) message.text = Format(kIncompleteTemplate, {&plan.displayName}) + listed(report.left);
    if (!report.notRun.empty()) {
        message.text += report.left.empty() ? Format(kUnfinishedTemplate, {&plan.displayName}) : std::string("\n\n");
        message.text += kNotRunText + listed(report.notRun);
    }
    if (report.runAgain) message.text += kRunAgainNote;
    message.caption = kIncompleteCaption;
    message.kind = platform::MessageKind::kWarning;
    return message;
}

platform::StringList DescribePlan(platform::Platform& os, const RemovalPlan& plan, const std::string& manifestPath,
                                  bool emptyProgramFolder, int* exitCode) {
    platform::StringList lines;
    int code = kExitRemoved;
    lines.push_back("manifest: " + manifestPath);
    if (!plan.manifestLoaded) {
        const char* why = plan.manifestMissing ? "the manifest does not exist" : "the manifest could not be read";
        switch (UnreadState(os, plan)) {
            case Unread::kFinish:
                code = MayEmptyProgramFolder(os, GetProgramFolder(os)) ? kExitRemoved : kExitIncomplete;
                lines.push_back("finish the removal cut short after the manifest went: delete registry key: " +
                                KeyName(plan.productKey) + ", and the program");
                break;
            case Unread::kKeyWithoutManifest:
                code = kExitIncomplete;
                lines.push_back("nothing would be removed: " + std::string(why) + ", yet the registry key " +
                                KeyName(plan.productKey) + " does");
                break;
            default:
                code = plan.manifestMissing ? kExitNoManifest : kExitIncomplete;
                lines.push_back("nothing would be removed: " + std::string(why));
        }
        if (exitCode) *exitCode = code;
        return lines;
    }
    lines.push_back("display name: " + plan.displayName);
    const Journal journal(os, plan, manifestPath);
    for (const std::string& command : plan.moduleCommands) {
        const bool absent = !os.IsFile(ProgramOfCommand(os, command));
        if (journal.Has(kDone + command) || (absent && journal.Has(kStarted + command))) {
            lines.push_back("done by an earlier run: " + command);
        } else if (absent) {
            code = kExitIncomplete;  // reported, though it keeps nothing
            lines.push_back("not run, its program does not exist: " + command);
        } else {
            lines.push_back("run: " + command);
        }
    }
    for (const std::string& file : plan.shortcutFiles) lines.push_back("delete shortcut: " + file);
    for (const std::string& folder : plan.shortcutFolders) lines.push_back("delete group folder: " + folder);
    const std::string programFolder = GetProgramFolder(os);
    if (emptyProgramFolder) {
        lines.push_back("empty and remove the program folder: " + programFolder);
    } else {
        code = kExitIncomplete;
        lines.push_back("refused: the program folder " + programFolder +
                        " is a drive or share root, or is or holds a folder of the system or the user");
    }
    if (IsProductKey(plan.productKey)) {
        lines.push_back("delete registry key: HKEY_LOCAL_MACHINE\\" + plan.productKey);
    } else {
        code = kExitIncomplete;
        lines.push_back("refused: the registry key HKEY_LOCAL_MACHINE\\" + plan.productKey +
                        " is not one product's key below the Uninstall key");
    }
    for (const std::string& refusal : plan.refusals) lines.push_back("refused: " + refusal);
    if (exitCode) *exitCode = code;
    return lines;
}
