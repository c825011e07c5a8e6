// The real remover.exe, started with a manifest and worked through its windows.
#include <gtest/gtest.h>

#include "tests/win/driver.h"

namespace {

class Dialog : public ::testing::Test {
protected:
    Dialog() : app(testwin::ScratchFolder(std::string("dialog\\") + Name()) + "\\app") {
        testwin::MakeFolders(app);
        testwin::CopyTo(testwin::BuildFolder() + "\\remover.exe", app + "\\remover.exe");
        testwin::WriteFile(app + "\\data\\keep.dat", "payload");
    }
    static std::string Name() { return ::testing::UnitTest::GetInstance()->current_test_info()->name(); }
    void Manifest(const std::string& body, const std::string& name = "Foo.xml") {
        testwin::WriteFile(app + "\\" + name, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n" + body);
    }
    // Starts the program, expects its dialog, checks the texts, cancels, and checks
    // that the process ended with nothing changed.
    void ExpectDialogThenCancel(const std::string& arguments, const std::string& caption, const std::string& prompt) {
        const auto before = testwin::Snapshot(app);
        testwin::Program program(app + "\\remover.exe", arguments);
        ASSERT_TRUE(program.started());
        HWND dialog = program.WaitForDialog();
        ASSERT_NE(dialog, nullptr) << "the confirmation dialog appears";
        EXPECT_EQ(testwin::WindowText(dialog), caption);
        EXPECT_EQ(testwin::ItemText(dialog, 1000), prompt);
        EXPECT_EQ(program.TopLevelWindows().size(), 1u) << "no error box of its own";
        testwin::PressButton(dialog, IDCANCEL);
        EXPECT_TRUE(program.WaitForExit()) << "the process ends when the dialog closes";
        EXPECT_EQ(testwin::Snapshot(app), before) << "Cancel touches nothing";
    }

    std::string app;
};

const std::string kResourceCaption = "卸载";
const std::string kResourcePrompt = "提示信息";

TEST_F(Dialog, ShowsProductAndCancelTouchesNothing) {
    Manifest("<M><Setup DisplayName=\"Foo Client\"/><Module uninstall=\"u.exe\"/></M>");
    ExpectDialogThenCancel("Foo.xml", "Foo Client卸载向导", "　　您是否确定要删除Foo Client及其所有组件？");
}

TEST_F(Dialog, ChineseDisplayName) {
    Manifest("<M><Setup DisplayName=\"福客户端\"/></M>");
    ExpectDialogThenCancel("Foo.xml", "福客户端卸载向导", "　　您是否确定要删除福客户端及其所有组件？");
}

TEST_F(Dialog, OkIsDefaultAndHasFocus) {
    Manifest("<M><Setup DisplayName=\"Foo\"/></M>");
    testwin::Program program(app + "\\remover.exe", "Foo.xml");
    HWND dialog = program.WaitForDialog();
    ASSERT_NE(dialog, nullptr);
    const LRESULT def = SendMessageW(dialog, DM_GETDEFID, 0, 0);
    EXPECT_EQ(HIWORD(def), DC_HASDEFID);
    EXPECT_EQ(LOWORD(def), IDOK);
    GUITHREADINFO gui{};
    gui.cbSize = sizeof(gui);
    ASSERT_TRUE(GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &gui));
    EXPECT_EQ(gui.hwndFocus, GetDlgItem(dialog, IDOK));
    EXPECT_EQ(testwin::ItemText(dialog, IDOK), "确定");
    EXPECT_EQ(testwin::ItemText(dialog, IDCANCEL), "取消");
    const LONG style = GetWindowLongW(dialog, GWL_STYLE);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_FALSE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX));
    EXPECT_TRUE(GetWindowLongW(dialog, GWL_EXSTYLE) & WS_EX_APPWINDOW);
    // The close box ends it like Cancel.
    PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_TRUE(program.WaitForExit());
}

TEST_F(Dialog, EscapeEndsLikeCancel) {
    Manifest("<M><Setup DisplayName=\"Foo\"/></M>");
    const auto before = testwin::Snapshot(app);
    testwin::Program program(app + "\\remover.exe", "Foo.xml");
    HWND dialog = program.WaitForDialog();
    ASSERT_NE(dialog, nullptr);
    HWND ok = GetDlgItem(dialog, IDOK);
    PostMessageW(ok, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    PostMessageW(ok, WM_KEYUP, VK_ESCAPE, 0xC0010001);
    EXPECT_TRUE(program.WaitForExit());
    EXPECT_EQ(testwin::Snapshot(app), before);
}

TEST_F(Dialog, ResourceTextsWithoutArgumentOrManifest) {
    ExpectDialogThenCancel("", kResourceCaption, kResourcePrompt);
    ExpectDialogThenCancel("Missing.xml", kResourceCaption, kResourcePrompt);
}

TEST_F(Dialog, BadManifestsStillShowTheDialog) {
    Manifest("", "Empty.xml");
    testwin::WriteFile(app + "\\Binary.xml", std::string("\0\x01\x02\xFF\xFE\x80garbage", 14));
    Manifest("<M><Setup DisplayName=\"Cut", "Cut.xml");
    ExpectDialogThenCancel("Empty.xml", kResourceCaption, kResourcePrompt);
    ExpectDialogThenCancel("Binary.xml", kResourceCaption, kResourcePrompt);
    ExpectDialogThenCancel("Cut.xml", kResourceCaption, kResourcePrompt);
}

TEST_F(Dialog, OddArgumentsAndLongValues) {
    const std::string longName(6000, 'L');
    Manifest("<M><Setup DisplayName=\"" + longName + "\"/><Module uninstall=\"" + std::string(5000, 'u') +
             "\"/></M>");
    ExpectDialogThenCancel("Foo.xml", longName + "卸载向导",
                           "　　您是否确定要删除" + longName + "及其所有组件？");
    // Quotes group and are no part of the name; an absolute path is appended to the folder.
    ExpectDialogThenCancel("\"Foo.xml\"", longName + "卸载向导", "　　您是否确定要删除" + longName + "及其所有组件？");
    ExpectDialogThenCancel("C:\\elsewhere\\Foo.xml", kResourceCaption, kResourcePrompt);
    testwin::WriteFile(app + "\\sub dir\\Foo.xml",
                       "<?xml version=\"1.0\"?><M><Setup DisplayName=\"Sub\"/></M>");
    ExpectDialogThenCancel("sub dir\\Foo.xml", "Sub卸载向导", "　　您是否确定要删除Sub及其所有组件？");
}

}  // namespace
