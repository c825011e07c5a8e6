#include "removal/removal_sequence.h"

#include "removal/folder_tree.h"
#include "removal/launcher.h"

using platform::Format;

const char kCompletionTemplate[] = "%s卸载完毕，我们会继续努力，谢谢使用！";
const char kCompletionCaption[] = "卸载成功";

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

// `inner` is `outer` or lies inside it.
bool IsSameOrInside(const std::string& inner, const std::string& outer) {
    if (outer.empty() || inner.size() < outer.size()) return false;
    if (!platform::SamePathText(inner.substr(0, outer.size()), outer)) return false;
    return inner.size() == outer.size() || IsSeparator(inner[outer.size()]) || IsSeparator(outer.back());
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
    const std::string canonical = os.CanonicalPath(folder);
    if (IsBareRoot(canonical)) return false;
    for (const std::string& owned : os.ProtectedFolders()) {
        if (IsSameOrInside(owned, canonical) || IsSameOrInside(owned, folder)) return false;
    }
    return true;
}

void RunRemovalSteps(platform::Platform& os, const RemovalPlan& plan, platform::WindowRef owner) {
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
