#include "plan/removal_plan.h"

#include <cstring>

#include "plan/command_line.h"

using platform::Format;

const char kUninstallKeyTemplate[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\%s";

std::string ProgramFolderOf(const std::string& programFile) {
    std::string folder = platform::ParentFolder(programFile);
    // The program folder has no trailing backslash, not even a drive's root ("D:").
    if (folder.size() > 1 && folder.back() == '\\' && folder[folder.size() - 2] == ':') folder.pop_back();
    return folder;
}

std::string ManifestPath(const std::string& programFolder, const std::string& argument) {
    return Format("%s\\%s", {&programFolder, &argument});
}

std::string ProductKey(const std::string& productName) {
    return Format(kUninstallKeyTemplate, {&productName});
}

RunContext MakeRunContext(platform::Platform& os, const std::string& argument) {
    RunContext context;
    context.programFile = os.ModuleFileName();
    context.programFolder = ProgramFolderOf(context.programFile);
    return WithArgument(os, context, argument);
}

RunContext WithArgument(platform::Platform& os, const RunContext& context, const std::string& argument) {
    RunContext result = context;
    result.argument = argument;
    result.manifestPath = ManifestPath(context.programFolder, argument);
    result.manifestFull = os.FullPath(result.manifestPath);
    if (result.manifestFull.empty()) result.manifestFull = result.manifestPath;
    result.product = ProductName(argument);
    return result;
}

std::string ModuleCommand(platform::Platform& os, const std::string& programFolder, const std::string& uninstall,
                          const std::string& param, const std::string& dir) {
    const std::string base = dir.empty() ? programFolder : Format("%s\\%s", {&programFolder, &dir});
    const std::string joined = Format("%s\\%s", {&base, &uninstall});
    // The folders are the manifest's own, never split: only `uninstall` is probed.
    // A program that does not exist is named in full, as the manifest names it.
    const CommandProgram program = ProgramOfCommand(os, joined, base.size() + 1);
    std::string command = program.found ? "\"" + program.path + "\"" + joined.substr(program.end)
                                        : "\"" + joined + "\"";
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
