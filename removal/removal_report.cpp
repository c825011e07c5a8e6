#include "removal/removal_report.h"

#include "removal/launcher.h"

namespace {

// The shares of the progress: the module uninstallers together, the shortcuts and
// groups, and the key at the end; the folder walk has the rest.
constexpr uint32_t kModulesShare = kProgressEnd * 2 / 5;
constexpr uint32_t kShortcutsShare = kProgressEnd / 20;
constexpr uint32_t kKeyShare = kProgressEnd / 100;

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
    Note("left: " + path + ": " + os_.ErrorText(error));
}

bool RemovalReport::GoesWithTheProgram(const std::string& path) {
    for (const std::string& own : goesWithTheProgram_) {
        if (platform::SamePathText(own, path)) return true;
    }
    return false;
}

bool RemovalReport::GoesLast(const std::string& folder, const std::string& name) {
    for (const std::string& last : lasts_) {
        // `name` is the last entry itself, or the folder that holds it.
        if (!IsInsideFolder(last, folder) || last[folder.size()] != '\\') continue;
        const std::string rest = last.substr(folder.size() + 1);
        if (platform::SamePathText(rest.substr(0, name.size()), name) &&
            (rest.size() == name.size() || rest[name.size()] == '\\')) {
            return true;
        }
    }
    return false;
}

RemovalOutcome RemovalReport::Outcome(bool runAgain) const {
    RemovalOutcome outcome;
    outcome.told = RemovalOutcome::Told::kReport;
    outcome.left = left_;
    outcome.notRun = notRun_;
    outcome.restartNeeded = !scheduled_.empty();
    outcome.runAgain = runAgain;
    outcome.exitCode = !left_.empty() || !notRun_.empty() ? kExitIncomplete
                       : scheduled_.empty()               ? kExitRemoved
                                                          : kExitRestartNeeded;
    return outcome;
}
