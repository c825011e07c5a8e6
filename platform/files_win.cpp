// Files by path and by handle: what a file is, its full path and bytes, the mark of
// a file on its way out, renaming one aside, and scheduling for the restart.
#include "platform/files_win.h"

#include <winternl.h>

#include <cstring>
#include <vector>

#include "platform/platform_win.h"

namespace platform {

namespace {

// Not in the headers of the system version this program is built for.
constexpr FILE_INFORMATION_CLASS kFileRenameInformation = static_cast<FILE_INFORMATION_CLASS>(10);
constexpr NTSTATUS kNameCollision = static_cast<NTSTATUS>(0xC0000035);

struct RenameInformation {  // FILE_RENAME_INFORMATION
    BOOLEAN ReplaceIfExists;
    HANDLE RootDirectory;
    ULONG FileNameLength;
    WCHAR FileName[1];
};

}  // namespace

std::string PlainPath(const WideString& path) {
    if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0) return "\\\\" + Narrow(path.substr(8));
    return Narrow(path.compare(0, 4, L"\\\\?\\") == 0 ? path.substr(4) : path);
}

std::string WindowsPlatform::ModuleFileName() {
    // A name cut at the buffer's end comes back as long as the buffer.
    return Narrow(GrownText([](wchar_t* buffer, DWORD size) { return ::GetModuleFileNameW(nullptr, buffer, size); }));
}

WideString FinalPathOf(HANDLE file) {
    return GrownText([file](wchar_t* buffer, DWORD size) {
        return ::GetFinalPathNameByHandleW(file, buffer, size, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    });
}

bool WindowsPlatform::IsFile(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesW(FilePath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

FileIdentity WindowsPlatform::Identify(const std::string& path) {
    // Backup semantics open folders too; no access right is needed to ask.
    unique_file file(::CreateFileW(FilePath(path).c_str(), FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return file ? IdentityOf(file.get()) : FileIdentity();
}

FileIdentity IdentityOf(HANDLE file) {
    FileIdentity identity;
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileInformationByHandle(file, &info)) {
        identity.volume = info.dwVolumeSerialNumber;
        identity.index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
        identity.lastWrite =
            (static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) | info.ftLastWriteTime.dwLowDateTime;
        identity.folder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    }
    FILE_BASIC_INFO basic{};
    if (::GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof(basic))) {
        identity.changed = static_cast<uint64_t>(basic.ChangeTime.QuadPart);
    }
    const WideString final = FinalPathOf(file);
    if (!final.empty()) identity.finalPath = PlainPath(final);
    identity.known = true;
    return identity;
}

namespace {

// The mark: its last-write time within its second set to this many 100 ns. Every
// attribute that a system keeps (Wine keeps few) would hinder an installer that
// writes the file again, and a time is what such a write sets anew.
constexpr int64_t kSecond = 10000000, kGoingMark = 4242424;

bool BasicInfo(const std::string& file, ACCESS_MASK access, unique_file* opened, FILE_BASIC_INFO* basic) {
    opened->reset(::CreateFileW(FilePath(file).c_str(), FILE_READ_ATTRIBUTES | access,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    return *opened && ::GetFileInformationByHandleEx(opened->get(), FileBasicInfo, basic, sizeof(*basic));
}

}  // namespace

DWORD LinkCount(HANDLE file) {
    FILE_STANDARD_INFO standard{};
    return ::GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof(standard)) ? standard.NumberOfLinks
                                                                                                : 0;
}

bool SetAttributesOf(HANDLE file, DWORD attributes) {
    FILE_BASIC_INFO basic{};  // zero times: left as they are
    basic.FileAttributes = attributes;
    return ::SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof(basic)) != FALSE;
}

bool WindowsPlatform::MarkGoing(const std::string& file) {
    unique_file opened;
    FILE_BASIC_INFO basic{};
    const DWORD names = BasicInfo(file, FILE_WRITE_ATTRIBUTES, &opened, &basic) ? LinkCount(opened.get()) : 0;
    if (names == 0) return false;
    // Times belong to the file, not the name: another name of it would change too.
    if (names != 1 || (basic.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        ::SetLastError(kErrorNotItself);
        return false;
    }
    FILE_BASIC_INFO marked{};  // zero: left as they are
    marked.LastWriteTime.QuadPart = basic.LastWriteTime.QuadPart / kSecond * kSecond + kGoingMark;
    return ::SetFileInformationByHandle(opened.get(), FileBasicInfo, &marked, sizeof(marked)) != FALSE;
}

bool WindowsPlatform::IsMarkedGoing(const std::string& file) {
    unique_file opened;
    FILE_BASIC_INFO basic{};
    return BasicInfo(file, 0, &opened, &basic) && basic.LastWriteTime.QuadPart % kSecond == kGoingMark;
}

std::string WindowsPlatform::FullPath(const std::string& path) {
    const WideString wide = Widen(path);
    return Narrow(GrownText([&wide](wchar_t* buffer, DWORD size) {
        return ::GetFullPathNameW(wide.c_str(), size, buffer, nullptr);
    }));
}

std::string FreshName(const char* prefix, const char* suffix) {
    static unsigned counter = 0;
    LARGE_INTEGER now{};
    ::QueryPerformanceCounter(&now);
    const unsigned noise = static_cast<unsigned>(now.QuadPart) ^ (::GetCurrentProcessId() << 12) ^ (++counter * 2654435761u);
    char name[64];
    ::wsprintfA(name, "%s%08X%s", prefix, noise, suffix);
    return name;
}

std::string AsideName() { return FreshName(kAsidePrefix, kAsideSuffix); }

bool RenameAside(HANDLE file, HANDLE folder, WideString* aside) {
    // Without the folder's handle, a whole name, in the system's own form: \??\ where
    // the final path has \\?\.
    WideString where;
    if (!folder) {
        where = FinalPathOf(file);
        const WideString::size_type cut = where.rfind(L'\\');
        if (cut == WideString::npos || where.compare(0, 4, L"\\\\?\\") != 0) return false;
        where.resize(cut + 1);
        where[1] = L'?';
    }
    for (int attempt = 0; attempt < 8; ++attempt) {
        const WideString target = where + Widen(AsideName());
        const ULONG bytes = static_cast<ULONG>(target.size() * sizeof(wchar_t));
        std::vector<ULONG_PTR> buffer((sizeof(RenameInformation) + bytes) / sizeof(ULONG_PTR) + 1);
        auto* rename = reinterpret_cast<RenameInformation*>(buffer.data());
        rename->ReplaceIfExists = FALSE;
        rename->RootDirectory = folder;
        rename->FileNameLength = bytes;
        std::memcpy(rename->FileName, target.data(), bytes);
        IO_STATUS_BLOCK io{};
        const NTSTATUS status = ::NtSetInformationFile(file, &io, rename,
                                                       static_cast<ULONG>(buffer.size() * sizeof(ULONG_PTR)),
                                                       kFileRenameInformation);
        if (status >= 0) {
            *aside = target;
            if (!folder) {
                (*aside)[1] = L'\\';
                ::SetFileAttributesW(aside->c_str(), FILE_ATTRIBUTE_HIDDEN);
                return true;
            }
            if (LinkCount(file) == 1) SetAttributesOf(file, FILE_ATTRIBUTE_HIDDEN);
            return true;
        }
        if (status != kNameCollision) {
            ::SetLastError(::RtlNtStatusToDosError(status));
            return false;
        }
    }
    ::SetLastError(ERROR_ALREADY_EXISTS);
    return false;
}

bool WindowsPlatform::FileBytes(const std::string& path, std::string* bytes) {
    unique_file file(::CreateFileW(FilePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    LARGE_INTEGER size{};
    // A manifest is a few kilobytes; anything near this is not one.
    constexpr LONGLONG kLargest = 64 << 20;
    if (!file || !::GetFileSizeEx(file.get(), &size) || size.QuadPart > kLargest) return false;
    bytes->assign(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (size.QuadPart > 0 && !::ReadFile(file.get(), &(*bytes)[0], static_cast<DWORD>(size.QuadPart), &read, nullptr)) {
        return false;
    }
    bytes->resize(read);
    return true;
}

bool WindowsPlatform::ScheduleRemoval(const std::string& path) {
    return ::MoveFileExW(FilePath(path).c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
}

}  // namespace platform
