#include "removal/folder_tree.h"

namespace {

void RemoveContentsAndFolder(platform::Platform& os, const std::string& path) {
    {
        std::unique_ptr<platform::FolderEnumeration> entries = os.FindFiles(path + "\\*");
        platform::FolderEntry entry;
        while (entries->Next(&entry)) {
            if (entry.name == "." || entry.name == "..") continue;
            const std::string full = path + "\\" + entry.name;
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
                RemoveContentsAndFolder(os, full);
            } else {
                os.RemoveFile(full);
            }
        }
    }
    os.RemoveFolder(path);
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
