// Deletes a folder with everything inside it, as far as it can.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/platform.h"

// The path of the entry `name` of the folder at `folder`, as the walk reports it.
inline std::string InFolder(const std::string& folder, const std::string& name) { return folder + "\\" + name; }

// Hears what became of each entry of a removal. The calls made for every entry
// take its folder and its name: the path is joined only where it is used.
class RemovalObserver {
public:
    virtual ~RemovalObserver() = default;
    virtual void Removed(const std::string& path) {}
    // A file (or link) of the folder at `folder` removed.
    virtual void RemovedFrom(const std::string& folder, const std::string& name) { Removed(InFolder(folder, name)); }
    // In use now: deleted at the next restart, under the name `as` (the entry is
    // first moved aside to a fresh name, so the restart deletes this file and not
    // a later one of the same name; `as` is `path` for a folder).
    virtual void Scheduled(const std::string& path, const std::string& as) {}
    // Stays, for the system's reason `error`.
    virtual void Left(const std::string& path, uint32_t error) {}
    // True for what the program removes itself once it has ended (its own file
    // and folder): such a path is neither scheduled nor reported.
    virtual bool GoesWithTheProgram(const std::string& path) { return false; }
    // True for a file or folder that is not ours to remove: it stays untouched and
    // unreported, and so do the folders that hold it. `entry` as the folder at
    // `folder` listed it.
    virtual bool Keeps(const std::string& folder, const platform::FolderEntry& entry) { return false; }
    // True for an entry of `folder` that must go after all the others there.
    virtual bool GoesLast(const std::string& folder, const std::string& name) { return false; }
    // How far the walk has come: a folder's listing found `entries`, and the walk
    // took one entry of a listing in hand.
    virtual void Listed(size_t entries) {}
    virtual void Reached() {}
};

// Opens a group or program folder to remove from. When its path ends in a link,
// only the link goes, where the system can delete the link without reaching what
// it leads to, else it stays, reported; then, and when it is missing or cannot be
// opened, the result is null.
std::unique_ptr<platform::OpenFolder> OpenTopFolder(platform::Platform& os, const std::string& path,
                                                    RemovalObserver& observer);

// Depth first: each entry's read-only, hidden and system attributes are cleared,
// files deleted, sub-folders removed the same way, then the folder itself. Every
// entry is reached through the handle of the folder that holds it and acted on
// only as itself: a link, or whatever was swapped in after the listing, is never
// entered; it is deleted where the system deletes the link alone, else it stays.
// What cannot be deleted now (in use) is moved aside and scheduled for the next
// restart, files before the folders that hold them; what cannot be either stays.
// What the observer keeps stays with the folders that hold it.
void RemoveFolderTree(platform::Platform& os, std::unique_ptr<platform::OpenFolder> folder,
                      RemovalObserver& observer);
// The same for a path, opened with OpenTopFolder.
void RemoveFolderTree(platform::Platform& os, const std::string& path, RemovalObserver* observer = nullptr);
