// Folders opened by handle for the removal: each entry is opened relative to its
// parent's handle, without following a link, and acted on only as that entry
// itself: on Windows the open itself sees to that for a file; where links are
// followed whatever is asked (Wine), the opened object must show it first.
#include <winternl.h>

#include <atomic>

#include "platform/folder_win.h"
#include "platform/files_win.h"
#include "platform/platform_win.h"
#include "platform/win_handles.h"

namespace platform {

namespace {

// Not in the headers of the system version this program is built for.
constexpr FILE_INFO_BY_HANDLE_CLASS kDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
constexpr DWORD kDispositionDelete = 0x1, kDispositionPosix = 0x2, kDispositionIgnoreReadOnly = 0x10;
constexpr FILE_INFORMATION_CLASS kFileInternalInformation = static_cast<FILE_INFORMATION_CLASS>(6);
constexpr FILE_INFORMATION_CLASS kFileIdFullDirectoryInformation = static_cast<FILE_INFORMATION_CLASS>(38);
constexpr OBJECT_INFORMATION_CLASS kObjectNameInformation = static_cast<OBJECT_INFORMATION_CLASS>(1);
constexpr ULONG kOpenForBackup = 0x00004000;  // FILE_OPEN_FOR_BACKUP_INTENT
constexpr NTSTATUS kNoMoreFiles = static_cast<NTSTATUS>(0x80000006);
constexpr NTSTATUS kNoSuchFile = static_cast<NTSTATUS>(0xC000000F);

struct DirectoryEntry {  // FILE_ID_FULL_DIR_INFORMATION
    ULONG NextEntryOffset;
    ULONG FileIndex;
    LARGE_INTEGER CreationTime, LastAccessTime, LastWriteTime, ChangeTime, EndOfFile, AllocationSize;
    ULONG FileAttributes;
    ULONG FileNameLength;
    ULONG EaSize;
    LARGE_INTEGER FileId;
    WCHAR FileName[1];
};

extern "C" NTSTATUS NTAPI NtQueryDirectoryFile(HANDLE, HANDLE, PVOID, PVOID, PIO_STATUS_BLOCK, PVOID, ULONG,
                                               FILE_INFORMATION_CLASS, BOOLEAN, PUNICODE_STRING, BOOLEAN);

bool Failed(NTSTATUS status) {
    if (status >= 0) return false;
    ::SetLastError(::RtlNtStatusToDosError(status));
    return true;
}

// The name the system gives an open file or folder, every link on the way resolved
// ("\Device\HarddiskVolume2\Apps\Foo"; Wine: "\??\C:\Apps\Foo"), read into
// `buffer`, which it points into; null on failure.
const UNICODE_STRING* ObjectName(HANDLE handle, std::vector<ULONG_PTR>* buffer) {
    if (buffer->size() < 1024 / sizeof(ULONG_PTR)) buffer->resize(1024 / sizeof(ULONG_PTR));
    for (int attempt = 0; attempt < 3; ++attempt) {
        const ULONG size = static_cast<ULONG>(buffer->size() * sizeof(ULONG_PTR));
        ULONG needed = 0;
        const NTSTATUS status = ::NtQueryObject(handle, kObjectNameInformation, buffer->data(), size, &needed);
        if (status >= 0) return reinterpret_cast<const UNICODE_STRING*>(buffer->data());
        if (needed <= size) {
            Failed(status);
            return nullptr;
        }
        buffer->resize(needed / sizeof(ULONG_PTR) + 1);
    }
    // Still growing after all: a stale error must not tell the caller it is gone.
    ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return nullptr;
}

bool ObjectName(HANDLE handle, WideString* name) {
    std::vector<ULONG_PTR> buffer;
    const UNICODE_STRING* text = ObjectName(handle, &buffer);
    if (!text) return false;
    name->assign(text->Buffer, text->Length / sizeof(wchar_t));
    return true;
}

bool SameText(const wchar_t* a, size_t aLength, const wchar_t* b, size_t bLength) {
    return aLength == bLength && ::CompareStringOrdinal(a, static_cast<int>(aLength), b, static_cast<int>(bLength),
                                                        TRUE) == CSTR_EQUAL;
}

// Under Wine, FILE_OPEN_REPARSE_POINT is ignored: opening a link opens its target,
// and a link to a file is listed as a plain file, so only the name of what was
// opened tells. Its ntdll says it is Wine. Asked once per run: -1 not yet.
std::atomic<int> g_linksOpenAsThemselves{-1};

// A UTF-8 name in UTF-16, into a buffer kept for the next: plain ASCII names,
// most of them, directly; others by the one conversion the rest of the program uses.
void WidenInto(const std::string& text, WideString* wide) {
    wide->resize(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            *wide = Widen(text);
            return;
        }
        (*wide)[i] = c;
    }
}

// Systems before Windows 10 1709, and Wine, refuse the extended disposition; asked
// once, then the plain one is used.
std::atomic<bool> g_plainDispositionOnly{false};

// The plain disposition refuses a read-only file, so read-only is cleared first. A
// file's attributes are shared by all its names (hard links), and only this name
// goes: where it has others, or the disposition is refused after all, they are
// written back through the handle before it closes (the deletion still happens
// then, measured under Wine), so nothing that stays loses a bit.
bool DisposeReadOnly(HANDLE handle) {
    FILE_BASIC_INFO original{};
    const DWORD names = LinkCount(handle);
    if (!::GetFileInformationByHandleEx(handle, FileBasicInfo, &original, sizeof(original)) || names == 0) {
        return false;
    }
    const DWORD cleared = original.FileAttributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    if (!SetAttributesOf(handle, cleared ? cleared : FILE_ATTRIBUTE_NORMAL)) return false;
    FILE_DISPOSITION_INFO disposition{TRUE};
    const bool disposed =
        ::SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof(disposition)) != FALSE;
    if (!disposed || names > 1) {
        const DWORD error = ::GetLastError();
        SetAttributesOf(handle, original.FileAttributes);
        ::SetLastError(error);
    }
    return disposed;
}

// Marks an open file or folder for deletion. With `readOnlyToo` a read-only one goes
// as well: where the system can ignore read-only, nothing is written; else its
// attributes are cleared through the handle, and only when `readOnly` (hidden and
// system never stand in the way).
bool Dispose(HANDLE handle, bool readOnlyToo, bool readOnly) {
    if (!g_plainDispositionOnly) {
        // POSIX semantics free the name at once, even while another handle is open.
        ULONG flags = kDispositionDelete | kDispositionPosix | (readOnlyToo ? kDispositionIgnoreReadOnly : 0);
        if (::SetFileInformationByHandle(handle, kDispositionInfoEx, &flags, sizeof(flags))) return true;
        const DWORD error = ::GetLastError();
        if (error != ERROR_INVALID_PARAMETER && error != ERROR_INVALID_FUNCTION && error != ERROR_NOT_SUPPORTED) {
            return false;
        }
        g_plainDispositionOnly = true;
    }
    if (readOnlyToo && readOnly) return DisposeReadOnly(handle);
    FILE_DISPOSITION_INFO disposition{TRUE};
    return ::SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof(disposition)) != FALSE;
}

constexpr ACCESS_MASK kFolderAccess = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE;
constexpr ACCESS_MASK kFileAccess = DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE;

// What one walk reuses from entry to entry and folder to folder, so that an entry
// costs no allocation: the listing, the name being opened, the name asked back.
// The walk's folders share it, on its one thread; the last to close frees it.
struct Scratch {
    int users = 0;
    bool byName = !LinksOpenAsThemselves();  // links are told by the name of what was opened (Wine)
    std::vector<ULONG_PTR> listing;
    WideString name;
    std::vector<ULONG_PTR> objectName;
};

class WinOpenFolder : public OpenFolder {
public:
    // `name` as the system names it, needed only where links are told by names.
    // `scratch` that of the walk, or null for a new one.
    WinOpenFolder(HANDLE handle, std::string path, WideString name, bool mayDelete, Scratch* scratch)
        : handle_(handle),
          path_(std::move(path)),
          name_(std::move(name)),
          mayDelete_(mayDelete),
          scratch_(scratch ? scratch : new Scratch),
          byName_(scratch_->byName) {
        ++scratch_->users;
    }
    ~WinOpenFolder() override {
        if (--scratch_->users == 0) delete scratch_;
    }

    const std::string& Path() const override { return path_; }
    FileIdentity Identity() override { return IdentityOf(handle_.get()); }

    bool List(std::vector<FolderEntry>* out) override {
        std::vector<FolderEntry>& entries = *out;
        entries.clear();
        // Large batches: one call lists some hundreds of entries.
        std::vector<ULONG_PTR>& buffer = scratch_->listing;
        buffer.resize(64 * 1024 / sizeof(ULONG_PTR));
        for (BOOLEAN restart = TRUE;; restart = FALSE) {
            IO_STATUS_BLOCK io{};
            const NTSTATUS status =
                NtQueryDirectoryFile(handle_.get(), nullptr, nullptr, nullptr, &io, buffer.data(),
                                     static_cast<ULONG>(buffer.size() * sizeof(ULONG_PTR)),
                                     kFileIdFullDirectoryInformation, FALSE, nullptr, restart);
            // The end, or a listing that broke off: never taken for the whole folder.
            if (status == kNoMoreFiles || (restart && status == kNoSuchFile)) break;
            if (Failed(status)) return false;
            if (io.Information == 0) break;
            const char* at = reinterpret_cast<const char*>(buffer.data());
            for (;;) {
                const auto* found = reinterpret_cast<const DirectoryEntry*>(at);
                const size_t length = found->FileNameLength / sizeof(wchar_t);
                const bool dots = (length == 1 && found->FileName[0] == L'.') ||
                                  (length == 2 && found->FileName[0] == L'.' && found->FileName[1] == L'.');
                if (!dots) {
                    FolderEntry entry;
                    entry.name = Narrow(found->FileName, length);
                    const ULONG attributes = found->FileAttributes;
                    entry.directory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
                    entry.reparsePoint = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
                    entry.protectedBits =
                        (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0;
                    entry.readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
                    entry.id = static_cast<uint64_t>(found->FileId.QuadPart);
                    entries.push_back(std::move(entry));
                }
                if (found->NextEntryOffset == 0) break;
                at += found->NextEntryOffset;
            }
        }
        return true;
    }

    std::unique_ptr<OpenFolder> Enter(const FolderEntry& entry) override {
        return EnterAs(entry, path_ + (path_.back() == '\\' ? "" : "\\") + entry.name);
    }

    std::unique_ptr<OpenFolder> EnterAs(const FolderEntry& entry, std::string path) {
        const WideString& name = NameOf(entry);
        bool mayDelete = true;
        unique_nt_handle child = OpenChild(name, DELETE | kFolderAccess, FILE_DIRECTORY_FILE);
        if (!child && ::GetLastError() == ERROR_SHARING_VIOLATION) {
            // Someone's current folder: its entries may still go, the folder itself at the restart.
            mayDelete = false;
            child = OpenChild(name, kFolderAccess, FILE_DIRECTORY_FILE);
        }
        if (!child || !IsFolderItself(child.get(), entry, name)) return nullptr;
        WideString childName;
        if (byName_) {
            childName = name_;
            if (childName.empty() || childName.back() != L'\\') childName.push_back(L'\\');
            childName += name;
        }
        return std::unique_ptr<OpenFolder>(
            new WinOpenFolder(child.release(), std::move(path), std::move(childName), mayDelete, scratch_));
    }

    // Where the system opens a link as itself, what is opened is the entry, or a link
    // put in its place, and deleting that deletes the link alone: the open, the
    // disposition, the close. Under Wine the name of what was opened must be asked.
    bool DeleteChild(const FolderEntry& entry) override {
        const WideString& name = NameOf(entry);
        // Held without delete sharing, it cannot be opened, and stays as it is.
        unique_nt_handle child = OpenChild(name, kFileAccess, 0);
        if (!child || (byName_ && !IsItself(child.get(), name))) return false;
        return Dispose(child.get(), entry.protectedBits, entry.readOnly);
    }

    bool ResetAttributes() override { return SetAttributesOf(handle_.get(), FILE_ATTRIBUTE_NORMAL); }

    bool Remove() override {
        if (!mayDelete_) {
            ::SetLastError(ERROR_SHARING_VIOLATION);
            return false;
        }
        if (!Dispose(handle_.get(), false, false)) return false;
        handle_.reset();  // the folder goes as its last handle closes
        return true;
    }

    // A link is never moved aside for the restart: where the link is opened as
    // itself, what was opened tells.
    std::string MoveChildAside(const FolderEntry& entry) override {
        const WideString& name = NameOf(entry);
        unique_nt_handle child = OpenChild(name, kFileAccess, FILE_NON_DIRECTORY_FILE);
        if (!child || (byName_ ? !IsItself(child.get(), name) : IsLink(child.get()))) return std::string();
        WideString aside;
        return RenameAside(child.get(), handle_.get(), &aside) ? Narrow(aside) : std::string();
    }

    // Opens `name` relative to this folder, never following a link where the system
    // can open the link itself; shared, so nobody else's work is blocked by it.
    unique_nt_handle OpenChild(const WideString& name, ACCESS_MASK access, ULONG options) {
        UNICODE_STRING text;
        text.Buffer = const_cast<wchar_t*>(name.c_str());
        text.Length = text.MaximumLength = static_cast<USHORT>(name.size() * sizeof(wchar_t));
        OBJECT_ATTRIBUTES attributes;
        InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, handle_.get(), nullptr);
        IO_STATUS_BLOCK io{};
        unique_nt_handle child;
        const NTSTATUS status = ::NtCreateFile(
            child.put(), access, &attributes, &io, nullptr, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
            FILE_OPEN, options | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT | kOpenForBackup, nullptr, 0);
        if (Failed(status)) return unique_nt_handle();
        return child;
    }

    // The entry's name in UTF-16, in the walk's one buffer for it: valid until the next entry.
    const WideString& NameOf(const FolderEntry& entry) {
        WidenInto(entry.name, &scratch_->name);
        return scratch_->name;
    }

    // Whether an open file or folder is a link (a reparse point) itself.
    static bool IsLink(HANDLE child) {
        FILE_ATTRIBUTE_TAG_INFO tag{};
        if (!::GetFileInformationByHandleEx(child, FileAttributeTagInfo, &tag, sizeof(tag))) return true;
        if (!(tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
        ::SetLastError(kErrorNotItself);
        return true;
    }

    // A folder is checked by the id its listing gave: Wine lists a link to a folder as
    // a link, with its target's id, so what was swapped in since the listing shows
    // another id. Asking a name is what costs (Wine climbs the whole path to find its
    // drive), so a folder's own name is its parent's and the name it was opened by.
    // A link opened as itself is no folder to enter, whatever its name.
    // Where the system opens a link as itself, a folder that is no link is the folder
    // there, and without an id nothing more is asked.
    bool IsFolderItself(HANDLE child, const FolderEntry& entry, const WideString& name) {
        if (IsLink(child)) return false;
        if (entry.id == 0) return !byName_ || IsItself(child, name);
        IO_STATUS_BLOCK io{};
        LARGE_INTEGER id{};
        if (Failed(::NtQueryInformationFile(child, &io, &id, sizeof(id), kFileInternalInformation))) return false;
        if (entry.reparsePoint || static_cast<uint64_t>(id.QuadPart) != entry.id) {
            ::SetLastError(kErrorNotItself);
            return false;
        }
        return true;
    }

    // Whether `child`, opened as `name` here, is that entry itself: named as this
    // folder's name and its own. Where the system opens a link as itself (Windows),
    // that is the link, and acting on it leaves its target be; Wine ignores
    // FILE_OPEN_REPARSE_POINT and lists a link to a file as a plain file, but names
    // what it opened by the target's path.
    bool IsItself(HANDLE child, const WideString& name) {
        const UNICODE_STRING* found = ObjectName(child, &scratch_->objectName);
        if (!found) return false;
        // Compared in its parts: this folder's name, a separator where it has none, the entry's.
        const wchar_t* text = found->Buffer;
        const size_t length = found->Length / sizeof(wchar_t);
        const size_t folder = name_.size();
        const bool separator = name_.empty() || name_.back() != L'\\';
        if (length != folder + separator + name.size() || !SameText(text, folder, name_.data(), folder) ||
            (separator && text[folder] != L'\\') ||
            !SameText(text + folder + separator, name.size(), name.data(), name.size())) {
            ::SetLastError(kErrorNotItself);
            return false;
        }
        return true;
    }

private:
    unique_nt_handle handle_;
    std::string path_;
    WideString name_;  // as the system names it: ObjectName, or its parent's and its own (where byName_)
    bool mayDelete_;
    Scratch* scratch_;
    bool byName_;  // as the walk's Scratch decided
};

}  // namespace

bool LinksOpenAsThemselves() {
    int known = g_linksOpenAsThemselves.load();
    if (known < 0) {
        const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
        known = ntdll && !::GetProcAddress(ntdll, "wine_get_version") ? 1 : 0;
        g_linksOpenAsThemselves = known;
    }
    return known == 1;
}

void DecideLinksOpenAsThemselves(bool itself) { g_linksOpenAsThemselves = itself ? 1 : 0; }

std::unique_ptr<OpenFolder> WindowsPlatform::OpenFolderAt(const std::string& path, bool itself) {
    // One per walk; its name as the system gives it, where entries are told by theirs.
    std::unique_ptr<Scratch> scratch(new Scratch);
    const bool byName = scratch->byName;
    if (!itself) {
        unique_file folder(::CreateFileW(FilePath(path).c_str(), kFolderAccess,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                         FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        WideString name;
        if (!folder || (byName && !ObjectName(folder.get(), &name))) return nullptr;
        return std::unique_ptr<OpenFolder>(new WinOpenFolder(folder.release(), path, std::move(name), false, scratch.release()));
    }
    // The parent is reached by its path; the folder itself is opened from it as any
    // entry is, so that a link in its place is known for one.
    const size_t cut = path.find_last_of("\\/");
    if (path.empty() || cut == std::string::npos || cut + 1 == path.size()) {
        ::SetLastError(ERROR_INVALID_NAME);
        return nullptr;
    }
    const std::string parentPath = ParentFolder(path);
    unique_file parent(::CreateFileW(FilePath(parentPath).c_str(), FILE_LIST_DIRECTORY | SYNCHRONIZE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    WideString parentName;
    if (!parent || (byName && !ObjectName(parent.get(), &parentName))) return nullptr;
    WinOpenFolder above(parent.release(), parentPath, std::move(parentName), false, scratch.release());
    FolderEntry entry;
    entry.name = path.substr(cut + 1);
    entry.directory = true;
    return above.EnterAs(entry, path);
}

}  // namespace platform
