// The rules that compose the removal plan.
#include <gtest/gtest.h>

#include "plan/command_line.h"
#include "plan/removal_plan.h"
#include "platform/text.h"
#include "tests/fake_platform.h"

namespace {

const char kFolder[] = "C:\\Apps\\Foo";
const char kUninstall[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

TEST(ProgramFolder, CutAtLastBackslash) {
    EXPECT_EQ(ProgramFolderOf("C:\\Apps\\Foo\\remover.exe"), "C:\\Apps\\Foo");
    EXPECT_EQ(ProgramFolderOf("D:\\remover.exe"), "D:");
    EXPECT_EQ(ProgramFolderOf("\\\\server\\share\\remover.exe"), "\\\\server\\share");
    fake::FakePlatform os;
    os.moduleFile = "C:\\Program Files\\Foo Client\\remover.exe";
    EXPECT_EQ(MakeRunContext(os, "Foo.xml").programFolder, "C:\\Program Files\\Foo Client");
}

TEST(ManifestPathAndKey, ArgumentUsedVerbatim) {
    EXPECT_EQ(ManifestPath(kFolder, "Foo.xml"), "C:\\Apps\\Foo\\Foo.xml");
    EXPECT_EQ(ManifestPath("D:", "Foo.xml"), "D:\\Foo.xml");
    EXPECT_EQ(ManifestPath(kFolder, "sub\\Foo.xml"), "C:\\Apps\\Foo\\sub\\Foo.xml");
    EXPECT_EQ(ManifestPath(kFolder, "D:\\m\\Foo.xml"), "C:\\Apps\\Foo\\D:\\m\\Foo.xml");
    EXPECT_EQ(ManifestPath(kFolder, "\"Foo.xml\""), "C:\\Apps\\Foo\\\"Foo.xml\"");
    EXPECT_EQ(ManifestPath(kFolder, "Foo.xml  "), "C:\\Apps\\Foo\\Foo.xml  ");
}

TEST(ManifestPathAndKey, ProductIsTheFileNameUpToItsLastFullStop) {
    EXPECT_EQ(ProductName("Foo.xml"), "Foo");
    EXPECT_EQ(ProductName("Foo.Pro.xml"), "Foo.Pro");
    EXPECT_EQ(ProductName("Foo"), "");
    EXPECT_EQ(ProductName(""), "");
    EXPECT_EQ(ProductName("\"Foo.xml\""), "\"Foo");
    // Any folder part names where the manifest lies, never another product.
    EXPECT_EQ(ProductName("sub\\Foo.xml"), "Foo");
    EXPECT_EQ(ProductName(".\\Foo.xml"), "Foo");
    EXPECT_EQ(ProductName("..\\x/Foo.xml"), "Foo");
    EXPECT_EQ(ProductName("D:\\m\\Foo.xml"), "Foo");
    EXPECT_EQ(ProductName("v1.0\\Foo"), "");
    EXPECT_EQ(ProductName(".xml"), "");
}

TEST(ManifestPathAndKey, KeyBelowUninstall) {
    EXPECT_EQ(ProductKey("Foo"), std::string(kUninstall) + "Foo");
    EXPECT_EQ(ProductKey(""), kUninstall);
    EXPECT_EQ(ProductKey("sub\\Foo"), std::string(kUninstall) + "sub\\Foo");
}

TEST(ModuleCommand, QuotedProgramThenParameter) {
    fake::FakePlatform os;
    os.AddFile("C:\\Program Files\\Foo Client\\bin dir\\unins.exe");
    os.AddFile("C:\\Apps\\Foo\\setup.exe");
    os.AddFile("C:\\Apps\\Foo\\a b.exe");
    struct Case {
        const char* folder;
        const char* uninstall;
        const char* param;
        const char* dir;
        const char* command;
    } cases[] = {
        {kFolder, "u.exe", "", "", "\"C:\\Apps\\Foo\\u.exe\""},
        {kFolder, "u.exe", "-x y", "", "\"C:\\Apps\\Foo\\u.exe\" \"-x y\""},
        {kFolder, "u.exe", "", "bin", "\"C:\\Apps\\Foo\\bin\\u.exe\""},
        {kFolder, "u.exe", "a\"b", "x\\y", "\"C:\\Apps\\Foo\\x\\y\\u.exe\" \"a\"b\""},
        {kFolder, "u.exe", "%s", "%d", "\"C:\\Apps\\Foo\\%d\\u.exe\" \"%s\""},
        // Blanks in the folders never split the program.
        {"C:\\Program Files\\Foo Client", "unins.exe", "/S", "bin dir",
         "\"C:\\Program Files\\Foo Client\\bin dir\\unins.exe\" \"/S\""},
        // Arguments inside `uninstall`: split only when no file has the whole name.
        {kFolder, "setup.exe /remove /quiet", "", "", "\"C:\\Apps\\Foo\\setup.exe\" /remove /quiet"},
        {kFolder, "setup.exe -u", "x", "", "\"C:\\Apps\\Foo\\setup.exe\" -u \"x\""},
        {kFolder, "a b.exe", "", "", "\"C:\\Apps\\Foo\\a b.exe\""},
        {kFolder, "a b.exe c", "", "", "\"C:\\Apps\\Foo\\a b.exe\" c"},
        {kFolder, "missing.exe /x", "", "", "\"C:\\Apps\\Foo\\missing.exe /x\""},
        {kFolder, " setup.exe", "", "", "\"C:\\Apps\\Foo\\ setup.exe\""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ModuleCommand(os, c.folder, c.uninstall, c.param, c.dir), c.command) << c.uninstall;
    }
}

// One rule for every command: quoted, exactly that file; unquoted, the whole line
// or else its first run of words that names a file; a bare name is the system's.
TEST(ModuleCommand, TheProgramACommandRuns) {
    fake::FakePlatform os;
    os.AddFile("C:\\Program Files\\Bar\\unins.exe");
    os.AddFile("C:\\Apps\\a");
    os.AddFile("C:\\Apps\\a b.exe");
    const std::pair<const char*, const char*> cases[] = {
        {"\"C:\\Program Files\\Bar\\gone.exe\" /S", "C:\\Program Files\\Bar\\gone.exe"},
        {"C:\\Program Files\\Bar\\unins.exe /S /log=C:\\x y", "C:\\Program Files\\Bar\\unins.exe"},
        {"C:\\Apps\\a b.exe", "C:\\Apps\\a b.exe"},
        {"C:\\Apps\\a b.exe /x", "C:\\Apps\\a"},
        {"C:\\Program Files\\Bar\\gone.exe /S", "C:\\Program"},
        {"MsiExec.exe /X{1234}", "MsiExec.exe"},
    };
    for (const auto& c : cases) EXPECT_EQ(ProgramOfCommand(os, c.first).path, c.second) << c.first;
}

TEST(CharacterRules, Utf8NamesAreCutAndJudgedByCharacter) {
    // 運 and 誠 end in 0x5C in GBK; look-alikes of '.' and '\\' are ordinary characters.
    EXPECT_EQ(ProgramFolderOf("C:\\好運\\誠\\remover.exe"), "C:\\好運\\誠");
    EXPECT_EQ(ProgramFolderOf("C:\\．．\\remover.exe"), "C:\\．．");
    EXPECT_EQ(ProductName("好運.xml"), "好運");
    EXPECT_EQ(ProductName("好運．xml"), "");
    EXPECT_EQ(ProductName("한국어.🙂.xml"), "한국어.🙂");
    for (const char* inside : {"好運", "錦\\誠", "．．", "．．＼．．＼x", "∖..x", "🙂", "한국어"}) {
        EXPECT_TRUE(StaysInsideFolder(inside)) << inside;
    }
    for (const char* outside : {"好運\\..", "..\\好運", "好運:流"}) EXPECT_FALSE(StaysInsideFolder(outside)) << outside;
}


class Shortcut : public ::testing::Test {
protected:
    void Add(const std::string& root, const std::string& group, const std::string& link) {
        AddShortcut(os, root, group, link, plan);
    }
    std::string Programs() { return os.shellFolders[platform::ShellFolder::kPrograms]; }
    std::string Desktop() { return os.shellFolders[platform::ShellFolder::kDesktop]; }
    size_t Entries() const { return plan.shortcutFiles.size() + plan.shortcutFolders.size(); }

    fake::FakePlatform os;
    RemovalPlan plan;
};

TEST_F(Shortcut, ProgramsWithGroupIsAFolderOnly) {
    Add("PROGRAMS", "Foo", "Foo");
    ASSERT_EQ(plan.shortcutFolders.size(), 1u);
    EXPECT_EQ(plan.shortcutFolders[0], Programs() + "\\Foo");
    EXPECT_TRUE(plan.shortcutFiles.empty());
}

TEST_F(Shortcut, ProgramsWithoutGroupIsALink) {
    Add("PROGRAMS", "", "Foo");
    ASSERT_EQ(plan.shortcutFiles.size(), 1u);
    EXPECT_EQ(plan.shortcutFiles[0], Programs() + "\\Foo.lnk");
    EXPECT_TRUE(plan.shortcutFolders.empty());
}

TEST_F(Shortcut, DesktopIgnoresGroup) {
    Add("DESKTOP", "X", "Foo");
    Add("DESKTOP", "..", "Bar");
    ASSERT_EQ(plan.shortcutFiles.size(), 2u);
    EXPECT_EQ(plan.shortcutFiles[0], Desktop() + "\\Foo.lnk");
    EXPECT_EQ(plan.shortcutFiles[1], Desktop() + "\\Bar.lnk");
    EXPECT_TRUE(plan.shortcutFolders.empty());
}

TEST_F(Shortcut, IncompleteOrUnknownAddsNothing) {
    Add("PROGRAMS", "Foo", "");
    Add("", "Foo", "Foo");
    Add("programs", "", "Foo");
    Add("Desktop", "", "Foo");
    Add("STARTUP", "", "Foo");
    EXPECT_EQ(Entries(), 0u);
    // An unknown root never borrows the folder of an earlier lookup.
    Add("DESKTOP", "", "A");
    Add("COMMON", "", "B");
    EXPECT_EQ(Entries(), 1u);
}

TEST_F(Shortcut, FailedLookupAddsNothing) {
    os.failingShellFolders.insert(platform::ShellFolder::kDesktop);
    Add("DESKTOP", "", "Foo");
    EXPECT_EQ(Entries(), 0u);
    os.shellFolders[platform::ShellFolder::kPrograms] = "";
    Add("PROGRAMS", "G", "Foo");
    EXPECT_EQ(Entries(), 0u);
}

TEST_F(Shortcut, LookedUpAfreshEachTime) {
    Add("DESKTOP", "", "A");
    os.shellFolders[platform::ShellFolder::kDesktop] = "D:\\Other";
    Add("DESKTOP", "", "B");
    EXPECT_EQ(plan.shortcutFiles[1], "D:\\Other\\B.lnk");
}

TEST_F(Shortcut, ValuesKeptAsRead) {
    Add("PROGRAMS", "A\\B", "x");
    Add("PROGRAMS", "", "Foo.lnk");
    Add("PROGRAMS", "", "Sub/Foo");
    ASSERT_EQ(plan.shortcutFolders.size(), 1u);
    EXPECT_EQ(plan.shortcutFolders[0], Programs() + "\\A\\B");
    ASSERT_EQ(plan.shortcutFiles.size(), 2u);
    EXPECT_EQ(plan.shortcutFiles[0], Programs() + "\\Foo.lnk.lnk");
    EXPECT_EQ(plan.shortcutFiles[1], Programs() + "\\Sub/Foo.lnk");
}

TEST_F(Shortcut, ValuesLeavingTheFolderRefused) {
    for (const char* bad : {"..", ".", "..\\..", "A\\..\\..", "../Startup", "A\\", "\\A", "A\\\\B", "C:\\Windows",
                            "C:evil", "\\\\server\\share", "... ", ". .", " ", "A\\ \\B", "file:stream"}) {
        SCOPED_TRACE(bad);
        Add("PROGRAMS", bad, "Foo");
        Add("PROGRAMS", "", bad);
        Add("DESKTOP", "", bad);
        EXPECT_EQ(Entries(), 0u);
    }
}

TEST(StaysInsideFolder, AcceptsOrdinaryNames) {
    for (const char* good : {"Foo", "Foo Client", "A\\B", "a.b", "..a", "a..", "Foo v1.0", "x/y", "卸载"}) {
        EXPECT_TRUE(StaysInsideFolder(good)) << good;
    }
}

}  // namespace
