// The launcher with real child processes.
#include <gtest/gtest.h>

#include "platform/platform_win.h"
#include "removal/launcher.h"
#include "tests/win/driver.h"

namespace {

class Launcher : public ::testing::Test {
protected:
    Launcher()
        : folder(testwin::ScratchFolder(std::string("launcher\\") +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name())),
          child(testwin::TestProgramFolder() + "\\test_child.exe"),
          log(folder + "\\log.txt") {
        SetEnvironmentVariableA("REMOVER_TEST_LOG", log.c_str());
    }
    ~Launcher() override { SetEnvironmentVariableA("REMOVER_TEST_LOG", nullptr); }
    std::string Log() const { return testwin::ReadFile(log); }

    std::string folder;
    std::string child;
    std::string log;
    platform::WindowsPlatform& os = platform::Windows();
};

TEST_F(Launcher, ExitCodeReported) {
    uint32_t code = 0;
    EXPECT_EQ(RunAndWait(os, child + " exit=3", code), 0);
    EXPECT_EQ(code, 3u);
    EXPECT_NE(Log().find("end "), std::string::npos) << "returned only after the process ended";
}

TEST_F(Launcher, WaitsForTheProcessToEnd) {
    uint32_t code = 1;
    const DWORD start = GetTickCount();
    EXPECT_EQ(RunAndWait(os, child + " sleep=700", code), 0);
    EXPECT_GE(GetTickCount() - start, 600u);
    EXPECT_EQ(code, 0u);
}

TEST_F(Launcher, MissingProgram) {
    uint32_t code = 0;
    EXPECT_EQ(RunAndWait(os, folder + "\\nothing-here.exe /s", code), -1);
    EXPECT_EQ(code, static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
}

TEST_F(Launcher, UnquotedPathWithBlanksResolvedByTheSystem) {
    testwin::MakeFolders(folder + "\\my app");
    ASSERT_TRUE(CopyFileA(child.c_str(), (folder + "\\my app\\child.exe").c_str(), FALSE));
    uint32_t code = 0;
    EXPECT_EQ(RunAndWait(os, folder + "\\my app\\child.exe \"exit=4\"", code), 0);
    EXPECT_EQ(code, 4u);
    EXPECT_NE(Log().find("begin " + folder + "\\my app\\child.exe"), std::string::npos) << Log();
    // The system tries the shorter name first: "...\my.exe" wins when it exists.
    ASSERT_TRUE(CopyFileA(child.c_str(), (folder + "\\my.exe").c_str(), FALSE));
    EXPECT_EQ(RunAndWait(os, folder + "\\my app\\child.exe \"exit=5\"", code), 0);
    EXPECT_EQ(code, 5u);
    EXPECT_NE(Log().find("begin " + folder + "\\my.exe"), std::string::npos) << Log();
}

LRESULT CALLBACK CountingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_APP) {
        SetWindowLongPtrA(window, GWLP_USERDATA, GetWindowLongPtrA(window, GWLP_USERDATA) + 1);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

TEST_F(Launcher, BroadcastingChildDoesNotDeadlockAndInputWaits) {
    WNDCLASSA cls{};
    cls.lpfnWndProc = CountingProc;
    cls.hInstance = GetModuleHandleA(nullptr);
    cls.lpszClassName = "remover-test-window";
    RegisterClassA(&cls);
    HWND window = CreateWindowA("remover-test-window", "test", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                                cls.hInstance, nullptr);
    ASSERT_NE(window, nullptr);
    ShowWindow(window, SW_SHOWNOACTIVATE);
    PostMessageA(window, WM_APP, 0, 0);

    uint32_t code = 1;
    EXPECT_EQ(RunAndWait(os, child + " broadcast", code), 0);
    EXPECT_EQ(code, 0u);
    EXPECT_NE(Log().find("broadcast answered"), std::string::npos);
    EXPECT_EQ(GetWindowLongPtrA(window, GWLP_USERDATA), 0) << "posted messages wait until the removal is done";
    MSG msg;
    EXPECT_TRUE(PeekMessageA(&msg, window, WM_APP, WM_APP, PM_REMOVE));
    DestroyWindow(window);
}

}  // namespace
