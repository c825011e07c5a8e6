// Everything the program asks of the operating system, behind one interface.
// The Windows implementation is platform_win.cpp; tests substitute their own to
// inject faults. Strings are UTF-8; the Windows implementation converts them to
// UTF-16 and calls only the wide functions, so no name meets the ANSI code page.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/text.h"
#include "platform/xml.h"

namespace platform {

enum class ShellFolder { kPrograms, kDesktop };

// System error codes the portable code tells apart.
constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorPathNotFound = 3;
constexpr uint32_t kErrorSharingViolation = 32;
// An entry that is a link, or is no longer the entry its folder listed, and that
// the system cannot act on without reaching what it leads to: it is left alone.
constexpr uint32_t kErrorNotItself = 681;  // ERROR_STOPPED_ON_SYMLINK
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorDirNotEmpty = 145;
// A folder that something keeps writing into while it is being emptied.
constexpr uint32_t kErrorBusy = 170;

// An opaque owner window for message boxes (an HWND on Windows).
using WindowRef = void*;

struct FolderEntry {
    std::string name;  // file name only
    bool directory = false;
    bool reparsePoint = false;  // junction, symbolic link, mount point
    bool protectedBits = false;  // read-only, hidden or system set
    bool readOnly = false;       // read-only set: the one of them that stands in the way of deleting
    uint64_t id = 0;             // the file system's id for it, where the listing gives one
};

// What a folder is, whatever its spelling: two paths name the same folder when
// the volume and file index match; the final paths count only where the system
// gives no index for one of them.
struct FileIdentity {
    bool known = false;
    uint32_t volume = 0;
    uint64_t index = 0;
    uint64_t lastWrite = 0;  // when its content last changed (not part of what it is)
    uint64_t changed = 0;    // when it was last written in any way: a rewrite that sets its old time back moves this
    bool folder = false;
    std::string finalPath;  // the path with every link and alias resolved
};
bool SameFile(const FileIdentity& a, const FileIdentity& b);

enum class MessageKind { kPlain, kWarning };

// Where a registry key lies: HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER.
enum class Hive { kMachine, kUser };

// A process and the file it runs.
struct RunningProgram {
    uint32_t id = 0;
    std::string path;
};

// One entry of the system's list of installed programs (an Uninstall key).
struct InstalledEntry {
    std::string name;             // the key's own name below ...\Uninstall
    bool thisProgramsKey = false; // in a key this program deletes its own from (HKCU, or HKLM in its view)
    std::string uninstallString;  // as stored, environment variables expanded; empty when over kMaxEntryValue
    std::string installLocation;
    bool machine = false;         // HKEY_LOCAL_MACHINE, either view: written by administrators alone
};
// Values longer than this (in bytes) are skipped: no command or folder is that long.
constexpr uint32_t kMaxEntryValue = 32 * 1024;

// Somewhere text lines go: the log file or standard output. Lines are UTF-8.
class TextSink {
public:
    virtual ~TextSink() = default;
    virtual void Line(const std::string& text) = 0;
};

// A folder the removal has opened and verified to be that folder itself, not a
// link. It holds the folder's handle, and everything it does to an entry is done
// relative to that handle, through the entry opened and verified in its turn:
// whatever is renamed or swapped for a link meanwhile, nothing outside is reached.
// After a failure, the platform's LastError() tells why.
class OpenFolder {
public:
    virtual ~OpenFolder() = default;
    // The path it was reached by: for reports, and for the restart, which can only
    // name a path.
    virtual const std::string& Path() const = 0;
    // What it is (volume and file index, final path).
    virtual FileIdentity Identity() = 0;
    // Its entries, but "." and "..", in the system's order; false when the listing
    // broke off (then `entries` holds what was read, and LastError() tells why).
    virtual bool List(std::vector<FolderEntry>* entries) = 0;
    // The same, for a caller content with whatever could be read.
    std::vector<FolderEntry> List() {
        std::vector<FolderEntry> entries;
        List(&entries);
        return entries;
    }
    // A child folder, opened and verified; null when it cannot be (kErrorNotItself:
    // a link, or no longer what the listing showed).
    virtual std::unique_ptr<OpenFolder> Enter(const FolderEntry& entry) = 0;
    // Deletes a child file; with `entry.protectedBits` a read-only one too. A link
    // that the system opens as itself is deleted, never its target; one it would
    // follow stays (kErrorNotItself). Attributes are written only on a file that
    // goes, and, where it has other names (a hard link shares them), are as they
    // were for those names afterwards; a file that stays keeps its own.
    virtual bool DeleteChild(const FolderEntry& entry) = 0;
    // Clears this folder's own read-only, hidden and system attributes.
    virtual bool ResetAttributes() = 0;
    // Removes this folder itself, which must be empty by now.
    virtual bool Remove() = 0;
    // Renames a child file to a fresh hidden name in this folder, so that its name is
    // free again; the new name, or empty when the rename is refused.
    virtual std::string MoveChildAside(const FolderEntry& entry) = 0;
};

// A manual-reset event, not signalled when created.
class Event {
public:
    virtual ~Event() = default;
    virtual void Set() = 0;
};

// A started process. Destroying it closes its thread handle, then its process handle.
class Process {
public:
    virtual ~Process() = default;
    // Returns when the process has ended or `event` is signalled, whichever comes first.
    virtual void WaitForExitOr(Event& event) = 0;
    // The exit code; false, with the system error in `code`, when the system cannot say.
    virtual bool ExitCode(uint32_t* code) = 0;
    // Processes it started (and theirs) that still run; empty when nothing can tell.
    virtual std::vector<RunningProgram> Descendants() = 0;
};

// An XML document together with whatever must be set up to use it (COM on
// Windows); destroying it tears that down again.
class XmlSession {
public:
    virtual ~XmlSession() = default;
    virtual XmlDocument& Document() = 0;
};

class Platform {
public:
    virtual ~Platform() = default;

    // Full path of the running program file, as the system reports it.
    virtual std::string ModuleFileName() = 0;
    // The current user's folder, without creating it; false when the lookup fails.
    virtual bool SpecialFolder(ShellFolder which, std::string* path) = 0;

    // An XML document ready to load, or null when no DOM can be created.
    virtual std::unique_ptr<XmlSession> OpenXml() = 0;

    // File system; every result may be ignored by the caller. After a failure,
    // LastError() tells why.
    // A folder to remove from, opened as itself: null when the path's last part is
    // a link (kErrorNotItself), missing, or cannot be opened. Without `itself`, a
    // folder that is only removed from, never removed (the Desktop for a shortcut),
    // is opened wherever its path leads.
    virtual std::unique_ptr<OpenFolder> OpenFolderAt(const std::string& path, bool itself = true) = 0;
    virtual uint32_t LastError() = 0;
    // The system's own words for an error code, for the log.
    virtual std::string ErrorText(uint32_t error) = 0;
    // Deletes a file or empty folder at the next restart.
    virtual bool ScheduleRemoval(const std::string& path) = 0;
    // Whether the path names an existing file (not a folder).
    virtual bool IsFile(const std::string& path) = 0;
    // What an existing file or folder is; `known` false when it cannot be opened.
    virtual FileIdentity Identify(const std::string& path) = 0;
    // Folders that belong to the system or the user and must never be emptied.
    virtual std::vector<std::string> ProtectedFolders() = 0;
    // Every folder the shell knows by name (its known folders, for the user and for
    // all users) that has a path here, with the per-user program files folders even
    // where the system's list lacks them; the temp folders are TempFolders().
    virtual std::vector<std::string> KnownFolders() = 0;
    // The full path a path names, relative to the current folder; empty on failure.
    virtual std::string FullPath(const std::string& path) = 0;
    // The file a shell link (.lnk) leads to; empty when it cannot be read.
    virtual std::string ShortcutTarget(const std::string& path) = 0;
    // The program's own record, on its own file, that its removal has gone past the
    // product's key: a mark in its last-write time, which an installer that writes
    // the file again sets anew, made only on a file of one name, so nothing shares it.
    virtual bool MarkGoing(const std::string& file) = 0;
    virtual bool IsMarkedGoing(const std::string& file) = 0;
    // The bytes of a small file (a manifest); false when it cannot be read.
    virtual bool FileBytes(const std::string& path, std::string* bytes) = 0;

    // Processes and threads.
    virtual std::unique_ptr<Event> NewEvent() = 0;
    // Starts `routine(arg)` on a new thread; false with the system error on failure.
    virtual bool BeginThread(unsigned (*routine)(void*), void* arg, uint32_t* error) = 0;
    // Waits for `event`, answering meanwhile what is sent to the calling thread's
    // windows (a child's broadcast), without processing user input.
    virtual void WaitAnswering(Event& event) = 0;
    // Starts a command line (its buffer may be modified); null with the system error.
    // With a `program`, exactly that file runs; without, the system searches for
    // what the line names.
    virtual std::unique_ptr<Process> StartProcess(const std::string& program, std::string& commandLine,
                                                  uint32_t* error) = 0;

    // Programs running now, other than this one.
    virtual std::vector<RunningProgram> RunningPrograms() = 0;
    // Asks a program to close its windows, as their close boxes would.
    virtual void AskToClose(uint32_t processId) = 0;
    // The folders where programs put their temporary copies.
    virtual std::vector<std::string> TempFolders() = 0;
    // The Windows folder.
    virtual std::string WindowsFolder() = 0;
    virtual void Sleep(uint32_t milliseconds) = 0;

    // The registry: keys below a hive, the machine's (in the view this program
    // deletes its own key from) or the current user's (per-user installs).
    // Deletes a key with all its subkeys and values; true when it is gone afterwards.
    virtual bool DeleteRegistryTree(const std::string& key, Hive hive = Hive::kMachine) = 0;
    // A list of strings (REG_MULTI_SZ) in an existing key; empty when the key or the
    // value is missing.
    virtual StringList ReadRegistryList(const std::string& key, const std::string& value,
                                        Hive hive = Hive::kMachine) = 0;
    // Writes it; false when the key does not exist or cannot be written (never created).
    virtual bool WriteRegistryList(const std::string& key, const std::string& value, const StringList& list,
                                   Hive hive = Hive::kMachine) = 0;
    // Whether a key exists, and when it was last written (its values or its list of
    // subkeys; 0 when the system cannot say). A key the system will not open counts
    // as existing.
    virtual bool RegistryKeyExists(const std::string& key, uint64_t* lastWrite, Hive hive = Hive::kMachine) = 0;
    // Creates a key below its existing parent, or opens it when it exists; false
    // when the parent does not exist (it is never created) or the key cannot be made.
    virtual bool CreateRegistryKey(const std::string& key, Hive hive = Hive::kMachine) = 0;
    // The Uninstall entries of HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER, both registry
    // views, each read once.
    virtual std::vector<InstalledEntry> InstalledProducts() = 0;

    // Drops keyboard and mouse input queued up for the calling thread,
    // so that clicks made meanwhile do not act on what is shown next.
    virtual void DiscardQueuedInput() = 0;
    // Shows a message box with one OK button and waits for the user.
    virtual void ShowMessage(WindowRef owner, const std::string& text, const std::string& caption,
                             MessageKind kind = MessageKind::kPlain) = 0;
    // A warning with Retry and Cancel; true for Retry.
    virtual bool AskRetry(WindowRef owner, const std::string& text, const std::string& caption) = 0;
};

}  // namespace platform
