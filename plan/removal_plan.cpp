#include "plan/removal_plan.h"

#include <cstring>

using platform::Format;

const char kUninstallKeyTemplate[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\%s";

std::string ProgramFolderOf(const std::string& programFile) {
    // Byte search on purpose: the path is what the system reported, cut exactly there.
    const size_t cut = programFile.rfind('\\');
    return cut == std::string::npos ? programFile : programFile.substr(0, cut);
}

std::string GetProgramFolder(platform::Platform& os) { return ProgramFolderOf(os.ModuleFileName()); }

std::string ManifestPath(const std::string& programFolder, const std::string& argument) {
    return Format("%s\\%s", {&programFolder, &argument});
}

std::string ProductName(const std::string& argument) {
    const size_t slash = argument.find_last_of("\\/");
    const std::string file = slash == std::string::npos ? argument : argument.substr(slash + 1);
    const size_t dot = file.rfind('.');
    return dot == std::string::npos ? std::string() : file.substr(0, dot);
}

std::string ProductKey(const std::string& productName) {
    return Format(kUninstallKeyTemplate, {&productName});
}

std::string ModuleCommand(platform::Platform& os, const std::string& programFolder, const std::string& uninstall,
                          const std::string& param, const std::string& dir) {
    const std::string base = dir.empty() ? programFolder : Format("%s\\%s", {&programFolder, &dir});
    std::string program = Format("%s\\%s", {&base, &uninstall});
    std::string arguments;
    if (!os.IsFile(program)) {
        for (size_t blank = uninstall.find(' '); blank != std::string::npos; blank = uninstall.find(' ', blank + 1)) {
            const std::string head = uninstall.substr(0, blank);
            const std::string candidate = Format("%s\\%s", {&base, &head});
            if (!head.empty() && os.IsFile(candidate)) {
                program = candidate;
                arguments = uninstall.substr(blank);
                break;
            }
        }
    }
    std::string command = "\"" + program + "\"" + arguments;
    if (!param.empty()) command += Format(" \"%s\"", {&param});
    return command;
}

bool StaysInsideFolder(const std::string& relative) {
    if (relative.find(':') != std::string::npos) return false;
    size_t start = 0;
    while (true) {
        size_t end = relative.find_first_of("\\/", start);
        if (end == std::string::npos) end = relative.size();
        const std::string part = relative.substr(start, end - start);
        if (part.find_first_not_of(". ") == std::string::npos) return false;  // "", ".", "..", ". ."
        if (end == relative.size()) return true;
        start = end + 1;
    }
}

void AddShortcut(platform::Platform& os, const std::string& root, const std::string& group,
                 const std::string& link, RemovalPlan& plan) {
    if (root.empty() || link.empty()) return;
    const std::string what = "ShortCut root=\"" + root + "\" group=\"" + group + "\" link=\"" + link + "\": ";
    const bool programs = root == "PROGRAMS";
    if (!programs && root != "DESKTOP") {
        plan.refusals.push_back(what + "root is neither PROGRAMS nor DESKTOP");
        return;
    }
    const bool useGroup = programs && !group.empty();
    if (!StaysInsideFolder(useGroup ? group : link)) {
        plan.refusals.push_back(what + (useGroup ? "group" : "link") + " would leave its folder");
        return;
    }

    std::string folder;
    if (!os.SpecialFolder(programs ? platform::ShellFolder::kPrograms : platform::ShellFolder::kDesktop,
                          &folder) ||
        folder.empty()) {
        plan.refusals.push_back(what + "the folder lookup failed");
        return;
    }
    if (useGroup) {
        plan.shortcutFolders.push_back(Format("%s\\%s", {&folder, &group}));
        // What goes from a group that turns out to be one of the shell's own folders.
        plan.groupLinks.push_back(StaysInsideFolder(link) ? Format("%s\\%s\\%s.lnk", {&folder, &group, &link})
                                                          : std::string());
    } else {
        plan.shortcutFiles.push_back(Format("%s\\%s.lnk", {&folder, &link}));
    }
}
