#include "plan/command_line.h"

#include <cstring>

#include "platform/text.h"

namespace {

bool IsBlank(char c) { return c > 0 && static_cast<unsigned char>(c) <= 0x20; }

bool SameSwitch(const std::string& word, const char* name) {
    if (word.size() != std::strlen(name)) return false;
    for (size_t i = 0; i < word.size(); ++i) {
        char c = word[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != name[i]) return false;
    }
    return true;
}

// Reads the word at `at` the usual Windows way: quotes group blanks and are not
// part of it. A backslash is always itself: no file name can hold a quote, so
// none escapes one, and "C:\My Logs\" keeps its last backslash. Returns where the
// word ends.
size_t ReadWord(const std::string& tail, size_t at, std::string* word) {
    bool quoted = false;
    for (; at < tail.size() && (quoted || !IsBlank(tail[at])); ++at) {
        if (tail[at] == '"') {
            quoted = !quoted;
        } else {
            *word += tail[at];
        }
    }
    return at;
}

// Whether the word at `at` is a switch: it begins with '/', quoted or not.
bool IsSwitchAt(const std::string& tail, size_t at) {
    while (at < tail.size() && tail[at] == '"') ++at;
    return at < tail.size() && tail[at] == '/';
}

// Reads one switch at `at`, records it, and returns where the next word begins.
size_t ReadSwitch(const std::string& tail, size_t at, Switches& result) {
    std::string text;
    at = ReadWord(tail, at, &text);
    while (at < tail.size() && IsBlank(tail[at])) ++at;
    const size_t equals = text.find('=');
    const bool hasValue = equals != std::string::npos;
    const std::string word = text.substr(0, equals);
    const std::string value = hasValue ? text.substr(equals + 1) : std::string();

    // Whoever typed /S meant nobody to be asked, even when the rest of the word
    // is wrong: a deployment tool waiting on a box it cannot see would hang.
    const bool asksSilence =
        word.size() >= 2 && (word[1] == 's' || word[1] == 'S') && (word.size() == 2 || word[2] == '/');
    if (asksSilence) result.silent = true;
    if (asksSilence && word.size() == 2 && !hasValue) return at;  // plain /S

    if (SameSwitch(word, "/plan") && !hasValue) {
        result.planOnly = true;
    } else if (word == "/?" && !hasValue) {
        result.help = true;
    } else if (SameSwitch(word, "/log") && hasValue && !value.empty()) {
        result.logPath = value;
    } else if (result.unknown.empty()) {
        result.unknown = text;
    }
    return at;
}

// Reads the manifest's name that begins at `from`, without its quotes, and returns
// where it ends: at the first unquoted blank after which the next word is a switch,
// or nothing follows. A name without quotes may hold blanks (My Foo.xml /S), as
// command lines did before the switches; one with quotes is one word the usual
// way, and ends at its first unquoted blank.
size_t ReadName(const std::string& tail, size_t from, std::string* name) {
    bool quoted = false, hadQuotes = false;
    size_t at = from;
    for (; at < tail.size(); ++at) {
        if (tail[at] == '"') {
            quoted = !quoted;
            hadQuotes = true;
        } else if (quoted || !IsBlank(tail[at])) {
            *name += tail[at];
        } else {
            size_t next = at;
            while (next < tail.size() && IsBlank(tail[next])) ++next;
            if (hadQuotes || next == tail.size() || IsSwitchAt(tail, next)) break;
            name->append(tail, at, next - at);
            at = next - 1;
        }
    }
    return at;
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

}  // namespace

bool IsAbsolutePath(const std::string& path) {
    return (path.size() >= 3 && path[1] == ':' && IsSeparator(path[2])) ||
           (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1]));
}

Switches ParseSwitches(const std::string& tail, const char* selfRemovalSwitch) {
    Switches result;
    size_t at = 0;
    while (at < tail.size() && IsSwitchAt(tail, at)) {
        // The private switch takes the whole rest of the line.
        if (tail.compare(at, std::strlen(selfRemovalSwitch), selfRemovalSwitch) == 0) {
            result.selfRemoval = tail.substr(at + std::strlen(selfRemovalSwitch));
            if (result.selfRemoval.empty()) result.selfRemoval = " ";
            return result;
        }
        at = ReadSwitch(tail, at, result);
    }
    // Many scripts put the switches after the name: "Foo.xml /S".
    at = ReadName(tail, at, &result.argument);
    while (at < tail.size() && IsBlank(tail[at])) ++at;
    while (at < tail.size()) {
        if (IsSwitchAt(tail, at)) {
            at = ReadSwitch(tail, at, result);
            continue;
        }
        // A second name: nothing this program reads.
        std::string word;
        at = ReadWord(tail, at, &word);
        while (at < tail.size() && IsBlank(tail[at])) ++at;
        if (result.unknown.empty()) result.unknown = word;
    }
    return result;
}

std::string ManifestArgument(const std::string& commandLine) {
    // "/~" begins the private switch, whose run reads no manifest.
    return ParseSwitches(platform::CommandLineTail(commandLine.c_str()), "/~").argument;
}

std::string ProductName(const std::string& argument) {
    const size_t slash = argument.find_last_of("\\/");
    const std::string file = slash == std::string::npos ? argument : argument.substr(slash + 1);
    const size_t dot = file.rfind('.');
    return dot == std::string::npos ? std::string() : file.substr(0, dot);
}

CommandProgram ProgramOfCommand(platform::Platform& os, const std::string& command, size_t from) {
    CommandProgram program;
    if (!command.empty() && command[0] == '"') {
        const size_t close = command.find('"', 1);
        if (close != std::string::npos) {
            program.path = command.substr(1, close - 1);
            program.end = close + 1;
            program.quoted = true;
            return program;
        }
    }
    program.end = command.find(' ', from);
    if (program.end == std::string::npos) program.end = command.size();
    program.path = command.substr(0, program.end);
    if (!IsAbsolutePath(command)) return program;
    const auto probe = [&](size_t end) {
        if (!os.IsFile(command.substr(0, end))) return false;
        program.path = command.substr(0, end);
        program.end = end;
        return program.found = true;
    };
    if (command.size() - from <= kProbedLength && probe(command.size())) return program;
    // Unquoted blanks ("C:\Program Files\Bar\unins.exe /S"): the first run of words
    // that names a file, among the first few only.
    size_t probed = 0;
    for (size_t blank = command.find(' ', from); blank != std::string::npos && blank - from <= kProbedLength;
         blank = command.find(' ', blank + 1)) {
        if (++probed > kProbedBoundaries) break;
        if (blank > from && probe(blank)) break;
    }
    return program;
}
