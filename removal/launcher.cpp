#include "removal/launcher.h"

#include <memory>

unsigned LaunchWorker(void* param) {
    LaunchRecord& record = *static_cast<LaunchRecord*>(param);
    uint32_t error = 0;
    std::unique_ptr<platform::Process> process = record.os->StartProcess(record.command, &error);
    if (!process) {
        record.exitCode = error;
        record.started = false;
        record.done->Set();
        return 0;
    }
    record.started = true;
    process->WaitForExitOr(*record.done);
    record.exitCode = process->ExitCode(0);
    process.reset();  // closes the thread handle, then the process handle
    // Nothing of the record or the event may be touched after this.
    record.done->Set();
    return 0;
}

int RunAndWait(platform::Platform& os, const std::string& command, uint32_t& exitCode) {
    std::unique_ptr<LaunchRecord> record(new LaunchRecord{&os, command, nullptr, 0, false});
    std::unique_ptr<platform::Event> done = os.NewEvent();
    record->done = done.get();
    uint32_t error = 0;
    if (!os.BeginThread(LaunchWorker, record.get(), &error)) {
        // No worker will ever signal: report at once instead of waiting.
        exitCode = error;
        return -1;
    }
    os.WaitOnUiThread(*done);
    exitCode = record->exitCode;
    return record->started ? 0 : -1;
}
