#include "removal/removal_report.h"

#include "platform/text.h"

namespace {

// The shares of the progress: the module uninstallers together, the shortcuts and
// groups, and the key at the end; the folder walk has the rest.
constexpr uint32_t kModulesShare = kProgressEnd * 2 / 5;
constexpr uint32_t kShortcutsShare = kProgressEnd / 20;
constexpr uint32_t kKeyShare = kProgressEnd / 100;

// The longest path the system handles, with its "\\?\" prefix, in UTF-16 units.
constexpr size_t kLongestPath = 32767;

// A name Windows cannot spell: another system wrote it (a trailing dot or blank,
// which Windows strips, or a character it reserves).
bool WindowsCannotName(const std::string& name) {
    if (name.empty()) return false;
    if (name.back() == '.' || name.back() == ' ') return true;
    for (const unsigned char c : name) {
        if (c < 0x20 || c == '<' || c == '>' || c == ':' || c == '"' || c == '|' || c == '?' || c == '*') return true;
    }
    return false;
}

size_t Utf16Length(const std::string& text) {
    size_t units = 0;
    for (const unsigned char c : text) {
        if ((c & 0xC0) != 0x80) ++units;  // a character begins
        if (c >= 0xF0) ++units;           // beyond the basic plane: a surrogate pair
    }
    return units;
}

// Why an entry the system refused with `error` stays. The name and the length tell
// first: under Wine, a name it cannot handle or a path beyond its reach shows as a
// link or not as itself.
LeftCause CauseOf(const std::string& path, uint32_t error) {
    const size_t cut = path.find_last_of('\\');
    if (cut != std::string::npos && WindowsCannotName(path.substr(cut + 1))) return LeftCause::kBadName;
    if (4 + Utf16Length(path) > kLongestPath) return LeftCause::kTooDeep;
    switch (error) {
        case platform::kErrorSharingViolation:
        case 33:    // ERROR_LOCK_VIOLATION
        case 1224:  // ERROR_USER_MAPPED_FILE
        case platform::kErrorBusy:
            return LeftCause::kHeld;
        case platform::kErrorNotItself:
            return LeftCause::kLink;
        case 123:  // ERROR_INVALID_NAME
        case 161:  // ERROR_BAD_PATHNAME
            return LeftCause::kBadName;
        case 206:  // ERROR_FILENAME_EXCED_RANGE
            return LeftCause::kTooDeep;
        case 6:     // a pipe, under Wine
        case 433:   // a socket, under Wine
        case 1920:  // ERROR_CANT_ACCESS_FILE: another system's special file on Windows
            return LeftCause::kSpecialFile;
        case platform::kErrorAccessDenied:
            return LeftCause::kAccessDenied;
        case platform::kErrorDirNotEmpty:
            return LeftCause::kHoldsWhatStays;
        default:
            return LeftCause::kOther;
    }
}

// What the log says of a cause: the remedy, for the one who reads it.
const char* Remedy(LeftCause cause) {
    switch (cause) {
        case LeftCause::kHeld:
            return " (in use: close the program that holds it, then uninstall again)";
        case LeftCause::kLink:
            return " (a link the system cannot delete without reaching what it leads to: remove it by hand, then "
                   "uninstall again)";
        case LeftCause::kBadName:
            return " (a name the system cannot handle, written by another system: remove it by hand, then uninstall "
                   "again)";
        case LeftCause::kTooDeep:
            return " (deeper than the longest path the system handles: remove it by hand, then uninstall again)";
        case LeftCause::kSpecialFile:
            return " (a pipe, socket or device of another system: remove it by hand, then uninstall again)";
        case LeftCause::kAccessDenied:
            return " (access denied: remove it by hand, then uninstall again)";
        case LeftCause::kHoldsWhatStays:
            return " (it holds what stays)";
        default:
            return "";
    }
}

}  // namespace

RemovalReport::RemovalReport(platform::Platform& os, RemovalListener& listener, size_t modules)
    : os_(os),
      listener_(listener),
      modules_(modules),
      shortcutsFrom_(modules ? kModulesShare : 0),
      filesFrom_(shortcutsFrom_ + kShortcutsShare),
      keyFrom_(kProgressEnd - kKeyShare) {}

void RemovalReport::Note(const std::string& line) {
    if (listener_.Logs()) listener_.Log(line);
}

void RemovalReport::Module(size_t index, const std::string& command) {
    walking_ = false;
    listener_.Status(RemovalStep::kRunningCommand, command);
    Show(modules_ ? static_cast<uint32_t>(shortcutsFrom_ * index / modules_) : 0, true);
}

void RemovalReport::Status(RemovalStep step) {
    walking_ = step == RemovalStep::kFiles;
    listener_.Status(step, std::string());
    if (walking_) listed_ = reached_ = 0;
    Show(step == RemovalStep::kShortcuts ? shortcutsFrom_ : walking_ ? filesFrom_ : keyFrom_, false);
}

void RemovalReport::End() {
    walking_ = false;
    Show(kProgressEnd, false);
}

void RemovalReport::Show(uint32_t done, bool busy) {
    if (done < shown_) done = shown_;  // never backwards
    if (done == shown_ && busy == busy_) return;
    shown_ = done;
    busy_ = busy;
    listener_.Progress(done, busy);
}

// The walk's share moves with the entries reached against those its listings
// found so far; until the walk is over, its end stays short of the key's share.
void RemovalReport::ShowWalk() {
    if (!walking_ || listed_ == 0) return;
    Show(filesFrom_ + static_cast<uint32_t>((keyFrom_ - filesFrom_) * reached_ / listed_), false);
}

void RemovalReport::Listed(size_t entries) { listed_ += entries; }

void RemovalReport::Reached() {
    ++reached_;
    ShowWalk();
}

void RemovalReport::Stays(const std::string& path, bool refused) {
    left_.push_back(path);
    why_.push_back(LeftCause::kOther);
    if (refused) ++refused_;
}

void RemovalReport::NotRun(const std::string& program) { notRun_.push_back(program); }

void RemovalReport::ForTheWalk(std::vector<std::string> lasts, std::vector<std::string> goesWithTheProgram,
                               std::function<bool(const std::string&, const platform::FolderEntry&)> keeps) {
    lasts_ = std::move(lasts);
    goesWithTheProgram_ = std::move(goesWithTheProgram);
    keeps_ = std::move(keeps);
}

void RemovalReport::Removed(const std::string& path) {
    if (listener_.Logs()) listener_.Log("removed: " + path);
}

// The walk's files: a path joined only for the log.
void RemovalReport::RemovedFrom(const std::string& folder, const std::string& name) {
    if (listener_.Logs()) listener_.Log("removed: " + InFolder(folder, name));
}

void RemovalReport::Scheduled(const std::string& path, const std::string& as) {
    scheduled_.push_back(path);
    Note("in use, deleted at the next restart: " + path + (as == path ? "" : " (moved aside to " + as + ")"));
}

void RemovalReport::Left(const std::string& path, uint32_t error) {
    // A plan may list one shortcut twice; it stays only once.
    for (const std::string& known : left_) {
        if (known == path) return;
    }
    left_.push_back(path);
    why_.push_back(CauseOf(path, error));
    Note("left: " + path + ": " + os_.ErrorText(error) + Remedy(why_.back()));
}

bool RemovalReport::GoesWithTheProgram(const std::string& path) {
    for (const std::string& own : goesWithTheProgram_) {
        if (platform::SamePathText(own, path)) return true;
    }
    return false;
}

// Asked of every entry the walk lists, so compared in place, without copies.
bool RemovalReport::GoesLast(const std::string& folder, const std::string& name) {
    const size_t at = folder.size() + 1, end = at + name.size();
    for (const std::string& last : lasts_) {
        // `name` is the last entry itself, or the folder that holds it: `last` is folder\name[\...].
        if (folder.empty() || last.size() < end || last[folder.size()] != '\\' ||
            (last.size() > end && last[end] != '\\')) {
            continue;
        }
        if (platform::SamePathTextAt(last, 0, folder) && platform::SamePathTextAt(last, at, name)) return true;
    }
    return false;
}

RemovalOutcome RemovalReport::Outcome(bool runAgain) const {
    RemovalOutcome outcome;
    outcome.told = RemovalOutcome::Told::kReport;
    outcome.left = left_;
    outcome.why = why_;
    outcome.notRun = notRun_;
    outcome.restartNeeded = !scheduled_.empty();
    outcome.runAgain = runAgain;
    outcome.exitCode = !left_.empty() || !notRun_.empty() ? kExitIncomplete
                       : scheduled_.empty()               ? kExitRemoved
                                                          : kExitRestartNeeded;
    return outcome;
}
