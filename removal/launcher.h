// Runs one module uninstaller and waits for it to end.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

// Shared between the caller and its worker; the caller owns it and reads it only
// after the worker has signalled `done`.
struct LaunchRecord {
    platform::Platform* os;
    std::string command;  // its buffer is the one handed to process creation
    platform::Event* done;
    uint32_t exitCode;
    bool started;
};

// Starts `command` on a worker thread and waits, on the UI thread, until the process
// has ended. Returns 0 with the process's exit code, or -1 with the system error
// when the process (or the worker thread) cannot be started.
int RunAndWait(platform::Platform& os, const std::string& command, uint32_t& exitCode);

// The worker: starts the process, waits for it, reports and signals. Always 0.
unsigned LaunchWorker(void* record);
