// What the removal may touch, decided by what things are rather than by their
// names: the product's key, the program folder, the Start-menu groups, and the
// folders of the other products installed on the machine.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "plan/removal_plan.h"
#include "platform/platform.h"

// A key path that names one product's own key strictly below the Uninstall key.
bool IsProductKey(const std::string& key);
// A bare drive or share root ("D:", "\\server\share").
bool IsBareRoot(const std::string& path);
// Whether the program folder may be emptied: never a root, nor a folder of the
// system or the user, nor one that holds such a folder, nor the Windows folder or
// any folder inside it, nor any folder the shell knows by name or a temp folder,
// however it is spelled.
bool MayEmptyProgramFolder(platform::Platform& os, const std::string& folder);

// Ownership questions for one removal. Each is settled the first time it is
// asked, and only once: every answer opens files or reads the registry. The
// installed products are read once, before anything is removed; the entries of
// this product's own module uninstallers are told apart by their program.
//
// Which signal each answer trusts: the program folder is judged by what the
// folders are; only Uninstall entries of HKEY_LOCAL_MACHINE (writable by
// administrators alone) can share the program folder or keep a folder inside
// it; entries of HKEY_CURRENT_USER only ever keep more of what lies outside it
// (shortcuts that lead into their own folders).
class Ownership {
public:
    // The context's product names this product's own Uninstall entry;
    // `modulePrograms` are the programs of its module uninstallers.
    Ownership(platform::Platform& os, RunContext context, std::vector<std::string> modulePrograms = {});

    // Whether the program folder may be emptied (MayEmptyProgramFolder above).
    bool MayEmptyProgramFolder();
    // Another installed product whose Uninstall entry under HKEY_LOCAL_MACHINE runs
    // this same program file with a manifest of its own, read as this program reads
    // its own argument: the folder is that product's too. Empty when there is none.
    const std::string& SharedWith();
    // What the program folder was when MayEmptyProgramFolder judged it.
    const platform::FileIdentity& ProgramFolderIdentity() const { return judged_; }
    // Whether `folder` is, or holds, a folder of the shell (Programs, Startup, any
    // known folder, for the user or all users), compared by identity.
    bool IsShellFolder(const std::string& folder);
    bool IsShellFolder(const platform::FileIdentity& folder);
    // Whether a shortcut (.lnk) leads into this product's program folder, which no
    // other product shares, and not into another product's folder inside it.
    bool LeadsIntoThisProduct(const std::string& shortcut);
    // Whether a shortcut (.lnk) leads into the folder of another installed product.
    bool LeadsIntoOtherProduct(const std::string& shortcut);
    // The other installed product whose folder inside the program folder is, or
    // holds, `path` (a path inside the program folder); null when there is none.
    const std::string* OtherProductHolding(const std::string& path);
    // The same for an entry the walk met in the program folder's tree, by the id
    // its listing gave: no folder is opened for it.
    const std::string* OtherProductFolder(const std::string& path, uint64_t id);

private:
    // A folder an installed product's entry names, opened once to learn what it is.
    struct ProductFolder {
        std::string spelled;  // as the entry names it, in full and in its normal spelling
        std::string product;  // the entry's name
        bool machine = false;
        int state = 0;        // 0 not yet judged; 1 another product's; -1 no product's
        bool nested = false;  // inside the program folder
        platform::FileIdentity identity;  // not known: it does not exist, and only its spelling can tell
        std::string path;     // resolved
    };
    struct Place {
        platform::FileIdentity identity;
        std::string resolved;
    };
    // The installed products, read once: which one shares the program folder, and
    // the folders the others name, each opened once.
    void SettleProducts();
    void AddProductFolder(const std::string& folder, const platform::InstalledEntry& entry);
    // Whether a folder an entry names is another product's.
    bool Counts(ProductFolder& folder);
    // Another product's folder that is `identity` or, where that folder does not
    // exist, whose spelling is or holds `resolved`; only those inside the program
    // folder and named by HKEY_LOCAL_MACHINE when `nested`.
    const ProductFolder* FolderIs(const platform::FileIdentity& identity, const std::string& resolved, bool nested);
    // Another product's folder that is or holds `path`, by what the folders on its
    // way up are, up to (not including) `top`, or to its root when `top` is empty.
    const ProductFolder* FolderHolding(const std::string& path, const std::string& top, bool nested);
    // Whether an entry that runs this program names a manifest of another product.
    bool NamesAnotherManifest(const std::string& command);
    // The program folder, resolved.
    const std::string& OwnFolder();
    // The folders of the system and the user, each opened once for every question.
    void SettleSystemFolders();
    // The path with links and aliases resolved, for comparing; the normal full
    // spelling when the path cannot be opened.
    std::string Resolved(const std::string& path);
    Place Look(const std::string& path);
    // A path inside the program folder, resolved without opening it: the walk
    // never enters a link, so only the program folder's own spelling can differ.
    std::string ResolvedInside(const std::string& path);
    bool InOtherProduct(const std::string& path);

    platform::Platform& os_;
    const RunContext context_;
    const std::string& programFolder_;
    std::vector<std::string> modulePrograms_;
    bool productsSettled_ = false, windowsSettled_ = false;
    platform::FileIdentity judged_;
    std::string ownFolder_, windows_;
    std::string sharedWith_;
    std::vector<ProductFolder> productFolders_;
    // Those that exist, by volume and file id; and whether any does not.
    struct Opened {
        uint32_t volume;
        uint64_t index;
        uint32_t folder;  // in productFolders_
        bool operator<(const Opened& other) const {
            return volume != other.volume ? volume < other.volume : index < other.index;
        }
    };
    std::vector<Opened> byIdentity_;  // sorted once all are read
    bool someUnopened_ = false;
    bool systemSettled_ = false;
    std::vector<std::string> protectedSpellings_;
    std::vector<platform::FileIdentity> protected_, known_;  // never to empty; the shell's own and the temp folders
};
