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
    "1605 清单不存在；1618 该产品的另一卸载正在进行；1622 无法创建日志文件；87 参数无效";

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

// Reads one switch at `at` (a '/'), records it, and returns where the next word begins.
size_t ReadSwitch(const std::string& tail, size_t at, Switches& result) {
    std::string word, value;
    bool hasValue = false;
    while (at < tail.size() && !IsBlank(tail[at]) && tail[at] != '=') word += tail[at++];
    if (at < tail.size() && tail[at] == '=') {
        hasValue = true;
        ++at;
        if (at < tail.size() && tail[at] == '"') {
            const size_t close = tail.find('"', at + 1);
            const size_t end = close == std::string::npos ? tail.size() : close;
            value = tail.substr(at + 1, end - at - 1);
            at = close == std::string::npos ? end : close + 1;
        }
        while (at < tail.size() && !IsBlank(tail[at])) value += tail[at++];
    }
    while (at < tail.size() && IsBlank(tail[at])) ++at;

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
        result.unknown = hasValue ? word + "=" + value : word;
    }
    return at;
}

// Where the manifest's name that begins at `from` ends: at the first blank after
// which the next word begins with '/'; the end of the tail when none does.
size_t NameEnd(const std::string& tail, size_t from) {
    for (size_t at = from; at < tail.size(); ++at) {
        if (!IsBlank(tail[at])) continue;
        size_t next = at;
        while (next < tail.size() && IsBlank(tail[next])) ++next;
        if (next < tail.size() && tail[next] == '/') return at;
        at = next;
    }
    return tail.size();
}

}  // namespace

Switches ParseSwitches(const std::string& tail, const char* selfRemovalSwitch) {
    Switches result;
    size_t at = 0;
    while (at < tail.size() && tail[at] == '/') {
        // The private switch takes the whole rest of the line.
        if (tail.compare(at, std::strlen(selfRemovalSwitch), selfRemovalSwitch) == 0) {
            result.selfRemoval = tail.substr(at + std::strlen(selfRemovalSwitch));
            if (result.selfRemoval.empty()) result.selfRemoval = " ";
            return result;
        }
        at = ReadSwitch(tail, at, result);
    }
    // Many scripts put the switches after the name: "Foo.xml /S".
    const size_t end = NameEnd(tail, at);
    result.argument = tail.substr(at, end - at);
    at = end;
    while (at < tail.size() && IsBlank(tail[at])) ++at;
    while (at < tail.size()) {
        if (tail[at] == '/') {
            at = ReadSwitch(tail, at, result);
            continue;
        }
        // A second name, or the rest of an unquoted value: nothing this program reads.
        std::string word;
        while (at < tail.size() && !IsBlank(tail[at])) word += tail[at++];
        while (at < tail.size() && IsBlank(tail[at])) ++at;
        if (result.unknown.empty()) result.unknown = word;
    }
    return result;
}

std::string ManifestArgument(const std::string& commandLine) {
    // "/~" begins the private switch, whose run reads no manifest.
    return ParseSwitches(platform::CommandLineTail(commandLine.c_str()), "/~").argument;
}
