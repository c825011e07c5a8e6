// The confirmation dialog's icons and About box, worked from outside like a user.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/win/driver.h"

namespace {

BOOL CALLBACK CollectTexts(HWND child, LPARAM param) {
    reinterpret_cast<std::vector<std::string>*>(param)->push_back(testwin::WindowText(child));
    return TRUE;
}

class Chrome : public ::testing::Test {
protected:
    Chrome() : app(testwin::ScratchFolder("chrome") + "\\app") {
        testwin::MakeFolders(app);
        testwin::CopyTo(testwin::BuildFolder() + "\\remover.exe", app + "\\remover.exe");
        testwin::WriteFile(app + "\\Foo.xml", "<?xml version=\"1.0\"?><M><Setup DisplayName=\"Foo\"/></M>");
    }
    std::string app;
};

TEST_F(Chrome, AboutBoxFromTheSystemMenuCommand) {
    testwin::Program program(app + "\\remover.exe", "Foo.xml");
    HWND dialog = program.WaitForDialog();
    ASSERT_NE(dialog, nullptr);
    for (WPARAM command : {WPARAM(0x0010), WPARAM(0x0013)}) {
        PostMessageW(dialog, WM_SYSCOMMAND, command, 0);
        HWND about = program.WaitForDialog("关于 Drevik");
        ASSERT_NE(about, nullptr) << "command " << command;
        EXPECT_EQ(GetWindow(about, GW_OWNER), dialog);
        EXPECT_FALSE(IsWindowEnabled(dialog)) << "modal over the confirmation dialog";
        std::vector<std::string> texts;
        EnumChildWindows(about, CollectTexts, reinterpret_cast<LPARAM>(&texts));
        EXPECT_NE(std::find(texts.begin(), texts.end(), "Drevik 1.0 版"), texts.end());
        EXPECT_NE(std::find(texts.begin(), texts.end(), "确定"), texts.end());
        EXPECT_EQ(texts.size(), 4u) << "icon, name, copyright, OK";
        testwin::PressButton(about, IDOK);
        for (int i = 0; i < 100 && IsWindow(about); ++i) Sleep(50);
        EXPECT_FALSE(IsWindow(about));
        EXPECT_TRUE(IsWindowVisible(dialog)) << "the confirmation dialog still waits";
        EXPECT_EQ(WaitForSingleObject(OpenProcess(SYNCHRONIZE, FALSE, program.processId()), 0),
                  static_cast<DWORD>(WAIT_TIMEOUT));
    }
    testwin::PressButton(dialog, IDCANCEL);
    EXPECT_TRUE(program.WaitForExit());
}

// Wine 8 answers WM_GETICON and WM_QUERYDRAGICON from another process with a failed
// send, so the icons themselves are checked inside the process (chrome_tests); from
// outside, minimising and painting the iconic window must keep it alive and waiting.
TEST_F(Chrome, MinimisedDialogStillWaits) {
    testwin::Program program(app + "\\remover.exe", "Foo.xml");
    HWND dialog = program.WaitForDialog();
    ASSERT_NE(dialog, nullptr);
    // Under a loaded Wine the first request can arrive before the window settles:
    // ask again each second.
    for (int i = 0; i < 200 && !IsIconic(dialog); ++i) {
        if (i % 20 == 0) PostMessageW(dialog, WM_SYSCOMMAND, SC_MINIMIZE, 0);
        Sleep(50);
    }
    ASSERT_TRUE(IsIconic(dialog));
    RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    PostMessageW(dialog, WM_SYSCOMMAND, SC_RESTORE, 0);
    for (int i = 0; i < 100 && IsIconic(dialog); ++i) Sleep(50);
    EXPECT_FALSE(IsIconic(dialog));
    EXPECT_FALSE(program.WaitForExit(200));
    testwin::PressButton(dialog, IDCANCEL);
    EXPECT_TRUE(program.WaitForExit());
}

}  // namespace
