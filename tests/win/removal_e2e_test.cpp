// OK and Cancel on a real sample installation, through the program's own windows.
#include <gtest/gtest.h>
#include <shlobj.h>

#include "tests/win/driver.h"

namespace {

using testwin::KeyExists;
using testwin::PathExists;
using testwin::ShellFolder;
using testwin::WriteFile;

const std::string kUninstall = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

class Removal : public ::testing::Test {
protected:
    Removal()
        : name(std::string("RemoverTest") + ::testing::UnitTest::GetInstance()->current_test_info()->name()),
          base(testwin::ScratchFolder("e2e\\" + name)),
          app(base + "\\app"),
          log(base + "\\log.txt"),
          desktop(ShellFolder(CSIDL_DESKTOP)),
          programs(ShellFolder(CSIDL_PROGRAMS)),
          key(kUninstall + name) {
        SetEnvironmentVariableW(L"REMOVER_TEST_LOG", testwin::Wide(log).c_str());
        const std::string build = testwin::BuildFolder();
        const std::string child = testwin::TestProgramFolder() + "\\test_child.exe";
        testwin::MakeFolders(app + "\\bin");
        testwin::CopyTo(build + "\\remover.exe", app + "\\remover.exe");
        testwin::CopyTo(child, app + "\\bin\\unins.exe");
        testwin::CopyTo(child, app + "\\second.exe");
        WriteFile(app + "\\data\\x\\y.txt", "data");
        WriteFile(app + "\\readonly.txt", "ro");
        SetFileAttributesW(testwin::LongPath(app + "\\readonly.txt").c_str(), FILE_ATTRIBUTE_READONLY);
        WriteFile(base + "\\sibling\\keep.txt", "keep");
        WriteFile(desktop + "\\" + name + ".lnk", "link");
        WriteFile(desktop + "\\" + name + "-other.lnk", "other");
        WriteFile(programs + "\\" + name + " Group\\Foo.lnk", "link");
        WriteFile(programs + "\\" + name + " Group\\sub\\notes.txt", "notes");
        WriteFile(programs + "\\" + name + ".lnk", "not listed");
        EXPECT_TRUE(testwin::MakeKey(key, "Foo Client"));
        EXPECT_TRUE(testwin::MakeKey(key + "\\Sub", "nested"));
        EXPECT_TRUE(testwin::MakeKey(key + "Other", "another product"));
        WriteFile(app + "\\" + name + ".xml",
                  "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
                  "<Install><Setup DisplayName=\"Foo Client\"/>\r\n"
                  "<Module uninstall=\"unins.exe\" dir=\"bin\" uninstallparam=\"sleep=400\">\r\n"
                  "  <ShortCut root=\"DESKTOP\" link=\"" + name + "\"/>\r\n"
                  "  <ShortCut root=\"PROGRAMS\" group=\"" + name + " Group\" link=\"Foo\"/>\r\n"
                  "</Module>\r\n"
                  "<Module uninstall=\"second.exe\" uninstallparam=\"exit=7\"/>\r\n"
                  "</Install>\r\n");
    }
    ~Removal() override {
        SetEnvironmentVariableW(L"REMOVER_TEST_LOG", nullptr);
        DeleteFileW(testwin::Wide(desktop + "\\" + name + "-other.lnk").c_str());
        DeleteFileW(testwin::Wide(programs + "\\" + name + ".lnk").c_str());
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, testwin::Wide(key + "Other").c_str());
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, testwin::Wide(key).c_str());
    }
    void ExpectSentinels() {
        EXPECT_EQ(testwin::ReadFile(base + "\\sibling\\keep.txt"), "keep");
        EXPECT_EQ(testwin::ReadFile(desktop + "\\" + name + "-other.lnk"), "other");
        EXPECT_EQ(testwin::ReadFile(programs + "\\" + name + ".lnk"), "not listed");
        EXPECT_TRUE(KeyExists(key + "Other"));
        EXPECT_TRUE(PathExists(programs));
        EXPECT_TRUE(PathExists(desktop));
    }

    std::string name, base, app, log, desktop, programs, key;
};

TEST_F(Removal, OkRemovesTheProductAndNothingElse) {
    testwin::Program program(app + "\\remover.exe", name + ".xml");
    HWND dialog = program.WaitForDialog();
    ASSERT_NE(dialog, nullptr);
    testwin::PressButton(dialog, IDOK);

    // The second module's uninstaller fails (exit 7): everything else still goes but
    // the way to run the removal again, and the message says what did not.
    const std::string bin = app + "\\bin\\unins.exe", second = app + "\\second.exe";
    HWND box = program.WaitForDialog("卸载未完成", 60000);
    ASSERT_NE(box, nullptr) << "the closing message appears";
    const std::string text = testwin::ItemText(box, 0xFFFF);
    EXPECT_EQ(text.find("Foo Client卸载未完成，以下项目未能删除："), 0u) << text;
    EXPECT_NE(text.find(second), std::string::npos) << text;
    EXPECT_EQ(text.find(bin), std::string::npos) << text;
    EXPECT_NE(GetDlgItem(box, IDOK), nullptr);
    EXPECT_EQ(GetDlgItem(box, IDCANCEL), nullptr) << "one OK button only";
    EXPECT_EQ(GetWindow(box, GW_OWNER), dialog) << "owned by the confirmation dialog";

    // Everything is done before the message shows.
    EXPECT_EQ(testwin::ReadFile(log), "begin " + bin + " | \"" + bin + "\" \"sleep=400\"\n" + "end " + bin + "\n" +
                                          "begin " + second + " | \"" + second + "\" \"exit=7\"\n" + "end " + second +
                                          "\n");
    EXPECT_FALSE(PathExists(desktop + "\\" + name + ".lnk"));
    EXPECT_FALSE(PathExists(programs + "\\" + name + " Group"));
    EXPECT_TRUE(KeyExists(key));
    std::string left;
    for (const auto& entry : testwin::Snapshot(app)) left += entry.first + "\n";
    EXPECT_EQ(left, name + ".xml\nremover.exe\nsecond.exe\n") << "the program, its manifest and the failed uninstaller";
    EXPECT_NE(text.find("卸载程序和卸载信息已保留"), std::string::npos) << text;
    ExpectSentinels();

    testwin::PressButton(box, IDOK);
    ASSERT_TRUE(program.WaitForExit());
    EXPECT_EQ(program.ExitCode(), 1603u) << "something stays: the failed uninstaller's work";
    Sleep(1000);
    EXPECT_TRUE(PathExists(app + "\\remover.exe")) << "kept to run again";
    ExpectSentinels();
}

TEST_F(Removal, CancelChangesNothing) {
    const auto before = testwin::Snapshot(base);
    const auto groupBefore = testwin::Snapshot(programs + "\\" + name + " Group");
    testwin::Program program(app + "\\remover.exe", name + ".xml");
    HWND dialog = program.WaitForDialog();
    ASSERT_NE(dialog, nullptr);
    testwin::PressButton(dialog, IDCANCEL);
    EXPECT_TRUE(program.WaitForExit());
    EXPECT_EQ(testwin::Snapshot(base), before);
    EXPECT_EQ(testwin::Snapshot(programs + "\\" + name + " Group"), groupBefore);
    EXPECT_TRUE(PathExists(desktop + "\\" + name + ".lnk"));
    EXPECT_TRUE(KeyExists(key));
    EXPECT_TRUE(KeyExists(key + "\\Sub"));
    ExpectSentinels();
}

TEST_F(Removal, MissingProgramsAndHugeCommandsStillFinish) {
    WriteFile(app + "\\" + name + ".xml",
              "<?xml version=\"1.0\"?><Install><Setup DisplayName=\"Foo\"/>"
              "<Module uninstall=\"missing.exe\" uninstallparam=\"/s\"/>"
              "<Module uninstall=\"" + std::string(5000, 'x') + ".exe\" dir=\"" + std::string(3000, 'd') + "\"/>"
              "<Module uninstall=\"second.exe\"/></Install>");
    testwin::Program program(app + "\\remover.exe", name + ".xml");
    HWND dialog = program.WaitForDialog();
    ASSERT_NE(dialog, nullptr);
    testwin::PressButton(dialog, IDOK);
    HWND box = program.WaitForDialog("卸载未完成", 60000);
    ASSERT_NE(box, nullptr) << "the closing message appears";
    const std::string text = testwin::ItemText(box, 0xFFFF);
    EXPECT_EQ(text.find("Foo卸载未完成，以下卸载程序不存在，未能运行："), 0u) << text;
    EXPECT_NE(text.find(app + "\\missing.exe"), std::string::npos) << "it names what could not start: " << text;
    EXPECT_NE(testwin::ReadFile(log).find("end " + app + "\\second.exe"), std::string::npos);
    EXPECT_FALSE(KeyExists(key)) << "no rerun could mend it: the product leaves the list";
    ExpectSentinels();
    testwin::PressButton(box, IDOK);
    EXPECT_TRUE(program.WaitForExit());
}

TEST_F(Removal, SecondOkWhileRunningIsIgnored) {
    WriteFile(app + "\\" + name + ".xml",
              "<?xml version=\"1.0\"?><Install><Module uninstall=\"second.exe\" uninstallparam=\"sleep=1500\"/>"
              "</Install>");
    testwin::Program program(app + "\\remover.exe", name + ".xml");
    HWND dialog = program.WaitForDialog();
    ASSERT_NE(dialog, nullptr);
    testwin::PressButton(dialog, IDOK);
    Sleep(500);
    // Clicks and the close box while the uninstaller runs.
    testwin::PressButton(dialog, IDOK);
    testwin::PressButton(dialog, IDCANCEL);
    PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    HWND box = program.WaitForDialog("卸载成功", 60000);
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(IsWindow(dialog)) << "the dialog was not closed under the removal";
    testwin::PressButton(box, IDOK);
    EXPECT_TRUE(program.WaitForExit());
    const std::string logText = testwin::ReadFile(log);
    EXPECT_EQ(logText.find("begin"), logText.rfind("begin")) << "the uninstaller ran once: " << logText;
}

}  // namespace
