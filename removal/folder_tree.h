// Deletes a folder with everything inside it, as far as it can.
#pragma once

#include <string>

#include "platform/platform.h"

// Depth first: each entry's read-only, hidden and system attributes are cleared,
// files deleted, sub-folders removed the same way, then the folder itself.
// Failures are silent; what cannot be deleted stays, with the folders above it. A link to a folder
// (junction, symbolic link, mount point) is removed itself, never walked into.
void RemoveFolderTree(platform::Platform& os, std::string path);
