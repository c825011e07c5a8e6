#include "platform/platform.h"

#include "platform/text.h"

namespace platform {

bool SameFile(const FileIdentity& a, const FileIdentity& b) {
    if (!a.known || !b.known) return false;
    if (a.volume == b.volume && a.index == b.index && a.index != 0) return true;
    return !a.finalPath.empty() && SamePathText(a.finalPath, b.finalPath);
}

}  // namespace platform
