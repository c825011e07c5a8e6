// Runs one module uninstaller and waits for it to end.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

// Shared between the caller and its worker; the caller owns it and reads it only
// after the worker has signalled `done`.
struct LaunchRecord {
    platform::Platform* os;
    std::string program;  // the file to run exactly; empty: the system's search of `command`
    std::string command;  // its buffer is the one handed to process creation
    platform::Event* done;
    uint32_t exitCode;
    bool started;
    bool exitCodeRead;  // false: `exitCode` is the system error that kept it unread
    // Processes the uninstaller leaves running from these folders are its work
    // (a copy of itself in the temp folder) and are waited for too.
    std::vector<std::string> workFolders;
};

// Starts `command` on a thread of its own and waits until the process has ended, and with it whatever it started from `workFolders`. Returns 0 with the
// process's exit code; 1 with the system error when it ran but its exit code cannot
// be read; -1 with the system error when the process (or the worker thread) cannot
// be started.
int RunAndWait(platform::Platform& os, const std::string& command, uint32_t& exitCode,
               const std::vector<std::string>& workFolders = {});

// The worker: starts the process, waits for it, reports and signals. Always 0.
unsigned LaunchWorker(void* record);

// How long the work an uninstaller hands on may take before the removal goes on
// without it: long enough for any real uninstaller, short of hanging for good.
constexpr uint32_t kHandedOnWorkLimitMs = 10 * 60 * 1000;
