#include "platform/text.h"

#include <cstdint>
#include <vector>

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

std::string ParentFolder(const std::string& path) {
    const size_t cut = path.find_last_of("\\/");
    if (cut == std::string::npos) return std::string();
    return path.substr(0, cut > 0 && path[cut - 1] == ':' ? cut + 1 : cut);
}

std::string NormalPath(const std::string& input) {
    std::string path = input;
    // As an entry may write it: quoted, or with a quote left at one end.
    if (!path.empty() && path.front() == '"') path.erase(0, 1);
    while (!path.empty() && (path.back() == '"' || path.back() == ' ')) path.pop_back();
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    // The extended-length and device prefixes name the same file.
    if (path.compare(0, 8, "\\\\?\\UNC\\") == 0 || path.compare(0, 8, "\\\\.\\UNC\\") == 0) {
        path = "\\\\" + path.substr(8);
    } else if (path.compare(0, 4, "\\\\?\\") == 0 || path.compare(0, 4, "\\\\.\\") == 0) {
        path = path.substr(4);
    }
    const bool share = path.compare(0, 2, "\\\\") == 0;
    std::vector<std::string> parts;
    size_t at = share ? 2 : 0;
    while (at <= path.size()) {
        size_t end = path.find('\\', at);
        if (end == std::string::npos) end = path.size();
        std::string part = path.substr(at, end - at);
        at = end + 1;
        // A name ending in one full stop is the name without it; the last one loses
        // every trailing stop and blank, as Windows reads them.
        if (part.size() > 1 && part.back() == '.' && part[part.size() - 2] != '.') part.pop_back();
        if (at > path.size()) {
            while (!part.empty() && part != "." && part != ".." && (part.back() == '.' || part.back() == ' ')) {
                part.pop_back();
            }
        }
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            // Never above a drive or a share.
            if (parts.size() > (share ? 2u : 1u)) parts.pop_back();
            continue;
        }
        parts.push_back(std::move(part));
    }
    std::string out = share ? "\\\\" : "";
    for (size_t i = 0; i < parts.size(); ++i) out += (i ? "\\" : "") + parts[i];
    return out;
}

static char FoldAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

const char kAsidePrefix[] = "~remover.", kAsideSuffix[] = ".tmp";

bool IsAsideName(const std::string& name) {
    const size_t prefix = sizeof(kAsidePrefix) - 1, suffix = sizeof(kAsideSuffix) - 1;
    return name.size() > prefix + suffix && name.compare(0, prefix, kAsidePrefix) == 0 &&
           SamePathTextAt(name, name.size() - suffix, kAsideSuffix);
}

bool SamePathText(const std::string& a, const std::string& b) { return a.size() == b.size() && SamePathTextAt(a, 0, b); }

bool SamePathTextAt(const std::string& text, size_t at, const std::string& part) {
    if (at > text.size() || text.size() - at < part.size()) return false;
    for (size_t i = 0; i < part.size(); ++i) {
        if (FoldAscii(text[at + i]) != FoldAscii(part[i])) return false;
    }
    return true;
}

uint32_t FoldedHash(const std::string& text) {
    uint32_t hash = 2166136261u;
    for (char c : text) hash = (hash ^ static_cast<unsigned char>(FoldAscii(c))) * 16777619u;
    return hash;
}

bool IsInsideFolder(const std::string& path, const std::string& folder) {
    if (folder.empty() || path.size() <= folder.size()) return false;
    const bool separated = path[folder.size()] == '\\' || folder.back() == '\\';
    return separated && SamePathText(path.substr(0, folder.size()), folder);
}

}  // namespace platform

namespace platform {

std::string Utf16ToUtf8(const char16_t* text, size_t length) {
    std::string out;
    out.reserve(length);
    for (size_t i = 0; i < length; ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::u16string Utf8ToUtf16(const std::string& text) {
    std::u16string out;
    out.reserve(text.size());
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data());
    const unsigned char* end = p + text.size();
    while (p < end) {
        const unsigned lead = *p++;
        int more = lead < 0x80 ? 0 : lead >= 0xC2 && lead < 0xE0 ? 1 : lead >= 0xE0 && lead < 0xF0 ? 2
                 : lead >= 0xF0 && lead < 0xF5 ? 3 : -1;
        uint32_t c = more == 0 ? lead : more == 1 ? (lead & 0x1F) : more == 2 ? (lead & 0x0F) : (lead & 0x07);
        bool bad = more < 0 || end - p < more;
        for (int k = 0; !bad && k < more; ++k) {
            if ((p[k] & 0xC0) != 0x80) bad = true;
            c = (c << 6) | (p[k] & 0x3F);
        }
        // Overlong forms and values beyond U+10FFFF are malformed; surrogates pass.
        if (!bad && ((more == 2 && c < 0x800) || (more == 3 && (c < 0x10000 || c > 0x10FFFF)))) bad = true;
        if (bad) {
            out += u'\xFFFD';
            continue;  // resynchronise at the next byte
        }
        p += more;
        if (c >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
}

}  // namespace platform
