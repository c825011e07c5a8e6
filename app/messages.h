// What the user reads: the usage, the status line, the question about running
// programs and the final message, and the listener that tells them (and the log)
// what a removal does.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"
#include "removal/listener.h"

extern const char kUsageText[];
extern const char kPlainCaption[];
extern const char kCompletionTemplate[];
extern const char kCompletionCaption[];
extern const char kUnreadManifestText[];
extern const char kRestartNote[];
extern const char kIncompleteTemplate[];
extern const char kMoreTemplate[];
extern const char kIncompleteCaption[];
extern const char kRunAgainNote[];
extern const char kByHandNote[];
extern const char kMixedNote[];
extern const char kUnfinishedTemplate[];
extern const char kNotRunText[];
extern const char kKeyWithoutManifestTemplate[];
extern const char kRunningProgramsText[];

// How many of the paths that stay the warning names before it counts the rest.
constexpr size_t kPathsShown = 5;

// What the warning says when the way to run again is kept, by why things stay.
const char* RunAgainNote(const std::vector<LeftCause>& why);

// The status line while a step runs.
std::string StatusText(RemovalStep step, const std::string& command);

struct FinalMessage {
    std::string text;
    std::string caption;
    platform::MessageKind kind = platform::MessageKind::kPlain;
};
// The completion message when everything is gone (with a note when a restart
// finishes it), else a warning naming what stays and the module programs that did
// not exist, or that no manifest could be read; none for a removal that ended
// with nothing to tell (cancelled).
bool MessageFor(const std::string& displayName, const RemovalOutcome& outcome, FinalMessage* message);
// Shows it, owned by `owner`, once input queued meanwhile is dropped: clicks made
// while the removal ran must not act on the message.
void ShowOutcome(platform::Platform& os, platform::WindowRef owner, const std::string& displayName,
                 const RemovalOutcome& outcome);

// Tells the log what a removal does, with the status line's words, and asks the
// user, in a box owned by `owner`, to close running programs. On the thread of
// the caller: a window's own thread must ask through it.
class RunListener : public RemovalListener {
public:
    RunListener(platform::Platform& os, platform::TextSink* log, platform::WindowRef owner = nullptr)
        : os_(os), log_(log), owner_(owner) {}
    bool Logs() const override { return log_ != nullptr; }
    void Log(const std::string& line) override;
    void Status(RemovalStep step, const std::string& command) override;
    bool AskRetry(const std::vector<std::string>& programs) override;

protected:
    platform::Platform& os_;
    platform::TextSink* log_;
    platform::WindowRef owner_;
};
