// The log file and redirected standard output, as sinks of UTF-8 lines.
#include "platform/log_win.h"

namespace platform {

namespace {

class FileSink : public TextSink {
public:
    explicit FileSink(unique_file owned) : owned_(std::move(owned)), file_(owned_.get()) {}
    explicit FileSink(HANDLE borrowed) : file_(borrowed) {}
    void Line(const std::string& text) override {
        const std::string line = text + "\r\n";
        DWORD written = 0;
        ::WriteFile(file_, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    }

private:
    unique_file owned_;  // none for a handle the process keeps (standard output)
    HANDLE file_;
};

}  // namespace

std::unique_ptr<TextSink> OpenLogFile(const std::string& path) {
    unique_file file(::CreateFileW(FilePath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return nullptr;
    return std::unique_ptr<TextSink>(new FileSink(std::move(file)));
}

std::unique_ptr<TextSink> RedirectedOutput() {
    HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (output == nullptr || output == INVALID_HANDLE_VALUE) return nullptr;
    const DWORD type = ::GetFileType(output);
    if (type != FILE_TYPE_DISK && type != FILE_TYPE_PIPE) return nullptr;
    return std::unique_ptr<TextSink>(new FileSink(output));
}

void AppendToLog(const std::string& logPath, const std::string& line) {
    if (logPath.empty()) return;
    unique_file log(::CreateFileW(FilePath(logPath).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (log) FileSink(log.get()).Line(line);
}

}  // namespace platform
