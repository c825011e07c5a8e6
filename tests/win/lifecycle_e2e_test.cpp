// The life of a removal through the real program: what it waits for, what it asks,
// what it leaves for a restart, how it ends (exit codes, silent runs, the log, /plan)
// and how the program itself goes afterwards. Every case plants an installation
// beside files, shortcuts and a registry key that must survive it.
#include <gtest/gtest.h>
#include <shlobj.h>

#include <algorithm>
#include <functional>
#include <memory>

#include "tests/win/driver.h"

namespace {

using testwin::KeyExists;
using testwin::PathExists;
using testwin::ShellFolder;
using testwin::Snapshot;
using testwin::Wide;
using testwin::WriteFile;

const std::string kDone = "卸载完毕，我们会继续努力，谢谢使用！";

std::string TempFolder() {
    wchar_t path[MAX_PATH + 1] = {};
    return testwin::Utf8(std::wstring(path, GetTempPathW(MAX_PATH + 1, path)));
}

bool Eventually(const std::function<bool()>& done, int ms = 15000) {
    for (int waited = 0; waited < ms && !done(); waited += 100) Sleep(100);
    return done();
}

// A copy of the program that the self-removal leaves in the temp folder.
bool TempCopyLeft() {
    WIN32_FIND_DATAW data;
    const HANDLE find = FindFirstFileW(Wide(TempFolder() + "Drevik.Remover.*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
    return find != INVALID_HANDLE_VALUE;
}

// The restart's list: source and target in turn (an empty target deletes), without
// the "\??\" prefix.
const wchar_t kSessionManager[] = L"System\\CurrentControlSet\\Control\\Session Manager";
std::vector<std::string> PendingOperations() {
    static wchar_t data[65536];
    DWORD size = sizeof(data) - sizeof(wchar_t);
    std::vector<std::string> strings;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kSessionManager, L"PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ,
                     nullptr, data, &size)) {
        return strings;
    }
    for (size_t at = 0; at + 1 < size / sizeof(wchar_t); at += wcslen(data + at) + 1) {
        const std::string text = testwin::Utf8(data + at);
        strings.push_back(text.compare(0, 4, "\\??\\") == 0 ? text.substr(4) : text);
    }
    return strings;
}

// An installation: the program folder with remover.exe, a module uninstaller (a
// test_child copy), data and a manifest; its shortcuts and registry key; and
// sentinels beside each of them.
struct Install {
    std::string product, base, app, log, display = "Foo Client", param = "/s", extra, key;
    std::string desktop = ShellFolder(CSIDL_DESKTOP), programs = ShellFolder(CSIDL_PROGRAMS);
    std::string child = testwin::TestProgramFolder() + "\\test_child.exe";
    std::string leftAtMessage = "remover.exe\n";  // the program folder while the closing message shows
    std::string leftShown = "bin\\unins.exe";     // what an incomplete removal's warning names
    bool manifest = true;
    std::unique_ptr<testwin::Program> other;  // a program a case keeps running beside the removal
    std::unique_ptr<testwin::DialogWatch> watch;  // the dialog, watched from OK to the closing message
    HANDLE job = nullptr;                     // the job the program runs in, closed as it ends
    HANDLE output = nullptr, reader = nullptr;  // a pipe for the program's standard output
    HMODULE heldImage = nullptr;              // the program's file mapped by the test until it ends
    std::string newProgram;                   // an upgrade's remover.exe, written as the old one ends
    std::vector<std::string> drop;            // files outside the scratch folder, deleted after the case

    explicit Install(const std::string& name, const std::string& productName = std::string())
        : product(productName.empty() ? "RemoverLife" + name : productName),
          base(testwin::ScratchFolder("lifecycle\\" + name)), app(base + "\\app"), log(base + "\\log.txt"),
          key("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + product) {
        SetEnvironmentVariableW(L"REMOVER_TEST_LOG", Wide(log).c_str());
        testwin::MakeFolders(app + "\\bin");
        testwin::CopyTo(testwin::BuildFolder() + "\\remover.exe", app + "\\remover.exe");
        testwin::CopyTo(child, app + "\\bin\\unins.exe");
        WriteFile(app + "\\data\\数据\\y.txt", "data");
        WriteFile(app + "\\readonly.txt", "ro");
        SetFileAttributesW(testwin::LongPath(app + "\\readonly.txt").c_str(), FILE_ATTRIBUTE_READONLY);
        WriteFile(base + "\\sibling\\keep.txt", "keep");
        drop = {desktop + "\\" + product + ".lnk", desktop + "\\" + product + "-other.lnk",
                programs + "\\" + product + ".lnk"};
        for (const std::string& file : drop) WriteFile(file, file);
        WriteFile(programs + "\\" + product + "\\" + product + ".lnk", "link");
        WriteFile(programs + "\\" + product + "\\sub\\notes.txt", "notes");
        // The test runs in the program's registry view, as it is built for the same Windows.
        for (const std::string& path : {key + "\\Sub", key + "Other"}) {
            RegSetKeyValueW(HKEY_LOCAL_MACHINE, Wide(path).c_str(), L"DisplayName", REG_SZ, L"x", 4);
        }
    }
    ~Install() {
        if (reader) CloseHandle(reader);
        other.reset();
        for (const std::string& file : drop) DeleteFileW(Wide(file).c_str());
        testwin::DeleteTree(programs + "\\" + product);
        for (const std::string& path : {key, key + "Other"}) RegDeleteTreeW(HKEY_LOCAL_MACHINE, Wide(path).c_str());
        SetEnvironmentVariableW(L"REMOVER_TEST_LOG", nullptr);
    }
    std::string ManifestName() const { return product + ".xml"; }
    void WriteManifest() const {
        WriteFile(app + "\\" + ManifestName(),
                  "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Install><Setup DisplayName=\"" + display +
                      "\"/><Module uninstall=\"unins.exe\" dir=\"bin\" uninstallparam=\"" + param + "\">\n" +
                      "<ShortCut root=\"DESKTOP\" link=\"" + product + "\"/><ShortCut root=\"PROGRAMS\" group=\"" +
                      product + "\" link=\"" + product + "\"/></Module>\n" + extra + "</Install>\n");
    }
    bool ShortcutsAndKeyThere() const {
        return PathExists(desktop + "\\" + product + ".lnk") && PathExists(programs + "\\" + product) &&
               KeyExists(key + "\\Sub");
    }
    // `keyKept`: something stays, so the key stays for another run.
    void ExpectRemoved(bool keyKept) const {
        std::string left;
        for (const auto& entry : Snapshot(app)) left += entry.first + "\n";
        if (!leftAtMessage.empty()) EXPECT_EQ(left, leftAtMessage);
        EXPECT_FALSE(PathExists(desktop + "\\" + product + ".lnk"));
        EXPECT_FALSE(PathExists(programs + "\\" + product));
        EXPECT_EQ(KeyExists(key), keyKept);
    }
    void ExpectSentinels() const {
        EXPECT_EQ(testwin::ReadFile(base + "\\sibling\\keep.txt"), "keep");
        EXPECT_TRUE(PathExists(desktop + "\\" + product + "-other.lnk"));
        EXPECT_TRUE(PathExists(programs + "\\" + product + ".lnk"));
        EXPECT_TRUE(KeyExists(key + "Other"));
    }
    // The program's own file, then its folder, go soon after it ends, and so does
    // the copy in the temp folder that removed them.
    void ExpectGoneAfterExit() const {
        EXPECT_TRUE(Eventually([] { return !TempCopyLeft(); })) << "nothing of ours stays in " << TempFolder();
        EXPECT_EQ(testwin::ReadFile(app + "\\remover.exe"), newProgram) << "only the file that ran is deleted";
        if (newProgram.empty()) {
            EXPECT_TRUE(Eventually([&] { return !PathExists(app + "\\remover.exe"); }));
            EXPECT_TRUE(Eventually([&] { return !PathExists(app); }));
        }
        for (const std::string& pending : PendingOperations()) {
            EXPECT_EQ(pending.find("Drevik.Remover."), std::string::npos) << "no restart is left pending for the copy";
        }
    }
    // Keeps the program's file mapped as an image, as a scanner may a while after the
    // program ends: the copy cannot delete it until Ended releases it.
    void HoldImage() {
        heldImage = LoadLibraryExW(Wide(app + "\\remover.exe").c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
        ASSERT_NE(heldImage, nullptr);
    }
    // As soon as the program has ended: its job closes (ending what is still in it), the
    // image is released, and an upgrade writes its program, retrying while the old is held.
    void Ended() {
        if (job) CloseHandle(job);
        if (heldImage) FreeLibrary(heldImage);
        EXPECT_TRUE(newProgram.empty() || Eventually([&] {
            WriteFile(app + "\\remover.exe", newProgram);
            return testwin::ReadFile(app + "\\remover.exe") == newProgram;
        }));
    }
    // Starts a test_child copy and waits until it has logged `ready`.
    void StartOther(const std::string& exe, const std::string& arguments, const std::string& ready) {
        other.reset(new testwin::Program(exe, arguments));
        ASSERT_TRUE(Eventually([&] { return testwin::ReadFile(log).find(ready) != std::string::npos; }, 20000));
    }
};

enum Ending { kUntouched, kCompleted, kRestart, kIncomplete, kNotRun };

struct Case {
    const char* name;
    const char* switches;  // before the manifest's name
    int press;             // on the dialog; 0: a silent run, no dialog
    int closeBox;          // on the box that asks to close running programs; 0: no such box
    Ending ending;         // the closing message, unless silent
    DWORD exitCode;
    std::function<void(Install&)> plant, atMessage, after;
    std::function<void(Install&, testwin::Program&)> atDialog;  // before the press
    const char* trailing = "";       // after the manifest's name
    bool fromProgramFolder = false;  // started with the program folder as the current folder
    const char* product = "";        // the product's name, when not made from the case's
};
void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

// Ends a run as a power cut or an agent's time-out would.
void Kill(const testwin::Program& program) {
    const HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, program.processId());
    ASSERT_NE(process, nullptr);
    TerminateProcess(process, 9);
    CloseHandle(process);
}

// The removal started again, silently, finishes what an earlier one left.
void RunAgainEnding(Install& t, DWORD exitCode) {
    testwin::Program again(t.app + "\\remover.exe", "/S " + t.ManifestName());
    ASSERT_TRUE(again.WaitForExit(60000));
    EXPECT_EQ(again.ExitCode(), exitCode);
}
void RunAgain(Install& t) { RunAgainEnding(t, 0); }

size_t Count(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

// A program running from the program folder, as the client application would.
void RunClient(Install& t) {
    ASSERT_TRUE(testwin::CopyTo(t.child, t.app + "\\client.exe"));
    t.StartOther(t.app + "\\client.exe", "sleep=60000", "begin " + t.app + "\\client.exe");
}

// The restart's list starts empty, and no earlier removal may still be adding to it.
void ClearPendingOperations() {
    ASSERT_TRUE(Eventually([] { return !TempCopyLeft(); }));
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSessionManager, L"PendingFileRenameOperations");
}

// Wine's restart carries out the pending operations as Windows does at boot.
void Restart() {
    testwin::Program restart("C:\\windows\\system32\\wineboot.exe", "-r");
    ASSERT_TRUE(restart.WaitForExit(60000));
}

// A job as deployment agents run packages in: what is still in it when it closes ends.
HANDLE Job(DWORD limits) {
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION info{};
    info.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | limits;
    const HANDLE job = CreateJobObjectW(nullptr, nullptr);
    return SetInformationJobObject(job, JobObjectExtendedLimitInformation, &info, sizeof(info)) ? job : nullptr;
}

// A second module that takes a while, and a kill while it runs; once it has ended, a
// rerun finishes without the first module, recorded as done, unless a repair wrote the
// key and the manifest's own text and time again meanwhile.
void SlowSecondModule(Install& t) {
    ASSERT_TRUE(testwin::CopyTo(t.child, t.app + "\\second.exe"));
    t.extra = "<Module uninstall=\"second.exe\" uninstallparam=\"sleep=2000\"/>";
}
void KillDuringSecondModule(Install& t, testwin::Program& program) {
    ASSERT_TRUE(Eventually([&] { return Count(testwin::ReadFile(t.log), "begin " + t.app + "\\second.exe"); }));
    Kill(program);
}
// What /plan writes to its standard output, redirected to plan.txt in the scratch folder.
std::string PlanOutput(const Install& t, const std::string& arguments, DWORD* code) {
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = CreateFileW(Wide(t.base + "\\plan.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                     CREATE_ALWAYS, 0, nullptr);
    PROCESS_INFORMATION info{};
    std::wstring command = Wide("\"" + t.app + "\\remover.exe\" /plan " + arguments);
    const BOOL started = CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info);
    CloseHandle(startup.hStdOutput);
    if (!started) return std::string();
    EXPECT_EQ(WaitForSingleObject(info.hProcess, 20000), static_cast<DWORD>(WAIT_OBJECT_0));
    GetExitCodeProcess(info.hProcess, code);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return testwin::ReadFile(t.base + "\\plan.txt");
}

// Writes a file again in place, its bytes and its time as they were: a repair that
// only the file's change time can tell.
void RewriteInPlace(const std::string& path) {
    const std::wstring name = testwin::LongPath(path);
    const std::string bytes = testwin::ReadFile(path);
    FILETIME written{};
    HANDLE file = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    GetFileTime(file, nullptr, nullptr, &written);
    DWORD done = 0;
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr);
    SetFileTime(file, nullptr, nullptr, &written);
    CloseHandle(file);
}

enum Repair { kNoRepair, kRepairAll, kModuleRewritten };
std::function<void(Install&)> RerunAfterTheKill(Repair repair) {
    return [repair](Install& t) {
        ASSERT_TRUE(Eventually([&] { return Count(testwin::ReadFile(t.log), "end " + t.app + "\\second.exe"); }));
        if (repair == kRepairAll) {
            const std::wstring manifest = testwin::LongPath(t.app + "\\" + t.ManifestName());
            FILETIME written{};
            HANDLE file = CreateFileW(manifest.c_str(), FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            GetFileTime(file, nullptr, nullptr, &written);
            CloseHandle(file);
            t.WriteManifest();
            file = CreateFileW(manifest.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            SetFileTime(file, nullptr, nullptr, &written);
            CloseHandle(file);
            ASSERT_TRUE(testwin::SetKeyText(t.key, "DisplayName", t.display));
        } else if (repair == kModuleRewritten) {
            RewriteInPlace(t.app + "\\bin\\unins.exe");
        } else {
            // The plan, by another spelling of the manifest, tells what the rerun does.
            DWORD code = STILL_ACTIVE;
            const std::string plan = PlanOutput(t, ".\\" + t.ManifestName(), &code);
            EXPECT_EQ(code, 0u);
            EXPECT_NE(plan.find("done by an earlier run: \"" + t.app + "\\bin\\unins.exe\""), std::string::npos) << plan;
        }
        RunAgain(t);
        const std::string log = testwin::ReadFile(t.log);
        EXPECT_EQ(Count(log, "begin " + t.app + "\\bin\\unins.exe"), repair == kNoRepair ? 1u : 2u) << log;
        EXPECT_EQ(Count(log, "begin " + t.app + "\\second.exe"), 2u) << log;
    };
}

const char kSilentLog[] = "C:\\remover-tests\\lifecycle-silent.log";
const Case kRemoved = {"Removed", "", IDOK, 0, kCompleted, 0, nullptr, nullptr, nullptr};
// The log, in UTF-8, holds the plan, every entry removed and the exit code.
const Case kSilent = {"SilentWithLog", "/S /log=C:\\remover-tests\\lifecycle-silent.log ", 0, 0, kCompleted, 0,
                      nullptr, nullptr, [](Install& t) {
    const std::string log = testwin::ReadFile(kSilentLog);
    std::vector<std::string> lines = {"plan: manifest: " + t.app + "\\" + t.ManifestName(),
                                      "plan: run: \"" + t.app + "\\bin\\unins.exe\" \"/s\"",
                                      "removed: " + t.desktop + "\\" + t.product + ".lnk",
                                      "removed: " + t.programs + "\\" + t.product, "exit code 0"};
    for (const std::string& entry : {"bin\\unins.exe", "bin", "data\\数据\\y.txt", "data\\数据", "data", "readonly.txt"}) {
        lines.push_back("removed: " + t.app + "\\" + entry);
    }
    for (const std::string& line : lines) EXPECT_NE(log.find(line + "\r\n"), std::string::npos) << line << "\n" << log;
}};

const Case kCases[] = {
    kRemoved,
    kSilent,
    // A file held without delete sharing cannot be moved aside, and the restart deletes
    // names: it stays, told, so that a reinstall's new file of its name survives the restart.
    {"HeldFileStaysAndAReinstallSurvivesTheRestart", "", IDOK, 0, kIncomplete, 1603,
     [](Install& t) {
         ClearPendingOperations();
         WriteFile(t.app + "\\lib\\in-use.dll", "dll");
         t.leftShown = "lib\\in-use.dll\n" + t.app + "\\lib";
         t.leftAtMessage = t.ManifestName() + "\nlib\\\nlib\\in-use.dll\nremover.exe\n";
         t.StartOther(t.child, "hold=" + t.app + "\\lib\\in-use.dll;sleep=60000", "held\n");
     },
     [](Install& t) { EXPECT_TRUE(PendingOperations().empty()) << "nothing is left to the restart by its name"; },
     [](Install& t) {
         t.other.reset();
         WriteFile(t.app + "\\lib\\in-use.dll", "reinstalled");
         Restart();
         EXPECT_EQ(testwin::ReadFile(t.app + "\\lib\\in-use.dll"), "reinstalled");
         RunAgain(t);
     }},
    // Only the file that ran is deleted, not an upgrade's new one of its name.
    {"NewProgramWrittenAsTheOldEnds", "/S ", 0, 0, kCompleted, 0,
     [](Install& t) { t.HoldImage(); t.newProgram = "new program"; }},
    // A job that ends the copy: the restart deletes the program, not a reinstall's new one.
    {"JobThatEndsTheCopyGoesAtRestart", "/S ", 0, 0, kRestart, 3010,
     [](Install& t) { ClearPendingOperations(); t.job = Job(0); }, nullptr,
     [](Install& t) {
         const std::vector<std::string> pending = PendingOperations();
         ASSERT_EQ(pending.size(), 4u);
         EXPECT_EQ(pending, (std::vector<std::string>{pending[0], "", t.app, ""})) << "the file, then its folder";
         EXPECT_EQ(pending[0].find(t.app + "\\~remover."), 0u) << pending[0];
         WriteFile(t.app + "\\remover.exe", "reinstalled");
         Restart();
         EXPECT_EQ(testwin::ReadFile(t.app + "\\remover.exe"), "reinstalled");
     }},
    // Held past the copy's retries: the copy moves the file aside, leaves that name and
    // the folder to the restart, and says so in the log.
    {"ProgramHeldPastTheCopysRetriesGoesAtRestart", "/S /log=C:\\remover-tests\\lifecycle-held.log ", 0, 0, kRestart, 0,
     [](Install& t) {
         ClearPendingOperations();
         t.StartOther(t.child, "load=" + t.app + "\\remover.exe;sleep=60000", "loaded\n");
     },
     nullptr,
     [](Install& t) {
         const std::string line = "deleted at the next restart: " + t.app + "\\remover.exe (moved aside to " + t.app;
         ASSERT_TRUE(Eventually([&] { return Count(testwin::ReadFile("C:\\remover-tests\\lifecycle-held.log"), line); }));
         const std::vector<std::string> pending = PendingOperations();
         ASSERT_EQ(pending.size(), 4u);
         EXPECT_EQ(pending[0].find(t.app + "\\~remover."), 0u) << pending[0];
         EXPECT_EQ(pending[2], t.app);
     }},
    // A job that lets them leave: the copy does, and finishes after the job has closed.
    {"JobThatLetsTheCopyLeave", "/S ", 0, 0, kCompleted, 0,
     [](Install& t) { t.job = Job(JOB_OBJECT_LIMIT_BREAKAWAY_OK); t.HoldImage(); }},
    {"RelaunchedCopyIsWaitedFor", "", IDOK, 0, kCompleted, 0,
     [](Install& t) {
         WriteFile(t.base + "\\module-data.txt", "data");
         t.param = "relaunch;sleep=1000;delete=" + t.base + "\\module-data.txt;sleep=1000";
         t.drop.push_back(TempFolder() + "remover-test-relaunch.exe");
     },
     [](Install& t) {
         const std::string log = testwin::ReadFile(t.log), end = "end " + t.drop.back() + "\n";
         EXPECT_EQ(log.substr(log.size() - std::min(log.size(), end.size())), end) << "the copy had ended: " << log;
         EXPECT_FALSE(PathExists(t.base + "\\module-data.txt"));
     },
     nullptr},
    {"NsisUninstallerIsWaitedFor", "", IDOK, 0, kCompleted, 0,
     [](Install& t) {
         WriteFile(t.base + "\\nsis-marker.txt", "marker");
         testwin::Program setup(testwin::TestProgramFolder() + "\\lifecycle_nsis_setup.exe",
                                "/S /D=" + t.app + "\\nsis");
         ASSERT_TRUE(setup.WaitForExit(60000));
         ASSERT_TRUE(PathExists(t.app + "\\nsis\\uninst.exe"));
         t.extra = "  <Module dir=\"nsis\" uninstall=\"uninst.exe /S\"/>\r\n";
     },
     [](Install& t) { EXPECT_FALSE(PathExists(t.base + "\\nsis-marker.txt")) << "NSIS's copy had finished"; },
     nullptr},
    {"ChildFromElsewhereIsNotWaitedFor", "", IDOK, 0, kCompleted, 0,
     [](Install& t) {
         ASSERT_TRUE(testwin::CopyTo(t.child, t.base + "\\browser.exe"));
         t.param = "run=" + t.base + "\\browser.exe;sleep=60000";
     },
     [](Install& t) {
         const std::string log = testwin::ReadFile(t.log);
         const size_t at = log.find("started ");
         ASSERT_NE(at, std::string::npos) << log;
         const HANDLE browser = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, std::stoul(log.substr(at + 8)));
         ASSERT_NE(browser, nullptr);
         EXPECT_EQ(WaitForSingleObject(browser, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "it still runs";
         TerminateProcess(browser, 1);
         CloseHandle(browser);
     },
     nullptr},
    // Thousands of files: the dialog answers throughout, its bar appears at OK and
    // rises to its end, and the session may not end meanwhile.
    {"DialogAnswersWhileItRemoves", "", IDOK, 0, kCompleted, 0,
     [](Install& t) {
         for (int i = 0; i < 3000; ++i) WriteFile(t.app + "\\many\\" + std::to_string(i % 40) + "\\" + std::to_string(i), "m");
     },
     [](Install& t) {
         t.watch->Stop();
         EXPECT_LT(t.watch->longestGapMs, 250u);
         EXPECT_GE(t.watch->positions.size(), 3u);
         EXPECT_TRUE(std::is_sorted(t.watch->positions.begin(), t.watch->positions.end()));
         EXPECT_EQ(t.watch->positions.back(), t.watch->maximum);
         EXPECT_GT(t.watch->endSessionRefused, 0);
         EXPECT_EQ(t.watch->endSessionAllowed, 0);
     },
     nullptr,
     [](Install& t, testwin::Program& program) {
         const HWND dialog = program.WaitForDialog();
         EXPECT_EQ(FindWindowExW(dialog, nullptr, L"msctls_progress32", nullptr), nullptr) << "no bar before OK";
         t.watch.reset(new testwin::DialogWatch(dialog, 250));
     }},
    // Stray messages of the kind the dialog uses, posted by another program while the
    // removal runs, neither end it early nor make it read what they carry.
    {"StrayMessagesWhileItRemoves", "", IDOK, 0, kCompleted, 0, [](Install& t) { t.param = "sleep=1500"; }, nullptr,
     nullptr,
     [](Install& t, testwin::Program& program) {
         const HWND dialog = program.WaitForDialog();
         testwin::PressButton(dialog, IDOK);  // the driver's own press comes too late to count
         ASSERT_TRUE(Eventually([&] { return Count(testwin::ReadFile(t.log), "begin " + t.app + "\\bin\\unins.exe"); }));
         std::vector<UINT> stray;
         for (UINT n = 0; n < 16; ++n) stray.push_back(WM_APP + n);
         for (const wchar_t* name : {L"Drevik.Remover.Removal.Update.6b1f0c52", L"Drevik.Remover.Removal.Done.6b1f0c52",
                                     L"Drevik.Remover.Removal.Ask.6b1f0c52"}) {
             stray.push_back(RegisterWindowMessageW(name));
         }
         for (UINT message : stray) PostMessageW(dialog, message, 4, 4);
         EXPECT_FALSE(program.WaitForExit(500)) << "still removing";
     }},
    // A second run that found the product busy shows its box without holding the lock:
    // once the holder has gone (killed here, so the lock is abandoned), a third run may remove.
    {"ThirdRunProceedsWhileASecondShowsTheProductIsBusy", "", IDOK, 0, kUntouched, 1618,
     [](Install& t) {
         t.param = "sleep=8000";
         t.WriteManifest();
         t.manifest = false;
         t.StartOther(t.app + "\\remover.exe", "/S " + t.ManifestName(), "begin " + t.app + "\\bin\\unins.exe");
     },
     nullptr, nullptr,
     [](Install& t, testwin::Program& second) {
         ASSERT_NE(second.WaitForDialog("卸载"), nullptr) << "the second run says the product is busy";
         Kill(*t.other);
         ASSERT_TRUE(t.other->WaitForExit());
         testwin::Program third(t.app + "\\remover.exe", t.ManifestName());
         const HWND dialog = third.WaitForDialog();
         ASSERT_NE(dialog, nullptr);
         EXPECT_EQ(testwin::WindowText(dialog), t.display + "卸载向导") << "the confirmation, not the busy box";
         testwin::PressButton(dialog, IDCANCEL);
         ASSERT_TRUE(third.WaitForExit());
         EXPECT_EQ(third.ExitCode(), 1602u);
     }},
    // The lock folds the whole of Unicode, as the file system compares names.
    {"SecondStartWithANonAsciiNameInAnotherCase", "", IDCANCEL, 0, kUntouched, 1602, nullptr, nullptr, nullptr,
     [](Install& t, testwin::Program& first) {
         testwin::Program second(t.app + "\\remover.exe", "removerärgerlife.xml");
         ASSERT_TRUE(second.WaitForExit());
         EXPECT_EQ(second.ExitCode(), 1618u);
         EXPECT_FALSE(first.WaitForExit(0));
     },
     "", false, "RemoverÄrgerLife"},
    // The program's file held without delete sharing cannot be moved aside: it stays,
    // told, and the restart is never given its name, which a reinstall may reuse.
    {"ProgramHeldWithoutDeleteSharingStays", "/S /log=C:\\remover-tests\\lifecycle-held-program.log ", 0, 0, kRestart,
     1603,
     [](Install& t) {
         ClearPendingOperations();
         t.StartOther(t.child, "hold=" + t.app + "\\remover.exe;sleep=60000", "held\n");
     },
     nullptr,
     [](Install& t) {
         EXPECT_TRUE(PendingOperations().empty());
         EXPECT_TRUE(PathExists(t.app + "\\remover.exe"));
         const std::string log = testwin::ReadFile("C:\\remover-tests\\lifecycle-held-program.log");
         EXPECT_TRUE(Count(log, "left: " + t.app + "\\remover.exe: neither deleted nor scheduled")) << log;
     }},
    {"RunningProgramThenCancel", "", IDOK, IDCANCEL, kUntouched, 1602, RunClient, nullptr, nullptr},
    {"RunningProgramClosedThenRetry", "", IDOK, IDRETRY, kCompleted, 0, RunClient, nullptr, nullptr},
    {"FailingUninstallerKeepsTheWayBack", "", IDOK, 0, kIncomplete, 1603,
     [](Install& t) {
         t.param = "exit=7";
         t.leftAtMessage = t.ManifestName() + "\nbin\\\nbin\\unins.exe\nremover.exe\n";
     },
     nullptr,
     [](Install& t) {
         EXPECT_TRUE(PathExists(t.app + "\\remover.exe")) << "kept to run again";
         t.param = "/s";  // whatever held it is closed now
         t.WriteManifest();
         RunAgain(t);
     }},
    {"KilledMidWalkFinishesOnTheNextRun", "/S ", 0, 0, kCompleted, 9,
     [](Install& t) {
         for (int i = 0; i < 3000; ++i) WriteFile(t.app + "\\plugins\\p" + std::to_string(i) + ".dat", "p");
     },
     nullptr, RunAgain,
     [](Install& t, testwin::Program& program) {
         ASSERT_TRUE(Eventually([&] { return Snapshot(t.app + "\\plugins").size() < 2000; }, 30000));
         Kill(program);
         ASSERT_TRUE(program.WaitForExit());
         EXPECT_TRUE(PathExists(t.app + "\\" + t.ManifestName())) << "the manifest goes last";
     }},
    {"KilledAfterTheFirstModuleRunsOnlyTheRest", "/S ", 0, 0, kCompleted, 9, SlowSecondModule, nullptr,
     RerunAfterTheKill(kNoRepair), KillDuringSecondModule},
    {"RepairBetweenRunsRunsEveryModuleAgain", "/S ", 0, 0, kCompleted, 9, SlowSecondModule, nullptr,
     RerunAfterTheKill(kRepairAll), KillDuringSecondModule},
    {"RewrittenModuleRunsAgain", "/S ", 0, 0, kCompleted, 9, SlowSecondModule, nullptr,
     RerunAfterTheKill(kModuleRewritten), KillDuringSecondModule},
    // The second module hands its work to a copy that deletes the module's program:
    // killed meanwhile, the rerun finds it started and gone, and counts it done.
    {"KilledWhileAModuleThatDeletesItselfRuns", "/S ", 0, 0, kCompleted, 9,
     [](Install& t) {
         ASSERT_TRUE(testwin::CopyTo(t.child, t.app + "\\second.exe"));
         t.extra = "<Module uninstall=\"second.exe\" uninstallparam=\"relaunch;sleep=1500;delete=" + t.app +
                   "\\second.exe\"/>";
         t.drop.push_back(TempFolder() + "remover-test-relaunch.exe");
     },
     nullptr,
     [](Install& t) {
         ASSERT_TRUE(Eventually([&] { return Count(testwin::ReadFile(t.log), "end " + t.drop.back()); }));
         RunAgain(t);
     },
     [](Install& t, testwin::Program& program) {
         ASSERT_TRUE(Eventually([&] { return Count(testwin::ReadFile(t.log), "begin " + t.drop.back()); }));
         Kill(program);
     }},
    // Killed once the manifest went, while the key goes (slowly: it has many
    // subkeys): the rerun finds the key and its journal, and finishes.
    {"KilledRightAfterTheManifestWent", "/S ", 0, 0, kCompleted, 9,
     [](Install& t) { for (int i = 0; i < 2000; ++i) testwin::MakeKey(t.key + "\\Many\\" + std::to_string(i)); },
     nullptr, [](Install& t) { ASSERT_TRUE(KeyExists(t.key)); RunAgain(t); },
     [](Install& t, testwin::Program& program) {
         const std::string manifest = t.app + "\\" + t.ManifestName();
         for (const DWORD start = GetTickCount(); PathExists(manifest) && GetTickCount() - start < 30000;) continue;
         Kill(program);
     }},
    // A missing module program is told in its own words; a rerun mends the rest, and
    // the product leaves the list though that module never ran.
    {"MissingModuleProgramThenARerun", "", IDOK, 0, kNotRun, 1603,
     [](Install& t) {
         t.param = "exit=7";
         t.extra = "<Module uninstall=\"gone.exe\"/>";
         t.leftAtMessage = t.ManifestName() + "\nbin\\\nbin\\unins.exe\nremover.exe\n";
     },
     nullptr,
     [](Install& t) {
         t.param = "/s";
         t.WriteManifest();
         RunAgainEnding(t, 1603);
     }},
    // A caller reading the program's output sees its end as the program ends: the
    // copy that removes the program holds none of the caller's handles.
    {"PipeReaderSeesTheEndAsTheProgramEnds", "/S ", 0, 0, kCompleted, 0,
     [](Install& t) {
         SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
         ASSERT_TRUE(CreatePipe(&t.reader, &t.output, &inherit, 0));
         SetHandleInformation(t.reader, HANDLE_FLAG_INHERIT, 0);
     },
     nullptr,
     [](Install& t) {
         EXPECT_FALSE(PeekNamedPipe(t.reader, nullptr, 0, nullptr, nullptr, nullptr));
         EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BROKEN_PIPE)) << "nothing holds the writing end";
     },
     [](Install& t, testwin::Program&) { CloseHandle(t.output); }},
    {"LoadedDllMovedAsideSoAReinstallSurvivesTheRestart", "", IDOK, 0, kRestart, 3010,
     [](Install& t) {
         ClearPendingOperations();
         testwin::MakeFolders(t.app + "\\lib");
         ASSERT_TRUE(testwin::CopyTo(t.child, t.app + "\\lib\\client.dll"));
         t.leftAtMessage.clear();  // the name it is moved aside to is a fresh one
         t.StartOther(t.child, "load=" + t.app + "\\lib\\client.dll;sleep=60000", "loaded\n");
     },
     [](Install& t) {
         const std::vector<std::string> pending = PendingOperations();
         ASSERT_EQ(pending.size(), 6u);
         EXPECT_EQ(pending[0].find(t.app + "\\lib\\~remover."), 0u) << pending[0];
         EXPECT_EQ(std::vector<std::string>(pending.begin() + 2, pending.end()),
                   (std::vector<std::string>{t.app + "\\lib", "", t.app, ""}));
         EXPECT_FALSE(PathExists(t.app + "\\lib\\client.dll")) << "its name is free for a reinstall";
     },
     [](Install& t) {
         WriteFile(t.app + "\\lib\\client.dll", "the new version");  // a reinstall
         t.other.reset();
         Restart();
         EXPECT_EQ(testwin::ReadFile(t.app + "\\lib\\client.dll"), "the new version");
         EXPECT_EQ(Snapshot(t.app).size(), 2u) << "the old file went at the restart";
     }},
    {"CancelOnTheDialog", "", IDCANCEL, 0, kUntouched, 1602, nullptr, nullptr, nullptr},
    {"SilentKeyWithoutManifest", "/S ", 0, 0, kUntouched, 1603, [](Install& t) { t.manifest = false; }, nullptr, nullptr},
    {"UnknownSwitch", "/S /x ", 0, 0, kUntouched, 87, nullptr, nullptr, nullptr},
    {"DoubledSilentSwitchShowsNoUsage", "/S/S ", 0, 0, kUntouched, 87, nullptr, nullptr, nullptr},
    {"SilentSwitchAfterTheName", "", 0, 0, kCompleted, 0, nullptr, nullptr, nullptr, nullptr, " /S"},
    // Relative to the program folder; refused without a window, as /plan never shows one.
    {"PlanWithTheManifestAsLog", "/plan /log=RemoverLifePlanWithTheManifestAsLog.xml ", 0, 0, kUntouched, 87,
     nullptr, nullptr, nullptr, nullptr, "", true},
    {"QuotedNameAndLog", "\"/log=C:\\remover-tests\\lifecycle-quoted.log\" /S \"", 0, 0, kCompleted, 0, nullptr, nullptr,
     [](Install&) {
         EXPECT_NE(testwin::ReadFile("C:\\remover-tests\\lifecycle-quoted.log").find("exit code 0"), std::string::npos);
     },
     nullptr, "\""},
    // The caller's current folder is the program folder: the program leaves it first.
    {"StartedInsideItsOwnFolder", "/S ", 0, 0, kCompleted, 0, nullptr, nullptr, nullptr, nullptr, "", true},
    {"LogInAMissingFolder", "", IDOK, 0, kUntouched, 1622, nullptr, nullptr, nullptr, nullptr,
     " /log=\"C:\\remover-tests\\no folder\\x.log\""},
    {"PlanWithAMissingModuleProgram", "/plan ", 0, 0, kUntouched, 1603,
     [](Install& t) { DeleteFileW(Wide(t.app + "\\bin\\unins.exe").c_str()); }, nullptr, nullptr},
    // A silent run holds the product and has no window to bring forward: the dialog run says so.
    {"DialogWhileASilentRunHoldsTheProduct", "", IDOK, 0, kUntouched, 1618,
     [](Install& t) {
         t.param = "sleep=15000";
         t.WriteManifest();
         t.manifest = false;  // written once, before the silent run reads it
         t.StartOther(t.app + "\\remover.exe", "/S " + t.ManifestName(), "begin " + t.app + "\\bin\\unins.exe");
     },
     nullptr, [](Install& t) { ASSERT_TRUE(t.other->WaitForExit(60000)); EXPECT_EQ(t.other->ExitCode(), 0u); }},
    // The copy's switch by hand, with made-up handles or this process itself (-1): 87 at once.
    {"SelfRemovalSwitchByHand", "/~selfremoval=4 8 12 16 ", 0, 0, kUntouched, 87, nullptr, nullptr, nullptr},
    {"SelfRemovalSwitchOnItself", "/~selfremoval=4294967295 4 8 12 ", 0, 0, kUntouched, 87, nullptr, nullptr, nullptr},
    {"SecondStartForTheSameProduct", "", IDCANCEL, 0, kUntouched, 1602, nullptr, nullptr, nullptr,
     [](Install& t, testwin::Program& first) {
         // The same product whatever the case of its manifest's name, as the file system sees it.
         std::string lower = t.ManifestName();
         for (char& ch : lower) ch = static_cast<char>(tolower(static_cast<unsigned char>(ch)));
         testwin::Program second(t.app + "\\remover.exe", lower);
         ASSERT_TRUE(second.WaitForExit());
         EXPECT_EQ(second.ExitCode(), 1618u);
         EXPECT_FALSE(first.WaitForExit(0)) << "the first removal still runs";
     }},
};

// Drives one case through the real program and checks how it ends.
void Drive(const Case& c, Install& t) {
    if (c.plant) c.plant(t);
    if (::testing::Test::HasFatalFailure()) return;
    if (t.manifest) t.WriteManifest();
    const auto before = Snapshot(t.app);

    testwin::Program program(t.app + "\\remover.exe", c.switches + t.ManifestName() + c.trailing,
                             c.fromProgramFolder ? t.app : std::string(), t.job, t.output);
    ASSERT_TRUE(program.started());
    HWND dialog = nullptr;
    if (!c.press && c.atDialog) c.atDialog(t, program);  // while a silent run works
    if (c.press) {
        ASSERT_NE(dialog = program.WaitForDialog(), nullptr);
        if (c.atDialog) c.atDialog(t, program);
        testwin::PressButton(dialog, c.press);
    } else {
        bool shown = false;
        while (!program.WaitForExit(20)) shown = shown || !program.TopLevelWindows().empty();
        EXPECT_FALSE(shown) << "a silent run shows no window";
    }
    if (c.closeBox) {
        HWND ask = program.WaitForDialog("卸载", 20000, dialog);
        ASSERT_NE(ask, nullptr) << "running programs are named";
        EXPECT_EQ(testwin::ItemText(ask, 0xFFFF), "以下程序正在运行。请关闭它们后点击“重试”；点击“取消”则不删除任何内容。\n\n" +
                                                      t.app + "\\client.exe");
        EXPECT_TRUE(GetDlgItem(ask, IDRETRY) && GetDlgItem(ask, IDCANCEL));
        if (c.closeBox == IDRETRY) t.other.reset();  // the user closes it
        testwin::PressButton(ask, c.closeBox);
    }
    if (c.press && c.ending != kUntouched) {
        const std::string failed = t.display + "卸载未完成，以下项目未能删除：\n\n" + t.app + "\\" + t.leftShown,
                          again = "\n\n卸载程序和卸载信息已保留：关闭占用这些项目的程序后，可以再次卸载。";
        const std::string texts[] = {"", t.display + kDone, t.display + kDone + "\n\n部分文件正在使用中，将在计算机重新启动后删除。",
                                     failed + again, failed + "\n\n以下卸载程序不存在，未能运行：\n\n" + t.app + "\\gone.exe" + again};
        HWND box = program.WaitForDialog(c.ending >= kIncomplete ? "卸载未完成" : "卸载成功", 60000, dialog);
        ASSERT_NE(box, nullptr) << "the closing message appears";
        EXPECT_EQ(testwin::ItemText(box, 0xFFFF), texts[c.ending]);
        EXPECT_EQ(testwin::ShowsIcon(box), c.ending >= kIncomplete) << "a warning icon exactly when something stays";
        // Checked while the message shows: everything is done by then, and the copy
        // that removes the program once it has ended has started.
        t.ExpectRemoved(c.ending >= kIncomplete);
        if (c.ending == kCompleted || c.ending == kRestart) EXPECT_TRUE(TempCopyLeft());
        t.ExpectSentinels();
        if (c.atMessage) c.atMessage(t);
        testwin::PressButton(box, IDOK);
    }
    ASSERT_TRUE(program.WaitForExit(30000));
    t.Ended();
    EXPECT_EQ(program.ExitCode(), c.exitCode);
    if (c.ending == kUntouched) {
        EXPECT_EQ(Snapshot(t.app), before) << "nothing removed";
        EXPECT_TRUE(t.ShortcutsAndKeyThere());
    }
    if (c.after) c.after(t);  // a rerun finishes what an interrupted or incomplete run left
    if (c.ending != kUntouched && c.ending != kRestart) {
        t.ExpectGoneAfterExit();
        EXPECT_FALSE(PathExists(t.desktop + "\\" + t.product + ".lnk") || KeyExists(t.key));
    }
    t.ExpectSentinels();
}

class Lifecycle : public ::testing::TestWithParam<Case> {};

TEST_P(Lifecycle, EndsAsItShould) {
    Install t(GetParam().name, GetParam().product);
    Drive(GetParam(), t);
}

INSTANTIATE_TEST_SUITE_P(Cases, Lifecycle, ::testing::ValuesIn(kCases));

// Two identical installations, one removed with OK and one with /S, end the same.
TEST(LifecycleRuns, SilentLeavesWhatOkLeaves) {
    std::map<std::string, long long> ends[2];
    for (const Case* c : {&kRemoved, &kSilent}) {
        Install t("SilentOrOk");
        Drive(*c, t);
        std::map<std::string, long long>& end = ends[c == &kSilent];
        for (const std::string& root : {t.base, t.desktop, t.programs}) {
            for (const auto& entry : Snapshot(root)) end[root + "\\" + entry.first] = entry.second;
        }
        for (const std::string& key : {t.key, t.key + "\\Sub", t.key + "Other"}) end[key] = KeyExists(key);
    }
    EXPECT_EQ(ends[0], ends[1]);
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

// /plan on the README's manifest, its standard output redirected to a file.
TEST(LifecycleRuns, PlanListsWhatOkWouldDoAndTouchesNothing) {
    Install t("Plan", "Foo");
    t.WriteManifest();
    const auto before = Snapshot(t.app);
    DWORD code = STILL_ACTIVE;
    PlanOutput(t, "Foo.xml", &code);
    EXPECT_EQ(code, 0u);

    std::string plan = Replaced(Replaced(testwin::ReadFile(t.base + "\\plan.txt"), "\r", ""), t.base, "<folder>");
    plan = Replaced(Replaced(plan, t.desktop, "<Desktop>"), t.programs, "<Programs>");
    EXPECT_EQ(plan, testwin::ReadFile(testwin::TestProgramFolder() + "\\typical_plan.txt"));
    EXPECT_EQ(Snapshot(t.app), before);
    EXPECT_TRUE(t.ShortcutsAndKeyThere());
    t.ExpectSentinels();
}

}  // namespace
