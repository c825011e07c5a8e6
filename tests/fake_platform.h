// An in-memory Platform for tests: files, folders, XML, processes and the registry,
// with switches that make any operation fail.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace fake {

// An XML element of a fake manifest.
struct Element {
    std::string name;
    std::vector<std::pair<std::string, std::string>> attributes;
    std::vector<std::shared_ptr<Element>> children;

    explicit Element(std::string n, std::vector<std::pair<std::string, std::string>> a = {})
        : name(std::move(n)), attributes(std::move(a)) {}
    Element& Add(const std::string& n, std::vector<std::pair<std::string, std::string>> a = {}) {
        children.push_back(std::make_shared<Element>(n, std::move(a)));
        return *children.back();
    }
};

struct XmlFaults {
    bool cannotCreate = false;
    std::set<std::string> failSelect;          // SelectNodes/SelectSingleNode of these names fail
    std::set<std::string> failLength;          // Length of lists of these names fails
    std::set<std::pair<std::string, long>> failItem;  // (list name, index) cannot be fetched
    std::string throwOnAttribute;              // reading this attribute name throws bad_alloc
    std::string throwOnSelect;                 // selecting this name throws bad_alloc
};

struct FileNode {
    bool directory = false;
    bool readOnly = false;
    bool reparse = false;
    bool locked = false;  // open or running: cannot be deleted
    bool movable = false; // locked, yet it can be renamed (a loaded DLL)
    uint64_t changed = 0; // when it was last written
    bool going = false;   // marked as its removal under way
};

class FakePlatform : public platform::Platform {
public:
    FakePlatform();
    ~FakePlatform() override;

    // --- set-up ---
    std::string moduleFile = "C:\\Apps\\Foo\\remover.exe";
    std::map<platform::ShellFolder, std::string> shellFolders;
    std::set<platform::ShellFolder> failingShellFolders;
    std::map<std::string, std::shared_ptr<Element>> manifests;  // path -> document element
    XmlFaults xml;
    std::vector<std::string> protectedFolders;
    std::vector<std::string> knownFolders;
    std::map<std::string, std::string> shortcutTargets;  // .lnk path -> where it leads
    std::vector<platform::InstalledEntry> installed;
    std::map<std::string, platform::StringList> registryLists;  // "key|value" -> list
    std::map<std::string, uint64_t> registryKeys;  // keys that exist -> last-write time (a value or subkey made)
    uint64_t registryClock = 100;
    std::map<std::string, std::string> contents;  // file path -> bytes (none: empty)
    // Other spellings of a folder (a mapped drive, a linked parent): prefix -> real path.
    std::map<std::string, std::string> aliases;

    void AddFolder(const std::string& path);
    void AddFile(const std::string& path, FileNode node = {});
    bool Exists(const std::string& path) const;
    std::vector<std::string> Paths() const;
    std::map<std::string, FileNode> files;  // full path -> node

    // Process behaviour: exit codes by command line; a missing entry starts and exits 0.
    std::map<std::string, uint32_t> exitCodes;
    std::map<std::string, uint32_t> startErrors;  // these command lines fail to start
    std::set<std::string> unreadableExitCodes;    // these run, but nobody can read how they ended
    uint32_t threadStartError = 0;                // non-zero: threads cannot start
    // Runs while the named process "runs" (e.g. it deletes files itself).
    std::map<std::string, std::function<void()>> processActions;
    // Throws bad_alloc when the walk enumerates this folder.
    std::string throwOnEnumerate;
    // Listings that break off after what they read; what runs as a folder is removed.
    std::set<std::string> brokenListings;
    std::function<void(const std::string&)> beforeRemove;
    // Runs as an entry is opened through its folder, after the folder was listed:
    // a test swaps the entry for a link there.
    std::function<void(const std::string&)> beforeOpen;
    // Whether the system opens a link as itself and can delete it alone (Windows),
    // or follows it (Wine): then a link stays.
    bool linksOpenedAsThemselves = true;
    // Paths that cannot be scheduled for the next restart.
    std::set<std::string> unschedulable;
    bool registryFails = false;
    // Programs running now; AskToClose ends those listed in `closeOnRequest`.
    std::vector<platform::RunningProgram> running;
    std::set<uint32_t> closeOnRequest;
    // Answers to Retry/Cancel questions, in order (none left: Cancel); `onAsk` runs
    // before each answer, as the user would act while the question shows.
    std::vector<bool> retryAnswers;
    std::function<void()> onAsk;


    // --- observations ---
    std::vector<std::string> log;  // every effect, in order
    int liveXmlObjects() const { return liveXml_; }
    int liveWorkers() const { return liveWorkers_; }
    void WaitForWorkers();

    // --- Platform ---
    std::string ModuleFileName() override;
    bool SpecialFolder(platform::ShellFolder which, std::string* path) override;
    std::unique_ptr<platform::XmlSession> OpenXml() override;
    std::unique_ptr<platform::OpenFolder> OpenFolderAt(const std::string& path, bool itself) override;
    bool IsFile(const std::string& path) override;
    platform::FileIdentity Identify(const std::string& path) override;
    std::vector<std::string> ProtectedFolders() override;
    std::vector<std::string> KnownFolders() override { return knownFolders; }
    std::string FullPath(const std::string& path) override;
    std::string ShortcutTarget(const std::string& path) override;
    bool FileBytes(const std::string& path, std::string* bytes) override;
    bool MarkGoing(const std::string& file) override;
    bool IsMarkedGoing(const std::string& file) override { return files.count(file) && files[file].going; }
    // Keys of the user's hive are kept under "HKCU\\" + key.
    platform::StringList ReadRegistryList(const std::string& key, const std::string& value,
                                          platform::Hive hive = platform::Hive::kMachine) override;
    bool WriteRegistryList(const std::string& key, const std::string& value, const platform::StringList& list,
                           platform::Hive hive = platform::Hive::kMachine) override;
    bool RegistryKeyExists(const std::string& key, uint64_t* lastWrite,
                           platform::Hive hive = platform::Hive::kMachine) override;
    bool CreateRegistryKey(const std::string& key, platform::Hive hive = platform::Hive::kMachine) override;
    std::vector<platform::InstalledEntry> InstalledProducts() override { return installed; }
    std::string WindowsFolder() override { return "C:\\Windows"; }
    std::unique_ptr<platform::Event> NewEvent() override;
    bool BeginThread(unsigned (*routine)(void*), void* arg, uint32_t* error) override;
    void WaitAnswering(platform::Event& event) override;
    std::unique_ptr<platform::Process> StartProcess(const std::string& program, std::string& commandLine,
                                                   uint32_t* error) override;
    bool DeleteRegistryTree(const std::string& key, platform::Hive hive = platform::Hive::kMachine) override;
    uint32_t LastError() override { return lastError_; }
    std::string ErrorText(uint32_t error) override { return "error " + std::to_string(error); }
    bool ScheduleRemoval(const std::string& path) override;
    std::vector<platform::RunningProgram> RunningPrograms() override;
    void AskToClose(uint32_t processId) override;
    std::vector<std::string> TempFolders() override { return {"C:\\Temp"}; }
    void Sleep(uint32_t milliseconds) override { sleptMs += milliseconds; }
    bool AskRetry(platform::WindowRef owner, const std::string& text, const std::string& caption) override;
    uint32_t sleptMs = 0;
    void DiscardQueuedInput() override;
    void ShowMessage(platform::WindowRef owner, const std::string& text, const std::string& caption,
                     platform::MessageKind kind) override;

    void Record(const std::string& entry);

    int liveXml_ = 0;
    uint32_t lastError_ = 0;
    std::atomic<int> liveWorkers_{0};

private:
    std::mutex mutex_;
};

}  // namespace fake
