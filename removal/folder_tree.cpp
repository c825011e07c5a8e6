#include "removal/folder_tree.h"

#include <utility>
#include <vector>

#include "platform/text.h"

namespace {

using platform::FolderEntry;
using platform::OpenFolder;

// One folder being emptied: its handle and its entries, read in full before any
// is touched.
struct Level {
    std::unique_ptr<OpenFolder> folder;
    std::vector<FolderEntry> entries;
    size_t next = 0;
    bool deferred = false;  // something inside goes at the next restart, so this folder must too
    bool stuck = false;     // something inside stays for good, so this folder does too
    bool kept = false;      // something inside is not ours, so this folder stays untouched
    uint32_t listError = 0; // its listing broke off: what it held is not known in full
    int passes = 0;         // listings after the first, for what was written into it meanwhile
};

enum class Fate { kGone, kScheduled, kStays };

// How long, in all, one walk waits for files that cannot even be renamed: a virus
// scanner or an indexer that holds a file lets go within moments.
constexpr uint32_t kMoveRetryMs = 2000;
constexpr uint32_t kMoveRetryStepMs = 100;
// How often a folder that is not empty after its entries went is listed again, for
// what was written into it meanwhile.
constexpr int kRefillPasses = 3;

class Walk {
public:
    Walk(platform::Platform& os, RemovalObserver& observer) : os_(os), observer_(observer) {}

    void Run(std::unique_ptr<OpenFolder> top);

private:
    Level Enter(std::unique_ptr<OpenFolder> folder);
    void Order(Level& level);
    Fate Refilled(Level& level, bool* again);
    Fate RemoveFile(OpenFolder& folder, const FolderEntry& entry);
    Fate FolderFailed(const std::string& path, bool mayDefer, bool mayGoWithProgram);
    std::string MoveAside(OpenFolder& folder, const FolderEntry& entry);

    platform::Platform& os_;
    RemovalObserver& observer_;
    uint32_t retryLeftMs_ = kMoveRetryMs;
};

bool IsGone(uint32_t error) { return error == platform::kErrorFileNotFound || error == platform::kErrorPathNotFound; }

void Mark(Level& level, Fate fate) {
    if (fate == Fate::kScheduled) level.deferred = true;
    if (fate == Fate::kStays) level.stuck = true;
}

Level Walk::Enter(std::unique_ptr<OpenFolder> folder) {
    Level level;
    if (!folder->List(&level.entries)) level.listError = os_.LastError();
    level.folder = std::move(folder);
    Order(level);
    return level;
}

void Walk::Order(Level& level) {
    observer_.Listed(level.entries.size());
    // What must go last moves to the end, the rest keeping their order.
    std::vector<FolderEntry> lasts;
    size_t kept = 0;
    for (FolderEntry& e : level.entries) {
        if (observer_.GoesLast(level.folder->Path(), e.name)) {
            lasts.push_back(std::move(e));
        } else {
            if (&level.entries[kept] != &e) level.entries[kept] = std::move(e);
            ++kept;
        }
    }
    for (FolderEntry& e : lasts) level.entries[kept++] = std::move(e);
}

// A folder still not empty when all its entries went was written into since it was
// listed: listed again, what appeared goes, a few times over (`again`). Then what
// is still there stays, and the folder with it, never scheduled (the restart
// removes no folder that is not empty); the program's folder goes with the program
// only when nothing but the program's own is left in it.
Fate Walk::Refilled(Level& level, bool* again) {
    *again = false;
    const std::string path = level.folder->Path();
    std::vector<FolderEntry> found;
    if (!level.folder->List(&found)) {
        observer_.Left(path, os_.LastError());
        return Fate::kStays;
    }
    std::vector<FolderEntry> others;
    for (FolderEntry& entry : found) {
        if (!observer_.GoesWithTheProgram(InFolder(path, entry.name))) others.push_back(std::move(entry));
    }
    if (others.empty() && !found.empty() && observer_.GoesWithTheProgram(path)) return Fate::kGone;
    if ((others.empty() && !found.empty()) || level.passes == kRefillPasses) {
        observer_.Left(path, others.empty() ? platform::kErrorDirNotEmpty : platform::kErrorBusy);
        return Fate::kStays;
    }
    ++level.passes;
    level.entries = std::move(others);
    level.next = 0;
    Order(level);
    *again = true;
    return Fate::kGone;
}

// A file in use is renamed within its folder, the rename retried while another
// process holds it without delete sharing.
std::string Walk::MoveAside(OpenFolder& folder, const FolderEntry& entry) {
    for (;;) {
        std::string aside = folder.MoveChildAside(entry);
        if (!aside.empty() || os_.LastError() != platform::kErrorSharingViolation || retryLeftMs_ == 0) return aside;
        os_.Sleep(kMoveRetryStepMs);
        retryLeftMs_ -= kMoveRetryStepMs;
    }
}

// A file, or a link as itself (only where the system deletes the link alone). After
// a failed delete: gone already, going with the program, moved aside and scheduled
// for the next restart, or reported as staying. A link is never scheduled: what a
// restart would do with it is not ours. Its path is made only to be told.
Fate Walk::RemoveFile(OpenFolder& folder, const FolderEntry& entry) {
    if (folder.DeleteChild(entry)) {
        observer_.RemovedFrom(folder.Path(), entry.name);
        return Fate::kGone;
    }
    const uint32_t error = os_.LastError();
    if (IsGone(error)) return Fate::kGone;
    const std::string path = InFolder(folder.Path(), entry.name);
    const bool link = entry.reparsePoint || error == platform::kErrorNotItself;
    if (!link && observer_.GoesWithTheProgram(path)) return Fate::kGone;
    // The restart deletes a name, not a file: a file moved aside to a name of its
    // own first is the only one that name can mean by then. One that cannot be
    // moved is never scheduled under its own name, which a reinstall may reuse.
    const std::string aside = link ? std::string() : MoveAside(folder, entry);
    if (aside.empty()) {
        observer_.Left(path, error);
        return Fate::kStays;
    }
    const std::string asidePath = InFolder(folder.Path(), aside);
    if (os_.ScheduleRemoval(asidePath)) {
        observer_.Scheduled(path, asidePath);
        return Fate::kScheduled;
    }
    observer_.Left(asidePath, os_.LastError());
    return Fate::kStays;
}

// Folders keep their names for the restart, which never removes one that is not
// empty; one that holds what stays for good is not scheduled.
Fate Walk::FolderFailed(const std::string& path, bool mayDefer, bool mayGoWithProgram) {
    const uint32_t error = os_.LastError();
    if (IsGone(error)) return Fate::kGone;
    if (mayGoWithProgram && observer_.GoesWithTheProgram(path)) return Fate::kGone;
    if (mayDefer && os_.ScheduleRemoval(path)) {
        observer_.Scheduled(path, path);
        return Fate::kScheduled;
    }
    observer_.Left(path, error);
    return Fate::kStays;
}

// Depth first without recursion: a tree nested a thousand levels deep costs heap
// and handles, not stack.
void Walk::Run(std::unique_ptr<OpenFolder> top) {
    std::vector<Level> stack;
    stack.push_back(Enter(std::move(top)));
    while (!stack.empty()) {
        Level& level = stack.back();
        if (level.next == level.entries.size()) {
            if (level.kept) {
                // It stays for what it holds; its parent does too, for the same reason.
                if (stack.size() > 1) stack[stack.size() - 2].kept = true;
                stack.pop_back();
                continue;
            }
            const std::string path = level.folder->Path();
            Fate fate = Fate::kGone;
            if (level.listError != 0) {
                // What it holds is not known in full: it stays, told why.
                observer_.Left(path, level.listError);
                fate = Fate::kStays;
            } else if (level.folder->Remove()) {
                observer_.Removed(path);
            } else if (os_.LastError() == platform::kErrorDirNotEmpty && !level.stuck && !level.deferred) {
                bool again = false;
                fate = Refilled(level, &again);
                if (again) continue;
            } else {
                // A folder that still holds scheduled entries is scheduled after them,
                // even the program's own folder.
                fate = FolderFailed(path, !level.stuck, !level.deferred);
            }
            stack.pop_back();  // its handle closes
            if (!stack.empty()) Mark(stack.back(), fate);
            continue;
        }
        const FolderEntry& entry = level.entries[level.next++];
        observer_.Reached();
        if (observer_.Keeps(level.folder->Path(), entry)) {
            level.kept = true;
            continue;
        }
        if (entry.reparsePoint || !entry.directory) {
            Mark(level, RemoveFile(*level.folder, entry));
            continue;
        }
        std::unique_ptr<OpenFolder> child = level.folder->Enter(entry);
        if (!child) {
            const uint32_t error = os_.LastError();
            // Swapped for a link since the listing: never entered.
            if (error == platform::kErrorNotItself) {
                Mark(level, RemoveFile(*level.folder, entry));
            } else if (!IsGone(error)) {
                observer_.Left(InFolder(level.folder->Path(), entry.name), error);
                level.stuck = true;
            }
            continue;
        }
        // Only read-only, hidden and system stand in the way of deleting; an entry
        // without them needs no extra call.
        if (entry.protectedBits) child->ResetAttributes();
        stack.push_back(Enter(std::move(child)));  // `level` is not used after this
    }
}

RemovalObserver g_silent;

}  // namespace

std::unique_ptr<OpenFolder> OpenTopFolder(platform::Platform& os, const std::string& path, RemovalObserver& observer) {
    std::unique_ptr<OpenFolder> folder = os.OpenFolderAt(path);
    if (folder) return folder;
    const uint32_t error = os.LastError();
    if (error == platform::kErrorNotItself) {
        // A group or program folder that is itself a link: only the link, if anything.
        std::unique_ptr<OpenFolder> parent = os.OpenFolderAt(platform::ParentFolder(path), false);
        FolderEntry entry;
        entry.name = path.substr(path.find_last_of("\\/") + 1);
        entry.directory = entry.reparsePoint = true;
        if (parent) {
            if (parent->DeleteChild(entry)) {
                observer.Removed(path);
                return nullptr;
            }
            if (IsGone(os.LastError())) return nullptr;
        }
        observer.Left(path, platform::kErrorNotItself);
    } else if (!IsGone(error) && !path.empty()) {
        observer.Left(path, error);
    }
    return nullptr;
}

void RemoveFolderTree(platform::Platform& os, std::unique_ptr<OpenFolder> folder, RemovalObserver& observer) {
    if (folder) Walk(os, observer).Run(std::move(folder));
}

void RemoveFolderTree(platform::Platform& os, const std::string& path, RemovalObserver* observer) {
    RemovalObserver& report = observer ? *observer : g_silent;
    RemoveFolderTree(os, OpenTopFolder(os, path, report), report);
}
