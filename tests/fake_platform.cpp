#include "tests/fake_platform.h"

#include <new>
#include <thread>

#ifdef _WIN32
#include <process.h>
#endif

namespace fake {

namespace {

using platform::XmlNode;
using platform::XmlNodeList;

// Counts itself in the platform's live-object tally, so tests see leaks.
class Tracked {
public:
    explicit Tracked(FakePlatform& os) : os_(os) { ++os_.liveXml_; }
    ~Tracked() { --os_.liveXml_; }
    FakePlatform& os_;
};

class FakeNode : public XmlNode, Tracked {
public:
    FakeNode(FakePlatform& os, std::shared_ptr<Element> e) : Tracked(os), element_(std::move(e)) {}
    std::unique_ptr<XmlNode> SelectSingleNode(const std::string& name) override;
    std::unique_ptr<XmlNodeList> SelectNodes(const std::string& name) override;
    bool AttributeText(const std::string& name, std::string* text) override {
        if (name == os_.xml.throwOnAttribute) throw std::bad_alloc();
        for (const auto& a : element_->attributes) {
            if (a.first == name) {
                *text = a.second;
                return true;
            }
        }
        return false;
    }

private:
    std::shared_ptr<Element> element_;
};

class FakeList : public XmlNodeList, Tracked {
public:
    FakeList(FakePlatform& os, std::string name, std::vector<std::shared_ptr<Element>> items)
        : Tracked(os), name_(std::move(name)), items_(std::move(items)) {}
    long Length(bool* ok) override {
        *ok = os_.xml.failLength.count(name_) == 0;
        return *ok ? static_cast<long>(items_.size()) : 0;
    }
    std::unique_ptr<XmlNode> Item(long index) override {
        if (index < 0 || index >= static_cast<long>(items_.size())) return nullptr;
        if (os_.xml.failItem.count({name_, index})) return nullptr;
        return std::unique_ptr<XmlNode>(new FakeNode(os_, items_[static_cast<size_t>(index)]));
    }

private:
    std::string name_;
    std::vector<std::shared_ptr<Element>> items_;
};

std::unique_ptr<XmlNode> FakeNode::SelectSingleNode(const std::string& name) {
    if (name == os_.xml.throwOnSelect) throw std::bad_alloc();
    if (os_.xml.failSelect.count(name)) return nullptr;
    for (const auto& child : element_->children) {
        if (child->name == name) return std::unique_ptr<XmlNode>(new FakeNode(os_, child));
    }
    return nullptr;
}

std::unique_ptr<XmlNodeList> FakeNode::SelectNodes(const std::string& name) {
    if (name == os_.xml.throwOnSelect) throw std::bad_alloc();
    if (os_.xml.failSelect.count(name)) return nullptr;
    std::vector<std::shared_ptr<Element>> items;
    for (const auto& child : element_->children) {
        if (child->name == name) items.push_back(child);
    }
    return std::unique_ptr<XmlNodeList>(new FakeList(os_, name, std::move(items)));
}

class FakeDocument : public platform::XmlDocument, Tracked {
public:
    using Tracked::Tracked;
    bool Load(const std::string& path) override {
        os_.Record("load " + path);
        auto it = os_.manifests.find(path);
        if (it == os_.manifests.end()) return false;
        root_ = it->second;
        return true;
    }
    std::unique_ptr<XmlNode> DocumentElement() override {
        if (!root_) return nullptr;
        return std::unique_ptr<XmlNode>(new FakeNode(os_, root_));
    }

private:
    std::shared_ptr<Element> root_;
};

class FakeSession : public platform::XmlSession, Tracked {
public:
    explicit FakeSession(FakePlatform& os) : Tracked(os), document_(os) {}
    platform::XmlDocument& Document() override { return document_; }

private:
    FakeDocument document_;
};

class FakeEvent : public platform::Event {
public:
    void Set() override {
        std::lock_guard<std::mutex> lock(mutex);
        set = true;
        cv.notify_all();
    }
    void Wait() {
        std::unique_lock<std::mutex> lock(mutex);
        cv.wait(lock, [this] { return set; });
    }
    std::mutex mutex;
    std::condition_variable cv;
    bool set = false;
};

class FakeProcess : public platform::Process {
public:
    FakeProcess(FakePlatform& os, std::string command) : os_(os), command_(std::move(command)) {}
    ~FakeProcess() override { os_.Record("close " + command_); }
    void WaitForExitOr(platform::Event&) override {
        auto action = os_.processActions.find(command_);
        if (action != os_.processActions.end()) action->second();
        os_.Record("exit " + command_);
    }
    bool ExitCode(uint32_t* code) override {
        auto it = os_.exitCodes.find(command_);
        const bool read = !os_.unreadableExitCodes.count(command_);
        *code = !read ? 6 : it == os_.exitCodes.end() ? 0 : it->second;  // 6: ERROR_INVALID_HANDLE
        return read;
    }
    std::vector<platform::RunningProgram> Descendants() override { return {}; }

private:
    FakePlatform& os_;
    std::string command_;
};

std::string ParentOf(const std::string& path) {
    const size_t cut = path.rfind('\\');
    return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

}  // namespace

FakePlatform::FakePlatform() {
    shellFolders[platform::ShellFolder::kPrograms] =
        "C:\\Users\\me\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs";
    shellFolders[platform::ShellFolder::kDesktop] = "C:\\Users\\me\\Desktop";
}

FakePlatform::~FakePlatform() { WaitForWorkers(); }

void FakePlatform::WaitForWorkers() {
    while (liveWorkers_ != 0) std::this_thread::yield();
}

void FakePlatform::Record(const std::string& entry) {
    std::lock_guard<std::mutex> lock(mutex_);
    log.push_back(entry);
}

void FakePlatform::AddFolder(const std::string& path) {
    FileNode node;
    node.directory = true;
    files[path] = node;
}

void FakePlatform::AddFile(const std::string& path, FileNode node) { files[path] = node; }

bool FakePlatform::Exists(const std::string& path) const { return files.count(path) != 0; }

std::vector<std::string> FakePlatform::Paths() const {
    std::vector<std::string> paths;
    for (const auto& f : files) paths.push_back(f.first);
    return paths;
}

std::string FakePlatform::ModuleFileName() { return moduleFile; }

bool FakePlatform::SpecialFolder(platform::ShellFolder which, std::string* path) {
    Record(which == platform::ShellFolder::kPrograms ? "lookup PROGRAMS" : "lookup DESKTOP");
    if (failingShellFolders.count(which)) return false;
    *path = shellFolders[which];
    return true;
}

std::unique_ptr<platform::XmlSession> FakePlatform::OpenXml() {
    if (xml.cannotCreate) return nullptr;
    return std::unique_ptr<platform::XmlSession>(new FakeSession(*this));
}

namespace {

// A folder of the fake file system, acting on its entries by their paths, after the
// checks the real one makes: the entry is there, and is no link.
class FakeFolder : public platform::OpenFolder {
public:
    FakeFolder(FakePlatform& os, std::string path) : os_(os), path_(std::move(path)) {}
    const std::string& Path() const override { return path_; }
    platform::FileIdentity Identity() override { return os_.Identify(path_); }
    bool List(std::vector<platform::FolderEntry>* out) override {
        os_.Record("find " + path_ + "\\*");
        if (path_ == os_.throwOnEnumerate) throw std::bad_alloc();
        std::vector<platform::FolderEntry>& entries = *out;
        for (const auto& f : os_.files) {
            if (ParentOf(f.first) != path_) continue;
            platform::FolderEntry entry;
            entry.name = f.first.substr(path_.size() + 1);
            entry.directory = f.second.directory;
            entry.reparsePoint = f.second.reparse;
            entry.protectedBits = entry.readOnly = f.second.readOnly;
            entries.push_back(entry);
        }
        os_.lastError_ = 1117;  // ERROR_IO_DEVICE
        return os_.brokenListings.count(path_) == 0;
    }
    std::unique_ptr<platform::OpenFolder> Enter(const platform::FolderEntry& entry) override {
        const std::string path = Child(entry);
        FileNode* node = Node(path);
        if (!node) return nullptr;
        if (node->reparse || !node->directory) {
            os_.lastError_ = platform::kErrorNotItself;
            return nullptr;
        }
        return std::unique_ptr<platform::OpenFolder>(new FakeFolder(os_, path));
    }
    bool DeleteChild(const platform::FolderEntry& entry) override {
        const std::string path = Child(entry);
        FileNode* node = Node(path);
        if (!node) return false;
        if (node->reparse) {
            os_.lastError_ = platform::kErrorNotItself;
            if (!os_.linksOpenedAsThemselves) return false;
            os_.Record("delete link " + path);
            Erase(path);  // what it showed of its target stays there
            return true;
        }
        if (entry.protectedBits && !node->locked && !node->directory) {
            os_.Record("attributes " + path);
            node->readOnly = false;
        }
        os_.Record("delete " + path);
        os_.lastError_ = node->locked ? 32 : 5;
        if (node->directory || node->readOnly || node->locked) return false;
        os_.files.erase(path);
        return true;
    }
    bool ResetAttributes() override {
        os_.Record("attributes " + path_);
        FileNode* node = Node(path_);
        if (node) node->readOnly = false;
        return node != nullptr;
    }
    bool Remove() override {
        if (os_.beforeRemove) os_.beforeRemove(path_);
        os_.Record("rmdir " + path_);
        FileNode* node = Node(path_);
        if (!node) return false;
        os_.lastError_ = 5;
        if (node->readOnly) return false;
        os_.lastError_ = 145;  // not empty
        for (const auto& f : os_.files) {
            if (ParentOf(f.first) == path_) return false;
        }
        os_.files.erase(path_);
        return true;
    }
    std::string MoveChildAside(const platform::FolderEntry& entry) override {
        const std::string path = Child(entry);
        FileNode* node = Node(path);
        if (!node || !node->movable) {
            os_.lastError_ = 32;
            return std::string();
        }
        const std::string aside = "~remover." + entry.name + ".tmp";
        os_.Record("move " + path + " -> " + path_ + "\\" + aside);
        os_.files[path_ + "\\" + aside] = *node;
        os_.files.erase(path);
        return aside;
    }

private:
    std::string Child(const platform::FolderEntry& entry) {
        const std::string path = path_ + (path_.back() == '\\' ? "" : "\\") + entry.name;
        if (os_.beforeOpen) os_.beforeOpen(path);
        return path;
    }
    FileNode* Node(const std::string& path) {
        auto it = os_.files.find(path);
        os_.lastError_ = 2;
        return it == os_.files.end() ? nullptr : &it->second;
    }
    void Erase(const std::string& path) {
        for (auto child = os_.files.begin(); child != os_.files.end();) {
            child = child->first.compare(0, path.size() + 1, path + "\\") == 0 ? os_.files.erase(child) : ++child;
        }
        os_.files.erase(path);
    }

    FakePlatform& os_;
    std::string path_;
};

}  // namespace

std::unique_ptr<platform::OpenFolder> FakePlatform::OpenFolderAt(const std::string& path, bool itself) {
    Record("open " + path);
    auto it = files.find(path);
    lastError_ = 2;
    if (it == files.end()) return nullptr;
    if (!it->second.directory || (itself && it->second.reparse)) {
        lastError_ = it->second.directory ? platform::kErrorNotItself : 267;
        return nullptr;
    }
    return std::unique_ptr<platform::OpenFolder>(new FakeFolder(*this, path));
}

bool FakePlatform::IsFile(const std::string& path) {
    auto it = files.find(path);
    return it != files.end() && !it->second.directory;
}

platform::FileIdentity FakePlatform::Identify(const std::string& path) {
    std::string resolved = path;
    for (const auto& alias : aliases) {
        if (resolved.compare(0, alias.first.size(), alias.first) == 0 &&
            (resolved.size() == alias.first.size() || resolved[alias.first.size()] == '\\')) {
            resolved = alias.second + resolved.substr(alias.first.size());
        }
    }
    platform::FileIdentity identity;
    auto found = files.find(resolved);
    if (found != files.end()) {
        identity.known = true;
        identity.finalPath = resolved;
        identity.changed = found->second.changed;
        identity.folder = found->second.directory;
    }
    return identity;
}

std::vector<std::string> FakePlatform::ProtectedFolders() { return protectedFolders; }

std::string FakePlatform::FullPath(const std::string& path) {
    std::string full = path;
    for (size_t at = full.find("\\.\\"); at != std::string::npos; at = full.find("\\.\\")) full.erase(at, 2);
    return full;
}

std::string FakePlatform::ShortcutTarget(const std::string& path) {
    auto it = shortcutTargets.find(path);
    return it == shortcutTargets.end() ? std::string() : it->second;
}

namespace {
std::string InHive(const std::string& key, platform::Hive hive) {
    return hive == platform::Hive::kUser ? "HKCU\\" + key : key;
}
}  // namespace

platform::StringList FakePlatform::ReadRegistryList(const std::string& key, const std::string& value,
                                                    platform::Hive hive) {
    return registryLists[InHive(key, hive) + "|" + value];
}

bool FakePlatform::WriteRegistryList(const std::string& key, const std::string& value, const platform::StringList& list,
                                     platform::Hive hive) {
    const std::string at = InHive(key, hive);
    if (registryFails || !registryKeys.count(at)) return false;
    Record("regwrite " + at + "|" + value + "|" + std::to_string(list.size()));
    registryLists[at + "|" + value] = list;
    registryKeys[at] = ++registryClock;
    return true;
}

bool FakePlatform::RegistryKeyExists(const std::string& key, uint64_t* lastWrite, platform::Hive hive) {
    auto it = registryKeys.find(InHive(key, hive));
    *lastWrite = it == registryKeys.end() ? 0 : it->second;
    return it != registryKeys.end();
}

bool FakePlatform::CreateRegistryKey(const std::string& key, platform::Hive hive) {
    const std::string at = InHive(key, hive), parent = ParentOf(at);
    if (registryFails || !registryKeys.count(parent)) return false;
    if (registryKeys.count(at)) return true;
    registryKeys[at] = ++registryClock;
    registryKeys[parent] = ++registryClock;
    return true;
}

bool FakePlatform::MarkGoing(const std::string& file) {
    if (!files.count(file)) return false;
    Record("mark " + file);
    files[file].going = true;
    return true;
}

bool FakePlatform::FileBytes(const std::string& path, std::string* bytes) {
    if (!IsFile(path)) return false;
    *bytes = contents[path];
    return true;
}

std::unique_ptr<platform::Event> FakePlatform::NewEvent() { return std::unique_ptr<platform::Event>(new FakeEvent); }

bool FakePlatform::BeginThread(unsigned (*routine)(void*), void* arg, uint32_t* error) {
    if (threadStartError != 0) {
        *error = threadStartError;
        return false;
    }
    ++liveWorkers_;
    struct Start {
        FakePlatform* os;
        unsigned (*routine)(void*);
        void* arg;
        static void Run(void* param) {
            std::unique_ptr<Start> start(static_cast<Start*>(param));
            start->routine(start->arg);
            --start->os->liveWorkers_;
        }
    };
    auto* start = new Start{this, routine, arg};
#ifdef _WIN32
    // Under Wine, a detached std::thread of winpthreads now and then never runs (one
    // in some thousands); a thread the C runtime starts always does.
    if (_beginthread(Start::Run, 0, start) == static_cast<uintptr_t>(-1)) {
        delete start;
        --liveWorkers_;
        *error = 8;  // ERROR_NOT_ENOUGH_MEMORY
        return false;
    }
#else
    std::thread(Start::Run, start).detach();
#endif
    return true;
}

void FakePlatform::WaitAnswering(platform::Event& event) { static_cast<FakeEvent&>(event).Wait(); }

std::unique_ptr<platform::Process> FakePlatform::StartProcess(const std::string&, std::string& commandLine,
                                                             uint32_t* error) {
    Record("start " + commandLine);
    auto failure = startErrors.find(commandLine);
    if (failure != startErrors.end()) {
        *error = failure->second;
        return nullptr;
    }
    return std::unique_ptr<platform::Process>(new FakeProcess(*this, commandLine));
}

bool FakePlatform::DeleteRegistryTree(const std::string& key, platform::Hive hive) {
    const std::string at = InHive(key, hive);
    Record("regdelete " + at);
    if (registryFails) return false;
    for (auto it = registryKeys.begin(); it != registryKeys.end();) {
        it = it->first == at || it->first.compare(0, at.size() + 1, at + "\\") == 0 ? registryKeys.erase(it) : ++it;
    }
    return true;
}

bool FakePlatform::ScheduleRemoval(const std::string& path) {
    if (unschedulable.count(path)) return false;
    Record("schedule " + path);
    return true;
}

std::vector<platform::RunningProgram> FakePlatform::RunningPrograms() { return running; }

void FakePlatform::AskToClose(uint32_t processId) {
    Record("ask to close " + std::to_string(processId));
    if (!closeOnRequest.count(processId)) return;
    for (auto it = running.begin(); it != running.end();) it = it->id == processId ? running.erase(it) : it + 1;
}

bool FakePlatform::AskRetry(platform::WindowRef, const std::string& text, const std::string& caption) {
    Record("ask " + caption + "|" + text);
    if (onAsk) onAsk();
    if (retryAnswers.empty()) return false;
    const bool retry = retryAnswers.front();
    retryAnswers.erase(retryAnswers.begin());
    return retry;
}

void FakePlatform::DiscardQueuedInput() { Record("discard input"); }

void FakePlatform::ShowMessage(platform::WindowRef, const std::string& text, const std::string& caption,
                               platform::MessageKind kind) {
    Record(std::string(kind == platform::MessageKind::kWarning ? "warning " : "message ") + caption + "|" + text);
}

}  // namespace fake
