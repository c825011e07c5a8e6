// What a run can tell before it touches anything: whether its log may go where it
// was asked to.
#pragma once

#include <string>

#include "plan/removal_plan.h"
#include "platform/platform.h"

// The log file could not be created (Windows Installer's ERROR_INSTALL_LOG_FAILURE).
constexpr int kExitLogFailed = 1622;

// Whether a log at `logPath` would be the manifest itself, or lie inside the
// program folder that the removal empties. Paths are full (resolved against the
// current folder). Compared by what the files are when they exist, by spelling
// otherwise.
bool LogPathRefused(platform::Platform& os, const std::string& logPath, const std::string& manifestPath,
                    const std::string& programFolder);
