// Narrow-string helpers shared by every layer (ANSI code page bytes).
#pragma once

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
// to the first byte <= 0x20) and the bytes 0x01..0x20 after it are skipped.
const char* CommandLineTail(const char* commandLine);

// Equality of paths as the file system sees them (ASCII letters case-folded).
bool SamePathText(const std::string& a, const std::string& b);

}  // namespace platform
