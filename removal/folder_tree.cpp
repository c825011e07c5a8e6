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
};

Level Enter(platform::Platform& os, std::string path) {
    Level level;
    level.path = std::move(path);
    std::unique_ptr<platform::FolderEnumeration> found = os.FindFiles(level.path + "\\*");
    platform::FolderEntry entry;
    while (found->Next(&entry)) {
        if (entry.name == "." || entry.name == "..") continue;
        level.entries.push_back(std::move(entry));
        entry = platform::FolderEntry();
    }
    return level;
}

// Depth first without recursion: a tree nested a thousand levels deep costs heap,
// not stack.
void RemoveContentsAndFolder(platform::Platform& os, const std::string& top) {
    std::vector<Level> stack;
    stack.push_back(Enter(os, top));
    while (!stack.empty()) {
        Level& level = stack.back();
        if (level.next == level.entries.size()) {
            os.RemoveFolder(level.path);
            stack.pop_back();
            continue;
        }
        const platform::FolderEntry& entry = level.entries[level.next++];
        std::string full = level.path + "\\" + entry.name;
        if (entry.reparsePoint) {
            // Attributes set through a link may land on its target: leave them.
            if (entry.directory) {
                os.RemoveFolder(full);
            } else {
                os.RemoveFile(full);
            }
            continue;
        }
        // Only read-only, hidden and system stand in the way of deleting; an
        // entry without them needs no extra call (it halves the system calls).
        if (entry.protectedBits) os.ResetAttributes(full);
        if (entry.directory) {
            stack.push_back(Enter(os, std::move(full)));  // `level` is not used after this
        } else {
            os.RemoveFile(full);
        }
    }
}

}  // namespace

void RemoveFolderTree(platform::Platform& os, std::string path) {
    if (path.empty()) {
        os.RemoveFolder(path);  // fails; "\*" would name the current drive's root
        return;
    }
    if (os.IsLink(path)) {
        // A group or program folder that is itself a link: only the link goes.
        os.RemoveFolder(path);
        return;
    }
    RemoveContentsAndFolder(os, path);
}
