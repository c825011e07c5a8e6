// What the program does with its own process: its log, standard output, the one
// run per product, and removing its own file once it has ended.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "platform/platform.h"

namespace platform {

// A UTF-8 log file, created afresh; null when it cannot be created.
std::unique_ptr<TextSink> OpenLogFile(const std::string& path);
// Standard output when the caller redirected it (a file or a pipe), else null.
std::unique_ptr<TextSink> RedirectedOutput();

// Held while this run works on a product; a second run for the same product
// finds it taken. Where the system offers private namespaces, the lock lives in one
// that only the Administrators group may enter, so no unelevated process can take
// its name first.
class ProductLock {
public:
    explicit ProductLock(const std::string& product);
    ~ProductLock();
    ProductLock(const ProductLock&) = delete;
    ProductLock& operator=(const ProductLock&) = delete;
    bool Taken() const { return taken_; }
    // Neither held nor taken: it could not be made, for the system error Error().
    bool Failed() const { return mutex_ == nullptr; }
    uint32_t Error() const { return error_; }
    // Marks `window` as this run's, so that a second run can bring it forward.
    void Mark(HWND window) const;
    // Brings the window of the run that holds the lock to the front; false when
    // there is none (a silent run holds it, or another process took the name).
    bool ActivateHolder() const;

private:
    HANDLE namespace_ = nullptr;
    HANDLE mutex_ = nullptr;
    bool taken_ = false;
    uint32_t error_ = 0;
    uint32_t tag_;
};

// Makes the system's own folder the current one, so that no folder the caller
// started the program in (the program folder, say) is held open by this process.
void EnterSystemFolder();

// How the program's own file and folder go once it has ended.
enum class SelfRemoval {
    kStarted,    // a copy of the program deletes them, and then itself, when this process ends
    kAtRestart,  // scheduled for the next restart: no copy could start or outlive the job this runs in
    kFailed,     // neither: they stay
};
// Hands the program file and its folder, as files, to a copy of the program in a
// fresh temp folder, which deletes them after this process has ended; a newer file
// of the same name is never touched. The copy adds to the log at `logPath` (none
// when empty) what it could not simply delete.
SelfRemoval StartSelfRemoval(const std::string& programFile, const std::string& logPath);
// The copy's work; `arguments` is what StartSelfRemoval passed. False, having
// touched nothing, when they are not the handles StartSelfRemoval hands over.
bool RunSelfRemoval(const std::string& arguments);
// The private switch that starts that work.
extern const char kSelfRemovalSwitch[];

}  // namespace platform
