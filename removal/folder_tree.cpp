#include "removal/folder_tree.h"

#include <utility>
#include <vector>

namespace {

// One folder being emptied: its entries, read in full before any is touched, so
// that only one enumeration is ever open however deep the tree goes.
struct Level {
    std::string path;
    std::vector<platform::FolderEntry> entries;
    size_t next = 0;
    bool deferred = false;  // something inside goes at the next restart, so this folder must too
    bool stuck = false;     // something inside stays for good, so this folder does too
    bool kept = false;      // something inside is not ours, so this folder stays untouched
};

enum class Fate { kGone, kScheduled, kStays };

Level Enter(platform::Platform& os, RemovalObserver& observer, std::string path) {
    Level level;
    level.path = std::move(path);
    std::unique_ptr<platform::FolderEnumeration> found = os.FindFiles(level.path + "\\*");
    platform::FolderEntry entry;
    while (found->Next(&entry)) {
        if (entry.name == "." || entry.name == "..") continue;
        level.entries.push_back(std::move(entry));
        entry = platform::FolderEntry();
    }
    // What must go last moves to the end, the rest keeping their order.
    std::vector<platform::FolderEntry> lasts;
    size_t kept = 0;
    for (platform::FolderEntry& e : level.entries) {
        if (observer.GoesLast(level.path, e.name)) {
            lasts.push_back(std::move(e));
        } else {
            if (&level.entries[kept] != &e) level.entries[kept] = std::move(e);
            ++kept;
        }
    }
    for (platform::FolderEntry& e : lasts) level.entries[kept++] = std::move(e);
    return level;
}

RemovalObserver g_silent;

// After a failed removal: gone already, going with the program, scheduled for
// the next restart when it may be, or reported as staying.
Fate AfterFailure(platform::Platform& os, RemovalObserver& observer, const std::string& path, bool mayDefer,
                  bool mayGoWithProgram, bool isFile) {
    const uint32_t error = os.LastError();
    if (error == platform::kErrorFileNotFound || error == platform::kErrorPathNotFound) return Fate::kGone;
    if (mayGoWithProgram && observer.GoesWithTheProgram(path)) return Fate::kGone;
    if (mayDefer) {
        // The restart deletes a name, not a file: a file moved aside to a name of
        // its own first is the only one that name can mean by then. Folders keep
        // their names; the restart never removes one that is not empty.
        const std::string aside = isFile ? os.MoveAside(path) : std::string();
        const std::string& name = aside.empty() ? path : aside;
        if (os.ScheduleRemoval(name)) {
            observer.Scheduled(path, name);
            return Fate::kScheduled;
        }
        if (!aside.empty()) {
            observer.Left(aside, os.LastError());
            return Fate::kStays;
        }
    }
    observer.Left(path, error);
    return Fate::kStays;
}

void Mark(Level& level, Fate fate) {
    if (fate == Fate::kScheduled) level.deferred = true;
    if (fate == Fate::kStays) level.stuck = true;
}

// Depth first without recursion: a tree nested a thousand levels deep costs heap,
// not stack.
void RemoveContentsAndFolder(platform::Platform& os, const std::string& top, RemovalObserver& observer) {
    std::vector<Level> stack;
    stack.push_back(Enter(os, observer, top));
    while (!stack.empty()) {
        Level& level = stack.back();
        if (level.next == level.entries.size()) {
            if (level.kept) {
                // It stays for what it holds; its parent does too, for the same reason.
                if (stack.size() > 1) stack[stack.size() - 2].kept = true;
                stack.pop_back();
                continue;
            }
            const std::string path = std::move(level.path);
            const bool stuck = level.stuck, deferred = level.deferred;
            stack.pop_back();
            if (os.RemoveFolder(path)) {
                observer.Removed(path);
                continue;
            }
            // A folder that still holds scheduled entries is scheduled after them,
            // even the program's own folder.
            const Fate fate = AfterFailure(os, observer, path, !stuck, !deferred, false);
            if (!stack.empty()) Mark(stack.back(), fate);
            continue;
        }
        const platform::FolderEntry& entry = level.entries[level.next++];
        std::string full = level.path + "\\" + entry.name;
        if (entry.reparsePoint) {
            // Attributes set through a link may land on its target: leave them.
            // Nor is a link scheduled: what a restart would do with it is not ours.
            if (entry.directory ? os.RemoveFolder(full) : os.RemoveFile(full)) {
                observer.Removed(full);
            } else {
                Mark(level, AfterFailure(os, observer, full, false, false, !entry.directory));
            }
            continue;
        }
        if (observer.Keeps(full)) {
            level.kept = true;
            continue;
        }
        // Only read-only, hidden and system stand in the way of deleting; an
        // entry without them needs no extra call (it halves the system calls).
        if (entry.protectedBits) os.ResetAttributes(full);
        if (entry.directory) {
            stack.push_back(Enter(os, observer, std::move(full)));  // `level` is not used after this
        } else if (os.RemoveFile(full)) {
            observer.Removed(full);
        } else {
            Mark(level, AfterFailure(os, observer, full, true, true, true));
        }
    }
}

}  // namespace

void RemoveFolderTree(platform::Platform& os, std::string path, RemovalObserver* observer) {
    RemovalObserver& report = observer ? *observer : g_silent;
    if (path.empty()) {
        os.RemoveFolder(path);  // fails; "\*" would name the current drive's root
        return;
    }
    if (os.IsLink(path)) {
        // A group or program folder that is itself a link: only the link goes.
        if (os.RemoveFolder(path)) {
            report.Removed(path);
        } else {
            AfterFailure(os, report, path, false, false, false);
        }
        return;
    }
    RemoveContentsAndFolder(os, path, report);
}
