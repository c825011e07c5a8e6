// Deletes a folder with everything inside it, as far as it can.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

// Hears what became of each entry of a removal.
class RemovalObserver {
public:
    virtual ~RemovalObserver() = default;
    virtual void Removed(const std::string& path) {}
    // In use now: deleted at the next restart.
    virtual void Scheduled(const std::string& path) {}
    // Stays, for the system's reason `error`.
    virtual void Left(const std::string& path, uint32_t error) {}
    // True for what the program removes itself once it has ended (its own file
    // and folder): such a path is neither scheduled nor reported.
    virtual bool GoesWithTheProgram(const std::string& path) { return false; }
};

// Depth first: each entry's read-only, hidden and system attributes are cleared,
// files deleted, sub-folders removed the same way, then the folder itself. What
// cannot be deleted now (in use) is scheduled for the next restart, files before
// the folders that hold them; what cannot be scheduled either stays. A link to a
// folder (junction, symbolic link, mount point) is removed itself, never walked
// into and never scheduled.
void RemoveFolderTree(platform::Platform& os, std::string path, RemovalObserver* observer = nullptr);
