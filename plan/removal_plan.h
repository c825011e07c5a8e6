// What the confirmation dialog knows between reading the manifest and removing:
// the record itself and the rules that compose its entries.
#pragma once

#include <string>

#include "platform/platform.h"
#include "platform/text.h"

struct RemovalPlan {
    platform::StringList shortcutFiles;    // full paths of .lnk files
    platform::StringList shortcutFolders;  // Start-menu group folders, removed with their contents
    platform::StringList groupLinks;       // for each group folder, the shortcut its ShortCut names; empty when unsafe
    platform::StringList moduleCommands;   // complete command lines of module uninstallers
    std::string productName;               // names the key and the one-run lock
    std::string productKey;                // below HKEY_LOCAL_MACHINE
    std::string displayName;
    bool manifestLoaded = false;   // nothing is removed on the word of a manifest that was never read
    bool manifestMissing = false;  // not loaded because there is no such file
    platform::StringList refusals;  // manifest entries the rules refused, and why
};

extern const char kUninstallKeyTemplate[];

// The folder that holds the program file: its path cut at the last backslash (in
// UTF-8 that byte is always the backslash character), without a trailing one.
std::string ProgramFolderOf(const std::string& programFile);

std::string ManifestPath(const std::string& programFolder, const std::string& argument);
std::string ProductKey(const std::string& productName);

// Where a run stands, made once as it starts and handed to everything after.
struct RunContext {
    std::string programFile;    // the running program, as the system reports it
    std::string programFolder;  // the folder that holds it
    std::string argument;       // the manifest's name, as the command line gives it
    std::string manifestPath;   // the manifest, as the argument names it in the program folder
    std::string manifestFull;   // the same, resolved (as spelled when it cannot be)
    std::string product;        // the product the argument names
};
RunContext MakeRunContext(platform::Platform& os, const std::string& argument);
// The same program, with another manifest (another product's, sharing the folder).
RunContext WithArgument(platform::Platform& os, const RunContext& context, const std::string& argument);

// Command line of one module's uninstaller from its `uninstall`, `uninstallparam`
// and `dir` values; `uninstall` must not be empty. The program's path is quoted,
// so blanks in the folders never split it. Manifests that put arguments into
// `uninstall` itself still work: when no file has the whole name, the first
// blank of `uninstall` after which an existing file remains ends the program.
std::string ModuleCommand(platform::Platform& os, const std::string& programFolder, const std::string& uninstall,
                          const std::string& param, const std::string& dir);

// A `group` or `link` value that stays inside the folder it is joined to: no
// empty, "." or ".." component (nor one of only dots and blanks, which Windows
// reads the same way) and no drive or stream colon.
bool StaysInsideFolder(const std::string& relative);

// Adds the entry for one ShortCut (`root`, `group`, `link`) to the plan, or nothing
// when the values are incomplete, unknown, unsafe or the folder lookup fails.
void AddShortcut(platform::Platform& os, const std::string& root, const std::string& group,
                 const std::string& link, RemovalPlan& plan);
