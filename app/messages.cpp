#include "app/messages.h"

#include "platform/text.h"

using platform::Format;

const char kUsageText[] =
    "用法：remover.exe [/S] [/log=路径] [/plan] 清单文件名\n\n"
    "/S\t静默卸载，不显示窗口，结果见退出代码\n"
    "/log=路径\t把每一步写入 UTF-8 日志文件\n"
    "/plan\t只列出将要执行的操作，不做任何更改\n"
    "/?\t显示本说明\n\n"
    "日志文件不能是清单文件，也不能位于程序文件夹内（卸载会删除该文件夹）。\n\n"
    "退出代码：0 已卸载；3010 重新启动后完成；1602 已取消；1603 有项目未能删除；"
    "1605 清单和注册表项都不存在；1618 该产品的另一卸载正在进行；1622 无法创建日志文件；87 参数无效";
const char kPlainCaption[] = "卸载";  // the dialog's own caption
const char kCompletionTemplate[] = "%s卸载完毕，我们会继续努力，谢谢使用！";
const char kCompletionCaption[] = "卸载成功";
const char kUnreadManifestText[] = "无法读取卸载信息，未删除任何内容。";
const char kRestartNote[] = "\n\n部分文件正在使用中，将在计算机重新启动后删除。";
const char kIncompleteTemplate[] = "%s卸载未完成，以下项目未能删除：\n";
const char kMoreTemplate[] = "\n……另有 %s 项";
const char kIncompleteCaption[] = "卸载未完成";
const char kRunAgainNote[] = "\n\n卸载程序和卸载信息已保留：关闭占用这些项目的程序后，可以再次卸载。";
const char kByHandNote[] = "\n\n卸载程序和卸载信息已保留：手动删除这些项目后，可以再次卸载。";
const char kMixedNote[] =
    "\n\n卸载程序和卸载信息已保留：关闭占用文件的程序，并手动删除注明原因的项目后，可以再次卸载。";
const char kUnfinishedTemplate[] = "%s卸载未完成，";
const char kNotRunText[] = "以下卸载程序不存在，未能运行：\n";
const char kKeyWithoutManifestTemplate[] = "该产品仍登记在系统的程序列表中，但无法读取其卸载信息（%s），未删除任何内容。";
const char kRunningProgramsText[] = "以下程序正在运行。请关闭它们后点击“重试”；点击“取消”则不删除任何内容。\n";

namespace {

const char kRunningCommandStatus[] = "正在运行卸载程序：%s";
const char kShortcutsStatus[] = "正在删除快捷方式……";
const char kFilesStatus[] = "正在删除程序文件……";
const char kRegistryStatus[] = "正在删除注册表项……";

// What no program holds is named with why it stays: the user removes it by hand.
const char* CauseText(LeftCause cause) {
    switch (cause) {
        case LeftCause::kLink:
            return "（无法单独删除的链接）";
        case LeftCause::kBadName:
            return "（Windows 无法处理的名称）";
        case LeftCause::kTooDeep:
            return "（路径过深）";
        case LeftCause::kSpecialFile:
            return "（特殊文件）";
        case LeftCause::kAccessDenied:
            return "（拒绝访问）";
        default:
            return "";
    }
}

std::string Listed(const std::vector<std::string>& paths, const std::vector<LeftCause>& why = {}) {
    std::string text;
    const size_t shown = paths.size() < kPathsShown ? paths.size() : kPathsShown;
    for (size_t i = 0; i < shown; ++i) text += "\n" + paths[i] + (i < why.size() ? CauseText(why[i]) : "");
    if (paths.size() > shown) {
        const std::string more = std::to_string(paths.size() - shown);
        text += Format(kMoreTemplate, {&more});
    }
    return text;
}

}  // namespace

// Closing programs helps only what a program holds (or what stays for a reason
// nobody knows); what none holds goes by hand.
const char* RunAgainNote(const std::vector<LeftCause>& why) {
    bool held = false, byHand = false;
    for (const LeftCause cause : why) {
        byHand = byHand || ByHand(cause);
        held = held || cause == LeftCause::kHeld || cause == LeftCause::kOther;
    }
    return !byHand ? kRunAgainNote : held ? kMixedNote : kByHandNote;
}

std::string StatusText(RemovalStep step, const std::string& command) {
    switch (step) {
        case RemovalStep::kRunningCommand:
            return Format(kRunningCommandStatus, {&command});
        case RemovalStep::kShortcuts:
            return kShortcutsStatus;
        case RemovalStep::kFiles:
            return kFilesStatus;
        default:
            return kRegistryStatus;
    }
}

bool MessageFor(const std::string& displayName, const RemovalOutcome& outcome, FinalMessage* message) {
    using Told = RemovalOutcome::Told;
    *message = FinalMessage();
    switch (outcome.told) {
        case Told::kNothing:
            return false;
        case Told::kUnreadManifest:
        case Told::kKeyWithoutManifest:
            message->text = outcome.told == Told::kKeyWithoutManifest
                                ? Format(kKeyWithoutManifestTemplate, {&outcome.manifest})
                                : std::string(kUnreadManifestText);
            message->caption = kPlainCaption;
            message->kind = platform::MessageKind::kWarning;
            return true;
        case Told::kReport:
            break;
    }
    if (outcome.left.empty() && outcome.notRun.empty()) {
        message->text = Format(kCompletionTemplate, {&displayName});
        if (outcome.restartNeeded) message->text += kRestartNote;
        message->caption = kCompletionCaption;
        return true;
    }
    if (!outcome.left.empty()) {
        message->text = Format(kIncompleteTemplate, {&displayName}) + Listed(outcome.left, outcome.why);
    }
    if (!outcome.notRun.empty()) {
        message->text += outcome.left.empty() ? Format(kUnfinishedTemplate, {&displayName}) : std::string("\n\n");
        message->text += kNotRunText + Listed(outcome.notRun);
    }
    if (outcome.runAgain) message->text += RunAgainNote(outcome.why);
    message->caption = kIncompleteCaption;
    message->kind = platform::MessageKind::kWarning;
    return true;
}

void ShowOutcome(platform::Platform& os, platform::WindowRef owner, const std::string& displayName,
                 const RemovalOutcome& outcome) {
    FinalMessage message;
    if (!MessageFor(displayName, outcome, &message)) return;
    os.DiscardQueuedInput();
    os.ShowMessage(owner, message.text, message.caption, message.kind);
}

void RunListener::Log(const std::string& line) {
    if (log_) log_->Line(line);
}

void RunListener::Status(RemovalStep step, const std::string& command) { Log("== " + StatusText(step, command)); }

bool RunListener::AskRetry(const std::vector<std::string>& programs) {
    std::string text = kRunningProgramsText;
    for (const std::string& program : programs) text += "\n" + program;
    return os_.AskRetry(owner_, text, kPlainCaption);
}
