// What the removal may touch, decided by what things are rather than by their
// names: the product's key, the program folder, the Start-menu groups, and the
// folders of the other products installed on the machine.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

// A key path that names one product's own key strictly below the Uninstall key.
bool IsProductKey(const std::string& key);
// A bare drive or share root ("D:", "\\server\share").
bool IsBareRoot(const std::string& path);
// Whether the program folder may be emptied: never a root, nor a folder of the
// system or the user, nor one that holds such a folder, nor any folder the shell
// knows by name or a temp folder, however it is spelled.
bool MayEmptyProgramFolder(platform::Platform& os, const std::string& folder);

// The program file named at the start of a command line: quoted, else the
// longest run of words that names an existing file, else the first word.
std::string ProgramOfCommand(platform::Platform& os, const std::string& command);

// Ownership questions for one removal. Each is settled the first time it is
// asked, and only once: every answer opens files or reads the registry. Other
// products' folders are first asked for after the module uninstallers have run,
// so that the modules' own Uninstall entries are gone by then.
class Ownership {
public:
    // `product` names this product's own Uninstall entry; `manifest` is its manifest.
    Ownership(platform::Platform& os, std::string programFolder, std::string product, std::string manifest);

    // Whether the program folder may be emptied (MayEmptyProgramFolder above).
    bool MayEmptyProgramFolder();
    // Another installed product whose Uninstall entry runs this same program file
    // with its own manifest, which lies in the program folder: the folder is that
    // product's too. Empty when there is none.
    const std::string& SharedWith();
    // What the program folder was when MayEmptyProgramFolder judged it.
    const platform::FileIdentity& ProgramFolderIdentity() const { return judged_; }
    // Whether `folder` is, or holds, a folder of the shell (Programs, Startup, any
    // known folder, for the user or all users), compared by identity.
    bool IsShellFolder(const std::string& folder);
    bool IsShellFolder(const platform::FileIdentity& folder);
    // Whether a shortcut (.lnk) leads into this product's program folder, which no
    // other product shares.
    bool LeadsIntoThisProduct(const std::string& shortcut);
    // Whether a shortcut (.lnk) leads into the folder of another installed product.
    bool LeadsIntoOtherProduct(const std::string& shortcut);

private:
    // The folders of all other installed products, resolved.
    void SettleProductFolders();
    // Whether `program` is this very program file.
    bool RunsThisProgram(const std::string& program);
    // The program folder, resolved.
    const std::string& OwnFolder();
    // The folders of the system and the user, each opened once for every question.
    void SettleSystemFolders();
    // The path with links and aliases resolved, for comparing; the full spelling
    // when the path cannot be opened.
    std::string Resolved(const std::string& path);

    platform::Platform& os_;
    std::string programFolder_, product_, manifest_;
    bool sharedSettled_ = false, foldersSettled_ = false, selfSettled_ = false;
    platform::FileIdentity self_, judged_;
    std::string ownFolder_;
    std::string sharedWith_;
    std::vector<std::string> productFolders_;  // resolved
    bool systemSettled_ = false;
    std::vector<std::string> protectedSpellings_;
    std::vector<platform::FileIdentity> protected_, known_;  // never to empty; the shell's own and the temp folders
};
