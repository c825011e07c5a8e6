#include "removal/ownership.h"

#include <algorithm>
#include <utility>

#include "plan/command_line.h"
#include "plan/manifest_reader.h"
#include "platform/text.h"

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

std::string LastName(const std::string& path) { return path.substr(path.find_last_of("\\/") + 1); }

bool SameOrInside(const std::string& path, const std::string& folder) {
    return platform::SamePathText(path, folder) || platform::IsInsideFolder(path, folder);
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
            platform::IsInsideFolder(identity.finalPath, self.finalPath)) {
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
    RunContext context;
    context.programFolder = folder;
    return Ownership(os, std::move(context)).MayEmptyProgramFolder();
}

Ownership::Ownership(platform::Platform& os, RunContext context, std::vector<std::string> modulePrograms)
    : os_(os),
      context_(std::move(context)),
      programFolder_(context_.programFolder),
      modulePrograms_(std::move(modulePrograms)) {}

Ownership::Place Ownership::Look(const std::string& path) {
    Place place;
    place.identity = os_.Identify(path);
    place.resolved = place.identity.finalPath;
    if (place.resolved.empty()) place.resolved = os_.FullPath(path);
    if (place.resolved.empty()) place.resolved = path;
    place.resolved = platform::NormalPath(place.resolved);
    return place;
}

std::string Ownership::Resolved(const std::string& path) { return Look(path).resolved; }

std::string Ownership::ResolvedInside(const std::string& path) {
    if (platform::IsInsideFolder(path, programFolder_)) return OwnFolder() + path.substr(programFolder_.size());
    return Resolved(path);
}

const std::string& Ownership::OwnFolder() {
    if (ownFolder_.empty()) ownFolder_ = Resolved(programFolder_);
    return ownFolder_;
}

const std::string& Ownership::SharedWith() {
    SettleProducts();
    return sharedWith_;
}

bool Ownership::NamesAnotherManifest(const std::string& command) {
    // Read as a run of that command reads it, so ".\Bar.xml" is Bar.
    const RunContext other = WithArgument(os_, context_, ManifestArgument(command));
    if (other.product.empty() || platform::SamePathText(other.product, context_.product)) return false;
    const platform::FileIdentity theirs = os_.Identify(other.manifestFull);
    if (!os_.IsFile(other.manifestFull) || !theirs.known ||
        platform::SameFile(theirs, os_.Identify(context_.manifestFull))) {
        return false;
    }
    // A manifest is what the reader takes for one: a document with a Setup.
    RemovalPlan plan;
    ManifestTexts texts;
    ReadManifest(os_, other, plan, texts);
    return plan.manifestLoaded && texts.present;
}

void Ownership::SettleProducts() {
    if (productsSettled_) return;
    productsSettled_ = true;
    // This product's own programs: this file first, then its module uninstallers.
    std::vector<std::string> programs = modulePrograms_;
    programs.insert(programs.begin(), context_.programFile);
    std::vector<std::string> spellings;  // two for each: as named, and resolved
    std::vector<platform::FileIdentity> identities;
    for (const std::string& program : programs) {
        const Place place = Look(program);
        spellings.push_back(os_.FullPath(program));
        spellings.push_back(place.resolved);
        identities.push_back(place.identity);
    }
    const std::string selfName = LastName(programs.front());
    for (const platform::InstalledEntry& entry : os_.InstalledProducts()) {
        if (entry.thisProgramsKey && platform::SamePathText(entry.name, context_.product)) continue;  // this product
        const std::string program = ProgramOfCommand(os_, entry.uninstallString).path;
        const std::string full = IsAbsolutePath(program) ? os_.FullPath(program) : std::string();
        if (!full.empty()) {
            // One of this product's own programs: this one (the product's entry in
            // another view, or a product that shares the folder) or a module's own
            // uninstaller. Only a file of this program's name, or a short 8.3
            // spelling, is opened to tell.
            size_t which = programs.size();
            for (size_t i = 0; i < spellings.size() && which == programs.size(); ++i) {
                if (platform::SamePathText(full, spellings[i])) which = i / 2;
            }
            if (which == programs.size() &&
                (platform::SamePathText(LastName(full), selfName) || full.find('~') != std::string::npos)) {
                const platform::FileIdentity identity = os_.Identify(program);
                for (size_t i = 0; i < identities.size() && which == programs.size(); ++i) {
                    if (platform::SameFile(identity, identities[i])) which = i;
                }
            }
            if (which == 0 && entry.machine && sharedWith_.empty() && NamesAnotherManifest(entry.uninstallString)) {
                sharedWith_ = entry.name;
            }
            if (which < programs.size()) continue;
        }
        // Every folder the entry names: its program's, its InstallLocation, and its
        // manifest argument's where that lies in a folder of its own.
        const std::string programFolder = platform::ParentFolder(full);
        AddProductFolder(programFolder, entry);
        AddProductFolder(entry.installLocation, entry);
        const std::string argument = ManifestArgument(entry.uninstallString);
        if (!programFolder.empty() && argument.find_first_of("\\/") != std::string::npos) {
            const std::string manifest = platform::NormalPath(programFolder + "\\" + argument);
            if (os_.IsFile(manifest)) AddProductFolder(platform::ParentFolder(manifest), entry);
        }
    }
    std::sort(byIdentity_.begin(), byIdentity_.end());
}

// Opened once: from then on the folder is known by what it is, however it is spelled
// or reached. One that does not exist keeps only its normal spelling.
void Ownership::AddProductFolder(const std::string& folder, const platform::InstalledEntry& entry) {
    const std::string spelled = platform::NormalPath(folder);
    if (!IsAbsolutePath(spelled) || IsBareRoot(spelled)) return;
    ProductFolder found;
    found.spelled = platform::NormalPath(os_.FullPath(spelled));
    if (found.spelled.empty()) found.spelled = spelled;
    // The same entry often names one folder twice (its uninstaller lies in its location).
    for (size_t i = productFolders_.size(); i-- > 0 && productFolders_[i].product == entry.name;) {
        if (productFolders_[i].machine == entry.machine &&
            platform::SamePathText(productFolders_[i].spelled, found.spelled)) {
            return;
        }
    }
    found.product = entry.name;
    found.machine = entry.machine;
    found.identity = os_.Identify(found.spelled);
    found.path = found.identity.finalPath.empty() ? found.spelled : platform::NormalPath(found.identity.finalPath);
    const uint32_t index = static_cast<uint32_t>(productFolders_.size());
    if (found.identity.known && found.identity.index != 0) {
        byIdentity_.push_back({found.identity.volume, found.identity.index, index});
    } else {
        someUnopened_ = true;
    }
    productFolders_.push_back(std::move(found));
}

bool Ownership::Counts(ProductFolder& folder) {
    if (folder.state != 0) return folder.state > 0;
    if (!windowsSettled_) {
        windowsSettled_ = true;
        windows_ = Resolved(os_.WindowsFolder());
    }
    SettleSystemFolders();
    folder.nested = platform::IsInsideFolder(folder.path, OwnFolder());
    // No product owns the Windows folder (an MsiExec.exe /X{...} entry), a folder of
    // the shell or the user, nor a folder that holds this product's own; an entry any
    // user may write never decides what lies in the program folder.
    const bool counts = !SameOrInside(folder.path, windows_) && !SameOrInside(OwnFolder(), folder.path) &&
                        !IsOrHolds(folder.identity, protected_, true) && !IsOrHolds(folder.identity, known_, true) &&
                        (folder.machine || !folder.nested);
    folder.state = counts ? 1 : -1;
    return counts;
}

const Ownership::ProductFolder* Ownership::FolderIs(const platform::FileIdentity& identity,
                                                    const std::string& resolved, bool nested) {
    SettleProducts();
    const auto fits = [&](ProductFolder& folder) {
        return Counts(folder) && (!nested || (folder.nested && folder.machine));
    };
    if (identity.known && identity.index != 0) {
        const auto found = std::equal_range(byIdentity_.begin(), byIdentity_.end(), Opened{identity.volume, identity.index, 0});
        for (auto it = found.first; it != found.second; ++it) {
            if (fits(productFolders_[it->folder])) return &productFolders_[it->folder];
        }
    }
    // Where a folder could not be opened, only its spelling is left to compare.
    if (someUnopened_) {
        for (ProductFolder& folder : productFolders_) {
            const bool unopened = !folder.identity.known || folder.identity.index == 0;
            if (unopened && fits(folder) && SameOrInside(resolved, folder.path)) return &folder;
        }
    }
    return nullptr;
}

const Ownership::ProductFolder* Ownership::FolderHolding(const std::string& path, const std::string& top,
                                                         bool nested) {
    SettleProducts();
    if (productFolders_.empty()) return nullptr;
    for (std::string at = path; !at.empty() && !IsBareRoot(at); at = platform::ParentFolder(at)) {
        if (!top.empty() && !platform::IsInsideFolder(at, top)) break;
        if (const ProductFolder* folder = FolderIs(os_.Identify(at), at, nested)) return folder;
    }
    return nullptr;
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
    // Nothing in the Windows folder is any product's to empty.
    const platform::FileIdentity windows = os_.Identify(os_.WindowsFolder());
    if (platform::SameFile(self, windows) ||
        (!self.finalPath.empty() && !windows.finalPath.empty() && platform::IsInsideFolder(self.finalPath, windows.finalPath))) {
        return false;
    }
    // Where nothing resolved to compare: climb the spellings instead.
    if (self.finalPath.empty()) {
        for (std::string above = platform::ParentFolder(programFolder_); !above.empty() && !IsBareRoot(above);
             above = platform::ParentFolder(above)) {
            if (platform::SameFile(windows, os_.Identify(above))) return false;
        }
        for (const std::string& protectedFolder : protectedSpellings_) {
            for (std::string above = platform::ParentFolder(protectedFolder); !above.empty() && !IsBareRoot(above);
                 above = platform::ParentFolder(above)) {
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

bool Ownership::InOtherProduct(const std::string& resolved) {
    // A product sharing the program folder owns it too.
    if (!SharedWith().empty() && SameOrInside(resolved, OwnFolder())) return true;
    return FolderHolding(resolved, std::string(), false) != nullptr;
}

bool Ownership::LeadsIntoThisProduct(const std::string& shortcut) {
    if (!SharedWith().empty()) return false;  // the folder's files may be the other product's
    const std::string target = os_.ShortcutTarget(shortcut);
    if (target.empty()) return false;
    const std::string resolved = Resolved(target);
    return platform::IsInsideFolder(resolved, OwnFolder()) && !InOtherProduct(resolved);
}

bool Ownership::LeadsIntoOtherProduct(const std::string& shortcut) {
    const std::string target = os_.ShortcutTarget(shortcut);
    return !target.empty() && InOtherProduct(Resolved(target));
}

const std::string* Ownership::OtherProductHolding(const std::string& path) {
    const ProductFolder* folder = FolderHolding(ResolvedInside(path), OwnFolder(), true);
    return folder ? &folder->product : nullptr;
}

const std::string* Ownership::OtherProductFolder(const std::string& path, uint64_t id) {
    SettleProducts();
    if (productFolders_.empty()) return nullptr;
    platform::FileIdentity identity;
    if (id != 0 && judged_.known && judged_.index != 0) {
        // The walk never leaves the program folder's volume: it enters no link.
        identity.known = true;
        identity.volume = judged_.volume;
        identity.index = id;
    }
    const ProductFolder* folder = FolderIs(identity, ResolvedInside(path), true);
    return folder ? &folder->product : nullptr;
}
