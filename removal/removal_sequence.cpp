#include "removal/removal_sequence.h"

#include <vector>

#include "removal/folder_tree.h"
#include "removal/launcher.h"

using platform::Format;

const char kCompletionTemplate[] = "%s卸载完毕，我们会继续努力，谢谢使用！";
const char kCompletionCaption[] = "卸载成功";
const char kUnreadManifestText[] = "无法读取卸载信息，未删除任何内容。";
const char kUnreadManifestCaption[] = "卸载";

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
        // The protected folder itself and every folder above it, both as spelled
        // and as resolved.
        for (std::string above : {owned, os.Identify(owned).finalPath}) {
            for (; !above.empty() && !IsBareRoot(above); above = ParentOf(above)) {
                bool known = false;
                for (const std::string& done : seen) known = known || platform::SamePathText(done, above);
                if (known) break;  // and so is everything above it
                seen.push_back(above);
                if (platform::SameFile(self, os.Identify(above))) return false;
            }
        }
    }
    return true;
}

void RunRemovalSteps(platform::Platform& os, const RemovalPlan& plan, platform::WindowRef owner) {
    if (!plan.manifestLoaded) {
        // Without its uninstall information the program cannot know what it owns.
        os.DiscardQueuedInput();
        os.ShowMessage(owner, kUnreadManifestText, kUnreadManifestCaption, platform::MessageKind::kWarning);
        return;
    }
    const std::string programFolder = GetProgramFolder(os);

    for (const std::string& command : plan.moduleCommands) {
        try {
            uint32_t exitCode = 0;
            RunAndWait(os, command, exitCode);
        } catch (...) {
        }
    }
    for (const std::string& file : plan.shortcutFiles) {
        try {
            os.RemoveFile(file);  // no attribute reset: a read-only shortcut stays
        } catch (...) {
        }
    }
    for (const std::string& folder : plan.shortcutFolders) {
        try {
            RemoveFolderTree(os, folder);
        } catch (...) {
        }
    }
    try {
        if (MayEmptyProgramFolder(os, programFolder)) RemoveFolderTree(os, programFolder);
    } catch (...) {
    }

    if (IsProductKey(plan.productKey)) os.DeleteRegistryTree(plan.productKey);

    os.DiscardQueuedInput();
    os.ShowMessage(owner, Format(kCompletionTemplate, {&plan.displayName}), kCompletionCaption);
}
