#include "removal/ownership.h"

#include <algorithm>
#include <utility>

#include "app/switches.h"
#include "plan/removal_plan.h"
#include "removal/launcher.h"

bool IsProductKey(const std::string& key) {
    const std::string parent = platform::Format(kUninstallKeyTemplate, {});
    if (key.size() <= parent.size() || key.compare(0, parent.size(), parent) != 0) return false;
    const std::string product = key.substr(parent.size());
    // A leading, trailing or doubled backslash would name a key further up.
    return product.front() != '\\' && product.back() != '\\' && product.find("\\\\") == std::string::npos;
}

namespace {

bool StartsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// The folder that holds `path`, by its spelling; empty at a root.
std::string ParentOf(const std::string& path) {
    const size_t cut = path.find_last_of("\\/");
    if (cut == std::string::npos || cut == 0) return std::string();
    return path.substr(0, cut);
}

bool SameOrInside(const std::string& path, const std::string& folder) {
    return platform::SamePathText(path, folder) || IsInsideFolder(path, folder);
}

// Identities of folders, each opened once however often it is listed.
std::vector<platform::FileIdentity> Identities(platform::Platform& os, const std::vector<std::string>& folders) {
    std::vector<std::string> seen;
    std::vector<platform::FileIdentity> found;
    for (const std::string& folder : folders) {
        bool known = false;
        for (const std::string& done : seen) known = known || platform::SamePathText(done, folder);
        if (known || folder.empty()) continue;
        seen.push_back(folder);
        platform::FileIdentity identity = os.Identify(folder);
        if (identity.known) found.push_back(std::move(identity));
    }
    return found;
}

// Whether `self` is one of `folders`, or (with `orHolds`) a folder above one.
bool IsOrHolds(const platform::FileIdentity& self, const std::vector<platform::FileIdentity>& folders, bool orHolds) {
    for (const platform::FileIdentity& identity : folders) {
        if (platform::SameFile(self, identity)) return true;
        if (orHolds && !self.finalPath.empty() && !identity.finalPath.empty() &&
            IsInsideFolder(identity.finalPath, self.finalPath)) {
            return true;
        }
    }
    return false;
}

std::vector<std::string> ShellAndTempFolders(platform::Platform& os) {
    std::vector<std::string> folders = os.KnownFolders();
    for (std::string& temp : os.TempFolders()) folders.push_back(std::move(temp));
    return folders;
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
    return Ownership(os, folder, std::string(), std::string()).MayEmptyProgramFolder();
}

std::string ProgramOfCommand(platform::Platform& os, const std::string& command) {
    const std::string quoted = platform::QuotedProgram(command);
    if (!quoted.empty()) return quoted;
    std::string program = command.substr(0, command.find(' '));
    // Unquoted blanks ("C:\Program Files\Bar\unins.exe /S"): the longest run of
    // words that names a file.
    for (size_t blank = command.find(' '); blank != std::string::npos; blank = command.find(' ', blank + 1)) {
        if (os.IsFile(command.substr(0, blank))) program = command.substr(0, blank);
    }
    if (os.IsFile(command)) program = command;
    return program;
}

Ownership::Ownership(platform::Platform& os, std::string programFolder, std::string product, std::string manifest)
    : os_(os), programFolder_(std::move(programFolder)), product_(std::move(product)), manifest_(std::move(manifest)) {}

std::string Ownership::Resolved(const std::string& path) {
    const platform::FileIdentity identity = os_.Identify(path);
    if (!identity.finalPath.empty()) return identity.finalPath;
    const std::string full = os_.FullPath(path);
    return full.empty() ? path : full;
}

bool Ownership::RunsThisProgram(const std::string& program) {
    if (!selfSettled_) {
        selfSettled_ = true;
        self_ = os_.Identify(os_.ModuleFileName());
    }
    return !program.empty() && self_.known && platform::SameFile(self_, os_.Identify(program));
}

const std::string& Ownership::OwnFolder() {
    if (ownFolder_.empty()) ownFolder_ = Resolved(programFolder_);
    return ownFolder_;
}

const std::string& Ownership::SharedWith() {
    if (sharedSettled_) return sharedWith_;
    sharedSettled_ = true;
    const platform::FileIdentity manifest = os_.Identify(manifest_);
    for (const platform::InstalledEntry& entry : os_.InstalledProducts()) {
        if (entry.thisProgramsKey && platform::SamePathText(entry.name, product_)) continue;  // this product
        const std::string program = ProgramOfCommand(os_, entry.uninstallString);
        if (!RunsThisProgram(program)) continue;
        // This program, for this product (another view of its entry) or another
        // one: another product when its own manifest lies in the program folder.
        std::string rest = entry.uninstallString.substr(
            std::min(entry.uninstallString.size(), entry.uninstallString.find(program) + program.size() + 1));
        rest.erase(0, std::min(rest.size(), rest.find_first_not_of(' ')));
        const std::string argument = ParseSwitches(rest, "/~").argument;
        const size_t first = argument.find_first_not_of(" \""), last = argument.find_last_not_of(" \"");
        if (first == std::string::npos) continue;
        const std::string theirs = ManifestPath(programFolder_, argument.substr(first, last + 1 - first));
        const platform::FileIdentity other = os_.Identify(theirs);
        if (os_.IsFile(theirs) && other.known && !platform::SameFile(other, manifest)) {
            sharedWith_ = entry.name;
            break;
        }
    }
    return sharedWith_;
}

void Ownership::SettleProductFolders() {
    if (foldersSettled_) return;
    foldersSettled_ = true;
    // A product sharing the program folder owns it too.
    if (!SharedWith().empty()) productFolders_.push_back(OwnFolder());
    const std::string windows = Resolved(os_.WindowsFolder());
    for (const platform::InstalledEntry& entry : os_.InstalledProducts()) {
        if (entry.thisProgramsKey && platform::SamePathText(entry.name, product_)) continue;  // this product
        const std::string program = ProgramOfCommand(os_, entry.uninstallString);
        if (RunsThisProgram(program)) continue;  // this product's, or the sharing one's, counted above
        for (std::string folder : {program.empty() ? std::string() : ProgramFolderOf(program), entry.installLocation}) {
            while (!folder.empty() && (folder.back() == '\\' || folder.back() == '"')) folder.pop_back();
            if (folder.empty() || folder.find('\\') == std::string::npos || IsBareRoot(folder)) continue;
            folder = Resolved(folder);
            // No product owns the Windows folder (an MsiExec.exe /X{...} entry), nor
            // a folder that holds this product's own.
            if (SameOrInside(folder, windows) || SameOrInside(OwnFolder(), folder) || IsBareRoot(folder)) continue;
            productFolders_.push_back(folder);
        }
    }
}

void Ownership::SettleSystemFolders() {
    if (systemSettled_) return;
    systemSettled_ = true;
    protectedSpellings_ = os_.ProtectedFolders();
    protected_ = Identities(os_, protectedSpellings_);
    known_ = Identities(os_, ShellAndTempFolders(os_));
}

bool Ownership::MayEmptyProgramFolder() {
    if (IsBareRoot(programFolder_)) return false;
    // Compared by what the folders are, not how they are spelled: a drive letter
    // mapped onto a profile, a linked parent or a short name reach the same folder.
    const platform::FileIdentity& self = judged_ = os_.Identify(programFolder_);
    if (!self.known || (!self.finalPath.empty() && IsBareRoot(self.finalPath))) return false;
    SettleSystemFolders();
    if (IsOrHolds(self, protected_, true)) return false;
    // Where nothing resolved to compare: climb each protected folder's own spelling.
    if (self.finalPath.empty()) {
        for (const std::string& protectedFolder : protectedSpellings_) {
            for (std::string above = ParentOf(protectedFolder); !above.empty() && !IsBareRoot(above);
                 above = ParentOf(above)) {
                if (platform::SameFile(self, os_.Identify(above))) return false;
            }
        }
    }
    // Any other folder of the shell, and the temp folders, only as themselves: a
    // folder inside one (AppData\Local\Programs\Foo) is a normal place to install.
    return !IsOrHolds(self, known_, false);
}

bool Ownership::IsShellFolder(const std::string& folder) { return IsShellFolder(os_.Identify(folder)); }

bool Ownership::IsShellFolder(const platform::FileIdentity& self) {
    if (!self.known) return false;  // nothing there to remove anyway
    SettleSystemFolders();
    return IsOrHolds(self, protected_, true) || IsOrHolds(self, known_, true);
}

bool Ownership::LeadsIntoThisProduct(const std::string& shortcut) {
    if (!SharedWith().empty()) return false;  // the folder's files may be the other product's
    const std::string target = os_.ShortcutTarget(shortcut);
    return !target.empty() && IsInsideFolder(Resolved(target), OwnFolder());
}

bool Ownership::LeadsIntoOtherProduct(const std::string& shortcut) {
    const std::string target = os_.ShortcutTarget(shortcut);
    if (target.empty()) return false;
    SettleProductFolders();
    const std::string resolved = Resolved(target);
    for (const std::string& folder : productFolders_) {
        if (SameOrInside(resolved, folder)) return true;
    }
    return false;
}
