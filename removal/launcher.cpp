#include "removal/launcher.h"

#include <memory>

#include "plan/command_line.h"
#include "platform/text.h"

namespace {

// Waits while any process the uninstaller started still runs from one of the
// work folders. Others (a browser showing a farewell page) are not waited for.
void WaitForHandedOnWork(platform::Platform& os, platform::Process& process, const LaunchRecord& record) {
    constexpr uint32_t kPollMs = 100;
    for (uint32_t waited = 0; waited < kHandedOnWorkLimitMs; waited += kPollMs) {
        bool working = false;
        for (const platform::RunningProgram& program : process.Descendants()) {
            for (const std::string& folder : record.workFolders) {
                working = working || platform::IsInsideFolder(program.path, folder);
            }
        }
        if (!working) return;
        os.Sleep(kPollMs);
    }
}

}  // namespace

unsigned LaunchWorker(void* param) {
    LaunchRecord& record = *static_cast<LaunchRecord*>(param);
    uint32_t error = 0;
    std::unique_ptr<platform::Process> process = record.os->StartProcess(record.program, record.command, &error);
    if (!process) {
        record.exitCode = error;
        record.started = false;
        record.done->Set();
        return 0;
    }
    record.started = true;
    process->WaitForExitOr(*record.done);
    record.exitCodeRead = process->ExitCode(&record.exitCode);
    if (!record.workFolders.empty()) WaitForHandedOnWork(*record.os, *process, record);
    process.reset();  // closes the thread handle, then the process handle
    // Nothing of the record or the event may be touched after this.
    record.done->Set();
    return 0;
}

int RunAndWait(platform::Platform& os, const std::string& command, uint32_t& exitCode,
               const std::vector<std::string>& workFolders) {
    // A quoted program runs exactly that file; the system searches for an unquoted one.
    const CommandProgram program = ProgramOfCommand(os, command);
    std::unique_ptr<LaunchRecord> record(new LaunchRecord{&os, program.quoted ? program.path : std::string(), command,
                                                          nullptr, 0, false, false, workFolders});
    std::unique_ptr<platform::Event> done = os.NewEvent();
    record->done = done.get();
    uint32_t error = 0;
    if (!os.BeginThread(LaunchWorker, record.get(), &error)) {
        // No worker will ever signal: report at once instead of waiting.
        exitCode = error;
        return -1;
    }
    os.WaitAnswering(*done);
    exitCode = record->exitCode;
    if (!record->started) return -1;
    return record->exitCodeRead ? 0 : 1;
}
