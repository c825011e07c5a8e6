#include "app/switches.h"

#include <cstring>

#include "platform/text.h"

const char kUsageText[] =
    "用法：remover.exe [/S] [/log=路径] [/plan] 清单文件名\n\n"
    "/S\t静默卸载，不显示窗口，结果见退出代码\n"
    "/log=路径\t把每一步写入 UTF-8 日志文件\n"
    "/plan\t只列出将要执行的操作，不做任何更改\n"
    "/?\t显示本说明\n\n"
    "日志文件不能是清单文件，也不能位于程序文件夹内（卸载会删除该文件夹）。\n\n"
    "退出代码：0 已卸载；3010 重新启动后完成；1602 已取消；1603 有项目未能删除；"
    "1605 清单和注册表项都不存在；1618 该产品的另一卸载正在进行；1622 无法创建日志文件；87 参数无效";

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

}  // namespace

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
