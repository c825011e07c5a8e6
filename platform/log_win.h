// The log and standard output, as sinks of UTF-8 lines.
#pragma once

#include <memory>
#include <string>

#include "platform/platform.h"
#include "platform/win_handles.h"

namespace platform {

// A UTF-8 log file, created afresh; null when it cannot be created.
std::unique_ptr<TextSink> OpenLogFile(const std::string& path);
// Standard output when the caller redirected it (a file or a pipe), else null.
std::unique_ptr<TextSink> RedirectedOutput();
// Adds a line to a log the program wrote and has closed by now; nothing when
// `logPath` is empty or the log is gone.
void AppendToLog(const std::string& logPath, const std::string& line);

}  // namespace platform
