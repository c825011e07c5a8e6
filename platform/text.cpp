#include "platform/text.h"

namespace platform {

std::string Format(const char* pattern, std::initializer_list<const std::string*> args) {
    std::string out;
    auto next = args.begin();
    for (const char* p = pattern; *p; ++p) {
        if (p[0] == '%' && p[1] == 's') {
            if (next != args.end()) out += **next++;
            ++p;
        } else {
            out += *p;
        }
    }
    return out;
}

const char* CommandLineTail(const char* commandLine) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(commandLine);
    if (*p == '"') {
        ++p;
        while (*p && *p != '"') ++p;
        if (*p == '"') ++p;
    } else {
        while (*p > 0x20) ++p;
    }
    while (*p && *p <= 0x20) ++p;
    return reinterpret_cast<const char*>(p);
}

static char FoldAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool SamePathText(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
    }
    return true;
}

}  // namespace platform
