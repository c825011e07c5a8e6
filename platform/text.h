// String helpers shared by every layer. Strings inside the program are UTF-8;
// only the platform layer converts them, to and from UTF-16.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace platform {

// Ordered list of strings, only ever appended to.
using StringList = std::vector<std::string>;

// printf-style formatting whose only conversion is %s: each %s takes the next
// argument; a missing argument formats as nothing. Other bytes are copied, so
// multibyte text in the template passes through untouched.
std::string Format(const char* pattern, std::initializer_list<const std::string*> args);

// The command-line tail a GUI program receives: the program name (quoted, or up
// to the first byte <= 0x20) and the bytes 0x01..0x20 after it are skipped. On
// UTF-8 every byte below 0x80 is that character, so the rule holds per character.
const char* CommandLineTail(const char* commandLine);

// The folder that holds `path`, by its spelling: what comes before its last
// backslash or slash, empty when nothing does. A drive's root keeps its backslash
// ("C:\\" for "C:\\x.log"), for "C:" alone names the drive's current folder.
std::string ParentFolder(const std::string& path);

// The one normal spelling of a path for comparing text, where no file is there to
// open: slashes as backslashes, no \\?\ or \\.\ prefix, no empty, "." or ".."
// component, a component's one trailing full stop and the last one's trailing
// stops and blanks dropped as Windows drops them, no trailing separator, no
// surrounding quotes ("C:/Apps/Foo/" and "\\?\C:\Apps\.\Foo\" are C:\Apps\Foo).
// Case is left alone: SamePathText folds it.
std::string NormalPath(const std::string& path);

// A file moved aside for the restart is named kAsidePrefix, eight hex digits and
// kAsideSuffix ("~remover.XXXXXXXX.tmp"); whether a name is one.
extern const char kAsidePrefix[], kAsideSuffix[];
bool IsAsideName(const std::string& name);

// Equality of paths as the file system sees them (ASCII letters case-folded).
bool SamePathText(const std::string& a, const std::string& b);
// The same for `part` against the text at `at`, without copying either.
bool SamePathTextAt(const std::string& text, size_t at, const std::string& part);

// FNV-1a over `text` with ASCII letters folded to upper case, as SamePathText
// compares: names that compare equal hash equal.
uint32_t FoldedHash(const std::string& text);

// Whether `path` lies inside `folder` (by spelling, ASCII case folded).
bool IsInsideFolder(const std::string& path, const std::string& folder);

// UTF-16 <-> UTF-8. A lone surrogate, which a Windows file name may hold, is
// carried as its own three-byte sequence so that every name survives the round
// trip exactly; a malformed UTF-8 sequence reads as U+FFFD.
std::string Utf16ToUtf8(const char16_t* text, size_t length);
std::u16string Utf8ToUtf16(const std::string& text);

}  // namespace platform
