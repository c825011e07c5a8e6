// What a removal did: it tells the listener (the log, the status, the progress) as
// it goes, hears the folder walks, and ends as the outcome.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "removal/folder_tree.h"
#include "removal/listener.h"

class RemovalReport : public RemovalObserver {
public:
    // `modules`: how many module uninstallers the plan runs, each a step of the progress.
    RemovalReport(platform::Platform& os, RemovalListener& listener, size_t modules = 0);

    void Note(const std::string& line);  // the log only
    // The step under way, and with it the progress: module `index` runs (busy until
    // the next step), then the shortcuts and groups, the files, the key.
    void Module(size_t index, const std::string& command);
    void Status(RemovalStep step);
    // The end of the removal: the progress is full.
    void End();

    // What stays. `refused`: a guard refused it, and a rerun would refuse it again.
    void Stays(const std::string& path, bool refused = false);
    // A module program that does not exist: reported, yet it keeps nothing.
    void NotRun(const std::string& program);
    bool SomethingStays() const { return !left_.empty(); }
    // Whether another run could mend what stays: not all of it was refused.
    bool RerunCanMend() const { return left_.size() > refused_; }

    // For the walk at hand: what goes after all else in its folder, what the
    // program removes itself once it has ended, and what stays untouched (asked
    // with the entry's folder and the entry).
    void ForTheWalk(std::vector<std::string> lasts, std::vector<std::string> goesWithTheProgram,
                    std::function<bool(const std::string&, const platform::FolderEntry&)> keeps);
    const std::vector<std::string>& Lasts() const { return lasts_; }

    void Removed(const std::string& path) override;
    void RemovedFrom(const std::string& folder, const std::string& name) override;
    void Scheduled(const std::string& path, const std::string& as) override;
    void Left(const std::string& path, uint32_t error) override;
    bool GoesWithTheProgram(const std::string& path) override;
    bool Keeps(const std::string& folder, const platform::FolderEntry& entry) override {
        return keeps_ && keeps_(folder, entry);
    }
    bool GoesLast(const std::string& folder, const std::string& name) override;
    void Listed(size_t entries) override;
    void Reached() override;

    // The exit code, and what the final message names: 0 all gone, 3010 some at
    // the next restart, 1603 something stays or a module program did not exist.
    // `runAgain`: the way to run again was kept for a run that can mend what stays.
    RemovalOutcome Outcome(bool runAgain) const;

private:
    void Show(uint32_t done, bool busy);
    void ShowWalk();

    platform::Platform& os_;
    RemovalListener& listener_;
    std::vector<std::string> scheduled_, left_, notRun_;
    std::vector<LeftCause> why_;  // for each of `left_`
    size_t refused_ = 0;  // how many of `left_` the guards refused
    std::vector<std::string> lasts_, goesWithTheProgram_;
    std::function<bool(const std::string&, const platform::FolderEntry&)> keeps_;
    // Progress: the share of each module, where the shortcuts, the files and the
    // key begin, and how much of the folder walk is done.
    size_t modules_;
    uint32_t shortcutsFrom_, filesFrom_, keyFrom_;
    bool walking_ = false, busy_ = false;
    uint64_t listed_ = 0, reached_ = 0;
    uint32_t shown_ = 0;
};
