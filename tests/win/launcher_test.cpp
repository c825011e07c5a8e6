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
        SetEnvironmentVariableW(L"REMOVER_TEST_LOG", testwin::Wide(log).c_str());
    }
    ~Launcher() override { SetEnvironmentVariableW(L"REMOVER_TEST_LOG", nullptr); }
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
    ASSERT_TRUE(testwin::CopyTo(child, folder + "\\my app\\child.exe"));
    uint32_t code = 0;
    EXPECT_EQ(RunAndWait(os, folder + "\\my app\\child.exe \"exit=4\"", code), 0);
    EXPECT_EQ(code, 4u);
    EXPECT_NE(Log().find("begin " + folder + "\\my app\\child.exe"), std::string::npos) << Log();
    // The system tries the shorter name first: "...\my.exe" wins when it exists.
    ASSERT_TRUE(testwin::CopyTo(child, folder + "\\my.exe"));
    EXPECT_EQ(RunAndWait(os, folder + "\\my app\\child.exe \"exit=5\"", code), 0);
    EXPECT_EQ(code, 5u);
    EXPECT_NE(Log().find("begin " + folder + "\\my.exe"), std::string::npos) << Log();
    // Quoted, the path names exactly its file.
    EXPECT_EQ(RunAndWait(os, "\"" + folder + "\\my app\\child.exe\" \"exit=6\"", code), 0);
    EXPECT_EQ(code, 6u);
    EXPECT_NE(Log().find("begin " + folder + "\\my app\\child.exe | \"" + folder + "\\my app\\child.exe\" \"exit=6\""),
              std::string::npos)
        << Log();
}

LRESULT CALLBACK CountingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_APP) {
        SetWindowLongPtrW(window, GWLP_USERDATA, GetWindowLongPtrW(window, GWLP_USERDATA) + 1);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

TEST_F(Launcher, BroadcastingChildDoesNotDeadlockAndInputWaits) {
    WNDCLASSW cls{};
    cls.lpfnWndProc = CountingProc;
    cls.hInstance = GetModuleHandleW(nullptr);
    cls.lpszClassName = L"remover-test-window";
    RegisterClassW(&cls);
    HWND window = CreateWindowW(L"remover-test-window", L"test", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                                cls.hInstance, nullptr);
    ASSERT_NE(window, nullptr);
    ShowWindow(window, SW_SHOWNOACTIVATE);
    PostMessageW(window, WM_APP, 0, 0);

    uint32_t code = 1;
    EXPECT_EQ(RunAndWait(os, child + " broadcast", code), 0);
    EXPECT_EQ(code, 0u);
    EXPECT_NE(Log().find("broadcast answered"), std::string::npos);
    EXPECT_EQ(GetWindowLongPtrW(window, GWLP_USERDATA), 0) << "posted messages wait until the removal is done";
    MSG msg;
    EXPECT_TRUE(PeekMessageW(&msg, window, WM_APP, WM_APP, PM_REMOVE));
    DestroyWindow(window);
}

}  // namespace
