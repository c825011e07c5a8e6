// The Platform of a real Windows process: one class, its members defined in the
// room of what they touch (files_win, registry_win, processes_win, shell_win,
// boxes_win, folder_win; the DOM in dom_win, the rest in platform_win.cpp).
#pragma once

#include <windows.h>

#include "platform/platform.h"
#include "platform/win_handles.h"

namespace platform {

class WindowsPlatform : public Platform {
public:
    // `domClass` is the COM class of the XML DOM; tests name another to make it fail.
    explicit WindowsPlatform(const CLSID* domClass = nullptr);

    std::string ModuleFileName() override;
    bool SpecialFolder(ShellFolder which, std::string* path) override;
    std::unique_ptr<XmlSession> OpenXml() override;
    std::unique_ptr<OpenFolder> OpenFolderAt(const std::string& path, bool itself) override;
    bool IsFile(const std::string& path) override;
    FileIdentity Identify(const std::string& path) override;
    std::vector<std::string> ProtectedFolders() override;
    std::vector<std::string> KnownFolders() override;
    std::string FullPath(const std::string& path) override;
    std::string ShortcutTarget(const std::string& path) override;
    bool FileBytes(const std::string& path, std::string* bytes) override;
    StringList ReadRegistryList(const std::string& key, const std::string& value, Hive hive) override;
    bool WriteRegistryList(const std::string& key, const std::string& value, const StringList& list,
                           Hive hive) override;
    bool RegistryKeyExists(const std::string& key, uint64_t* lastWrite, Hive hive) override;
    bool CreateRegistryKey(const std::string& key, Hive hive) override;
    std::vector<InstalledEntry> InstalledProducts() override;
    std::string WindowsFolder() override;
    std::unique_ptr<Event> NewEvent() override;
    bool BeginThread(unsigned (*routine)(void*), void* arg, uint32_t* error) override;
    void WaitAnswering(Event& event) override;
    std::unique_ptr<Process> StartProcess(const std::string& program, std::string& commandLine,
                                          uint32_t* error) override;
    bool DeleteRegistryTree(const std::string& key, Hive hive) override;
    bool MarkGoing(const std::string& file) override;
    bool IsMarkedGoing(const std::string& file) override;
    uint32_t LastError() override;
    std::string ErrorText(uint32_t error) override;
    bool ScheduleRemoval(const std::string& path) override;
    std::vector<RunningProgram> RunningPrograms() override;
    void AskToClose(uint32_t processId) override;
    std::vector<std::string> TempFolders() override;
    void Sleep(uint32_t milliseconds) override;
    bool AskRetry(WindowRef owner, const std::string& text, const std::string& caption) override;
    void DiscardQueuedInput() override;
    void ShowMessage(WindowRef owner, const std::string& text, const std::string& caption,
                     MessageKind kind) override;

private:
    const CLSID* domClass_;
};

// The process-wide instance the program itself uses.
WindowsPlatform& Windows();

// Two of the files room (files_win.cpp; files_win.h has the rest), declared where
// the folder room has always found them: what an open file or folder is, and a
// fresh name for a file moved aside ("~remover.XXXXXXXX.tmp").
FileIdentity IdentityOf(HANDLE file);
std::string AsideName();

}  // namespace platform
