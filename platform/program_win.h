// What the program does with its own process: its log, standard output, the one
// run per product, and removing its own file once it has ended.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "platform/platform.h"
#include "platform/win_handles.h"

namespace platform {

// A UTF-8 log file, created afresh; null when it cannot be created.
std::unique_ptr<TextSink> OpenLogFile(const std::string& path);
// Standard output when the caller redirected it (a file or a pipe), else null.
std::unique_ptr<TextSink> RedirectedOutput();

// Held while this run works on a product; a second run for the same product
// finds it taken. Where the system offers private namespaces, the lock lives in one
// that only the Administrators group may enter, so no unelevated process can take
// its name first. A run that finds it taken keeps no handle to it: the lock is free
// again as soon as its holder ends, whatever the runs that found it taken still show.
class ProductLock {
public:
    explicit ProductLock(const std::string& product);
    ~ProductLock();
    ProductLock(const ProductLock&) = delete;
    ProductLock& operator=(const ProductLock&) = delete;
    bool Taken() const { return taken_; }
    // Neither held nor taken: it could not be made, for the system error Error().
    bool Failed() const { return !mutex_ && !taken_; }
    uint32_t Error() const { return error_; }
    // Marks `window` as this run's, so that a second run can bring it forward.
    void Mark(HWND window) const;
    // Brings the window of the run that holds the lock to the front; false when
    // there is none (a silent run holds it, or another process took the name).
    bool ActivateHolder() const;

private:
    struct NamespaceTraits {
        static HANDLE invalid() { return nullptr; }
        static void close(HANDLE handle);
    };
    unique_any<HANDLE, NamespaceTraits> namespace_;
    unique_handle mutex_;  // held: this run owns the mutex
    bool taken_ = false;
    uint32_t error_ = 0;
    uint32_t tag_;
};

// Makes the system's own folder the current one, so that no folder the caller
// started the program in (the program folder, say) is held open by this process.
void EnterSystemFolder();

// How the program's own file and folder go once it has ended.
enum class SelfRemoval {
    kStarted,        // a copy of the program deletes them, and then itself, when this process ends
    kAtRestart,      // moved aside and scheduled, the folder after it, for the next restart: no copy
                     // could start or outlive the job this runs in
    kFileAtRestart,  // the file moved aside and scheduled; the folder could not be, and stays
    kFailed,         // the file stays under its own name, neither deleted nor scheduled
};
struct SelfRemovalResult {
    SelfRemoval how = SelfRemoval::kFailed;
    std::string aside;   // the hidden name the file was moved to for the restart
    uint32_t error = 0;  // the system's error for what stays
};
// Hands the program file and its folder, as files, to a copy of the program in a
// fresh temp folder, which deletes them after this process has ended; a newer file
// of the same name is never touched. Returns once the copy holds them, so it may be
// called before the run's last words: the copy waits for this process. The copy adds
// to the log at `logPath` (none when empty) what it could not simply delete. The
// restart is never told the file's own name, which a reinstall may have reused by
// then: a file that cannot be moved aside (another program holds it without delete
// sharing for 2 s) stays.
SelfRemovalResult StartSelfRemoval(const std::string& programFile, const std::string& logPath);
// The copy's work; `arguments` is what StartSelfRemoval passed. False, having
// touched nothing, when they are not the handles StartSelfRemoval hands over.
bool RunSelfRemoval(const std::string& arguments);
// The private switch that starts that work.
extern const char kSelfRemovalSwitch[];

}  // namespace platform
