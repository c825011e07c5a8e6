#include "app/preflight.h"

#include "platform/text.h"

bool LogPathRefused(platform::Platform& os, const std::string& logPath, const std::string& manifestPath,
                    const std::string& programFolder) {
    // The log is created afresh: naming the manifest would empty it before it is read.
    const platform::FileIdentity log = os.Identify(logPath), manifest = os.Identify(manifestPath);
    if (log.known && manifest.known ? platform::SameFile(log, manifest)
                                    : platform::SamePathText(logPath, manifestPath)) {
        return true;
    }
    // Inside the program folder the walk would meet the open log and leave it for
    // the next restart: a clean removal would end 3010.
    const std::string parent = platform::ParentFolder(logPath);
    const platform::FileIdentity where = os.Identify(parent), program = os.Identify(programFolder);
    if (where.known && program.known) {
        if (platform::SameFile(where, program)) return true;
        if (!where.finalPath.empty() && !program.finalPath.empty()) {
            return platform::IsInsideFolder(where.finalPath, program.finalPath);
        }
    }
    return platform::SamePathText(parent, programFolder) || platform::IsInsideFolder(parent, programFolder);
}
