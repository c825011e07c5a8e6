// Files through their paths and their handles: what an open file is, where it
// lies, and renaming one aside to a fresh name of the program's own.
#pragma once

#include <windows.h>

#include <string>

#include "platform/win_handles.h"

namespace platform {

// IdentityOf and AsideName: in platform_win.h.

// The path the system gives an open file, every link resolved (\\?\ form); empty
// when it cannot say.
WideString FinalPathOf(HANDLE file);
// A path in the \\?\ form as people write it (\\?\UNC\ as \\).
std::string PlainPath(const WideString& path);

// How many names the open file has (hard links share its attributes and times); 0
// when the system cannot say.
DWORD LinkCount(HANDLE file);
// Sets the attributes of an open file, its times left as they are.
bool SetAttributesOf(HANDLE file, DWORD attributes);

// `prefix`, eight hex digits and `suffix`: a fresh name, another at each call (the
// clock, this process and a count, so neither two runs at once nor two calls of one
// run agree).
std::string FreshName(const char* prefix, const char* suffix);

// Renames the open `file`, through its handle (opened with DELETE), to a fresh
// AsideName in the folder that holds it, trying another name while one is taken
// (eight in all). With `folder`, a handle to that folder, the new name is given
// relative to it, `*aside` is the name alone, and the file is hidden through its
// handle (which then needs FILE_WRITE_ATTRIBUTES) only when it has no other name:
// a hard link's attributes are shared, and not ours to change. Without a folder
// (null), the folder is that of the file's final path, `*aside` is the new whole
// path (\\?\ form), and the file is hidden by that path. False, with the system's
// error, when the file keeps its name.
bool RenameAside(HANDLE file, HANDLE folder, WideString* aside);

}  // namespace platform
