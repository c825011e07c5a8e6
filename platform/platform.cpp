#include "platform/platform.h"

#include "platform/text.h"

namespace platform {

bool SameFile(const FileIdentity& a, const FileIdentity& b) {
    if (!a.known || !b.known) return false;
    // Where both have an index it decides: another folder put in the same place
    // since is not the same.
    if (a.index != 0 && b.index != 0) return a.volume == b.volume && a.index == b.index;
    return !a.finalPath.empty() && SamePathText(a.finalPath, b.finalPath);
}

}  // namespace platform
