#include "removal/removal_sequence.h"

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
const char kRunningProgramsText[] = "以下程序正在运行。请关闭它们后点击“重试”；点击“取消”则不删除任何内容。\n";
const char kRunningCommandStatus[] = "正在运行卸载程序：%s";
const char kShortcutsStatus[] = "正在删除快捷方式……";
const char kFilesStatus[] = "正在删除程序文件……";
const char kRegistryStatus[] = "正在删除注册表项……";

bool IsProductKey(const std::string& key) {
    const std::string parent = Format(kUninstallKeyTemplate, {});
    if (key.size() <= parent.size() || key.compare(0, parent.size(), parent) != 0) return false;
    const std::string product = key.substr(parent.size());
    // A leading, trailing or doubled backslash would name a key further up.
    return product.front() != '\\' && product.back() != '\\' && product.find("\\\\") == std::string::npos;
}

namespace {

bool StartsWith(const std::string& text, const char* prefix) { return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0; }

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// The folder that holds `path`, by its spelling; empty at a root.
std::string ParentOf(const std::string& path) {
    const size_t cut = path.find_last_of("\\/");
    if (cut == std::string::npos || cut == 0) return std::string();
    return path.substr(0, cut);
}

}  // namespace

bool IsBareRoot(const std::string& input) {
    std::string path = input;
    for (const char* prefix : {"\\\\?\\UNC\\", "\\\\.\\UNC\\"}) {
        if (StartsWith(path, prefix)) path = "\\\\" + path.substr(8);
    }
    for (const char* prefix : {"\\\\?\\", "\\\\.\\"}) {
        if (StartsWith(path, prefix)) path = path.substr(4);
    }
    while (!path.empty() && IsSeparator(path.back())) path.pop_back();
    if (path.empty()) return true;
    if (path.size() == 2 && path[1] == ':') return true;
    if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
        // \\server or \\server\share
        const size_t server = path.find_first_of("\\/", 2);
        return server == std::string::npos || path.find_first_of("\\/", server + 1) == std::string::npos;
    }
    return path.find_first_of("\\/") == std::string::npos;  // no folder part at all
}

bool MayEmptyProgramFolder(platform::Platform& os, const std::string& folder) {
    if (IsBareRoot(folder)) return false;
    // Compared by what the folders are, not how they are spelled: a drive letter
    // mapped onto a profile, a linked parent or a short name reach the same folder.
    const platform::FileIdentity self = os.Identify(folder);
    if (!self.known || (!self.finalPath.empty() && IsBareRoot(self.finalPath))) return false;
    std::vector<std::string> seen;
    for (const std::string& owned : os.ProtectedFolders()) {
        bool known = false;
        for (const std::string& done : seen) known = known || platform::SamePathText(done, owned);
        if (known) continue;
        seen.push_back(owned);
        const platform::FileIdentity identity = os.Identify(owned);
        if (!identity.known) continue;
        if (platform::SameFile(self, identity)) return false;
        if (!self.finalPath.empty() && !identity.finalPath.empty()) {
            // Both resolved: holding it means being a folder above it.
            if (IsInsideFolder(identity.finalPath, self.finalPath)) return false;
            continue;
        }
        // Nothing resolved to compare: climb the protected folder's own spelling.
        for (std::string above = ParentOf(owned); !above.empty() && !IsBareRoot(above); above = ParentOf(above)) {
            if (platform::SameFile(self, os.Identify(above))) return false;
        }
    }
    return true;
}

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

void RemovalReport::Scheduled(const std::string& path) {
    scheduled.push_back(path);
    Note("in use, deleted at the next restart: " + path);
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

// Before anything is removed, programs running from the folder must end: their
// files could not go, and they would lose their work. False: do not go on.
bool ProgramsClosed(platform::Platform& os, const std::string& folder, const RemovalSettings& settings,
                    RemovalReport& report, int* exitCode) {
    std::vector<platform::RunningProgram> running = ProgramsInFolder(os, folder);
    if (running.empty()) return true;
    report.Note("running from the program folder:" + Lines(running));
    if (!settings.silent) {
        do {
            if (!os.AskRetry(settings.owner, kRunningProgramsText + Lines(running), kPlainCaption)) {
                report.Note("cancelled while programs were running");
                *exitCode = kExitCancelled;
                return false;
            }
            running = ProgramsInFolder(os, folder);
        } while (!running.empty());
        return true;
    }
    // Nobody to ask: ask the programs themselves, and give them time to save.
    for (const platform::RunningProgram& program : running) os.AskToClose(program.id);
    constexpr uint32_t kPollMs = 250;
    for (uint32_t waited = 0; waited < kCloseWaitMs; waited += kPollMs) {
        os.Sleep(kPollMs);
        running = ProgramsInFolder(os, folder);
        if (running.empty()) return true;
    }
    report.Note("still running, nothing removed:" + Lines(running));
    *exitCode = kExitIncomplete;
    return false;
}

// The program file as it appears at the start of a command line.
std::string ProgramOf(const std::string& command) {
    const std::string quoted = platform::QuotedProgram(command);
    return quoted.empty() ? command.substr(0, command.find(' ')) : quoted;
}

}  // namespace

int RunRemoval(platform::Platform& os, const RemovalPlan& plan, const RemovalSettings& settings,
               RemovalReport& report, bool* selfRemoval) {
    *selfRemoval = false;
    // The guard opens every protected folder: asked once, for the log and the walk.
    const std::string programFolder = GetProgramFolder(os);
    const bool emptyProgramFolder = plan.manifestLoaded && MayEmptyProgramFolder(os, programFolder);
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
    if (emptyProgramFolder && !ProgramsClosed(os, programFolder, settings, report, &exitCode)) return exitCode;

    // Work an uninstaller hands on to a copy of itself runs from these.
    std::vector<std::string> workFolders = os.TempFolders();
    workFolders.push_back(programFolder);
    for (const std::string& command : plan.moduleCommands) {
        try {
            report.Status(Format(kRunningCommandStatus, {&command}));
            uint32_t code = 0;
            if (RunAndWait(os, command, code, workFolders) != 0) {
                report.left.push_back(ProgramOf(command));
                report.Note("could not start: " + command + ": " + os.ErrorText(code));
            } else if (code != 0) {
                report.left.push_back(ProgramOf(command));
                report.Note("exit code " + std::to_string(code) + ": " + command);
            } else {
                report.Note("exit code 0: " + command);
            }
        } catch (...) {
            report.left.push_back(ProgramOf(command));
        }
    }
    report.Status(kShortcutsStatus);
    for (const std::string& file : plan.shortcutFiles) {
        try {
            // No attribute reset: a read-only shortcut is not ours to force.
            if (os.RemoveFile(file)) {
                report.Removed(file);
            } else {
                const uint32_t error = os.LastError();
                if (error != platform::kErrorFileNotFound && error != platform::kErrorPathNotFound) {
                    report.Left(file, error);
                }
            }
        } catch (...) {
            report.left.push_back(file);
        }
    }
    for (const std::string& folder : plan.shortcutFolders) {
        try {
            RemoveFolderTree(os, folder, &report);
        } catch (...) {
            report.left.push_back(folder);
        }
    }
    report.Status(kFilesStatus);
    if (emptyProgramFolder) {
        try {
            // The running program and its folder go after it ends.
            report.goesWithTheProgram = {os.ModuleFileName(), programFolder};
            RemoveFolderTree(os, programFolder, &report);
            *selfRemoval = true;
        } catch (...) {
            report.left.push_back(programFolder);
        }
    } else {
        // Its files stay: say so rather than report a complete removal.
        report.left.push_back(programFolder);
        report.Note("the program folder is not emptied: it is a root, or is or holds a folder of the system or "
                    "the user: " + programFolder);
    }

    report.Status(kRegistryStatus);
    if (IsProductKey(plan.productKey)) {
        if (os.DeleteRegistryTree(plan.productKey)) {
            report.Note("registry key deleted: HKEY_LOCAL_MACHINE\\" + plan.productKey);
        } else {
            report.left.push_back("HKEY_LOCAL_MACHINE\\" + plan.productKey);
            report.Note("registry key left: HKEY_LOCAL_MACHINE\\" + plan.productKey);
        }
    }

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
