// The launcher, the folder walk and the removal sequence, against the fake platform.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/messages.h"
#include "removal/folder_tree.h"
#include "removal/launcher.h"
#include "removal/ownership.h"
#include "removal/removal_report.h"
#include "removal/removal_sequence.h"
#include "tests/fake_platform.h"

namespace {

using fake::FakePlatform;

size_t IndexOf(const std::vector<std::string>& log, const std::string& entry) {
    auto it = std::find(log.begin(), log.end(), entry);
    return it == log.end() ? std::string::npos : static_cast<size_t>(it - log.begin());
}

TEST(Launcher, ReportsExitCode) {
    FakePlatform os;
    os.exitCodes["C:\\a.exe"] = 3;
    uint32_t code = 99;
    EXPECT_EQ(RunAndWait(os, "C:\\a.exe", code), 0);
    EXPECT_EQ(code, 3u);
    // The handles are closed before the caller is released.
    EXPECT_LT(IndexOf(os.log, "close C:\\a.exe"), os.log.size());
}

TEST(Launcher, ProcessThatCannotStart) {
    FakePlatform os;
    os.startErrors["C:\\missing.exe"] = 2;
    uint32_t code = 0;
    EXPECT_EQ(RunAndWait(os, "C:\\missing.exe", code), -1);
    EXPECT_EQ(code, 2u);
}

TEST(Launcher, ThreadThatCannotStartReturnsAtOnce) {
    FakePlatform os;
    os.threadStartError = 8;  // ERROR_NOT_ENOUGH_MEMORY
    uint32_t code = 0;
    EXPECT_EQ(RunAndWait(os, "C:\\a.exe", code), -1);
    EXPECT_EQ(code, 8u);
    EXPECT_EQ(IndexOf(os.log, "start C:\\a.exe"), std::string::npos);
}

TEST(Launcher, OneAfterAnother) {
    FakePlatform os;
    uint32_t code = 0;
    for (const char* command : {"A", "B", "C"}) RunAndWait(os, command, code);
    os.WaitForWorkers();
    EXPECT_EQ(os.log, (std::vector<std::string>{"start A", "exit A", "close A", "start B", "exit B", "close B",
                                                 "start C", "exit C", "close C"}));
}

class Walk : public ::testing::Test {
protected:
    Walk() {
        os.AddFolder("C:\\T");
        os.AddFile("C:\\T\\a.txt");
        os.AddFile("C:\\T\\ro.txt", ReadOnly());
        os.AddFolder("C:\\T\\one");
        os.AddFolder("C:\\T\\one\\two");
        os.AddFolder("C:\\T\\one\\two\\three");
        os.AddFile("C:\\T\\one\\two\\three\\deep.txt", ReadOnly());
        os.AddFolder("C:\\Other");
        os.AddFile("C:\\Other\\keep.txt");
    }
    static fake::FileNode ReadOnly() {
        fake::FileNode n;
        n.readOnly = true;
        return n;
    }
    std::vector<std::string> Remaining() const {
        std::vector<std::string> left;
        for (const auto& path : os.Paths()) {
            if (path.compare(0, 8, "C:\\Other") != 0) left.push_back(path);
        }
        return left;
    }
    FakePlatform os;
};

TEST_F(Walk, RemovesEverythingDepthFirst) {
    RemoveFolderTree(os, "C:\\T");
    EXPECT_TRUE(Remaining().empty());
    EXPECT_TRUE(os.Exists("C:\\Other\\keep.txt"));
    const size_t three = IndexOf(os.log, "rmdir C:\\T\\one\\two\\three");
    const size_t two = IndexOf(os.log, "rmdir C:\\T\\one\\two");
    const size_t top = IndexOf(os.log, "rmdir C:\\T");
    EXPECT_LT(three, two);
    EXPECT_LT(two, top);
    EXPECT_EQ(top, os.log.size() - 1);
    EXPECT_EQ(IndexOf(os.log, "attributes C:\\T"), std::string::npos) << "the top folder's own attributes stay";
    EXPECT_EQ(IndexOf(os.log, "attributes C:\\T\\."), std::string::npos);
}

TEST_F(Walk, LockedFileStaysWithItsFoldersOnly) {
    fake::FileNode locked = ReadOnly();
    locked.locked = true;
    os.AddFile("C:\\T\\one\\running.exe", locked);
    RemoveFolderTree(os, "C:\\T");
    EXPECT_EQ(Remaining(), (std::vector<std::string>{"C:\\T", "C:\\T\\one", "C:\\T\\one\\running.exe"}));
    EXPECT_TRUE(os.files["C:\\T\\one\\running.exe"].readOnly) << "a file that stays keeps its attributes";
}

TEST_F(Walk, LinkToAFolderIsRemovedNotFollowed) {
    fake::FileNode link;
    link.directory = true;
    link.reparse = true;
    os.AddFile("C:\\T\\link", link);
    os.AddFile("C:\\T\\link\\shown-from-target.txt");  // what the link shows of its target
    RemoveFolderTree(os, "C:\\T");
    EXPECT_TRUE(Remaining().empty());
    EXPECT_EQ(IndexOf(os.log, "find C:\\T\\link\\*"), std::string::npos);
    EXPECT_EQ(IndexOf(os.log, "delete C:\\T\\link\\shown-from-target.txt"), std::string::npos);
    EXPECT_EQ(IndexOf(os.log, "attributes C:\\T\\link"), std::string::npos);
    EXPECT_NE(IndexOf(os.log, "delete link C:\\T\\link"), std::string::npos);
}

// Where the system follows a link it opens (Wine), the link stays, reported, and so
// does the folder that holds it. A folder swapped for a link between the listing and
// entering it is never entered.
TEST_F(Walk, LinkTheSystemFollowsStaysAndSwapsAreNotEntered) {
    RemovalListener quiet;
    RemovalReport report(os, quiet);
    fake::FileNode link;
    link.reparse = true;
    os.AddFile("C:\\T\\file-link", link);
    os.linksOpenedAsThemselves = false;
    os.beforeOpen = [this](const std::string& path) {
        if (path != "C:\\T\\one\\two") return;
        os.files[path].reparse = true;  // now a link, showing what lies outside
        os.AddFile(path + "\\victim.txt");
    };
    RemoveFolderTree(os, "C:\\T", &report);
    EXPECT_TRUE(os.Exists("C:\\T\\one\\two\\victim.txt"));
    EXPECT_EQ(IndexOf(os.log, "find C:\\T\\one\\two\\*"), std::string::npos);
    const RemovalOutcome outcome = report.Outcome(false);
    EXPECT_EQ(outcome.left, (std::vector<std::string>{"C:\\T\\file-link", "C:\\T\\one\\two", "C:\\T\\one", "C:\\T"}));
    EXPECT_EQ(outcome.exitCode, kExitIncomplete);
}

TEST_F(Walk, TopFolderThatIsALinkIsNotEmptied) {
    fake::FileNode link;
    link.directory = true;
    link.reparse = true;
    os.AddFolder("C:\\");
    os.AddFile("C:\\Group", link);
    os.AddFile("C:\\Group\\shown-from-target.txt");
    RemoveFolderTree(os, "C:\\Group");
    EXPECT_EQ(IndexOf(os.log, "find C:\\Group\\*"), std::string::npos);
    EXPECT_EQ(IndexOf(os.log, "delete C:\\Group\\shown-from-target.txt"), std::string::npos);
    EXPECT_NE(IndexOf(os.log, "delete link C:\\Group"), std::string::npos);
}

TEST_F(Walk, FileMissingOrEmptyPath) {
    RemoveFolderTree(os, "C:\\T\\a.txt");
    EXPECT_TRUE(os.Exists("C:\\T\\a.txt"));
    RemoveFolderTree(os, "C:\\Nothing");
    os.log.clear();
    RemoveFolderTree(os, "");
    EXPECT_EQ(os.log, (std::vector<std::string>{"open "})) << "an empty path never enumerates";
    os.AddFolder("C:\\Empty");
    RemoveFolderTree(os, "C:\\Empty");
    EXPECT_FALSE(os.Exists("C:\\Empty"));
}

TEST_F(Walk, ExceptionAbandonsTheWalk) {
    os.throwOnEnumerate = "C:\\T\\one\\two";
    EXPECT_THROW(RemoveFolderTree(os, "C:\\T"), std::bad_alloc);
    EXPECT_TRUE(os.Exists("C:\\T\\one\\two\\three\\deep.txt"));
}

// Ids decide where both sides have one: another folder put at the same path since
// is not the same. A leftover is told by its name and its path's length before its error.
TEST(Guards, SameFileByIdsAndLeftoversByCause) {
    platform::FileIdentity a{true, 7, 10, 0, 0, true, "C:\\Apps\\Foo"}, b{true, 7, 11, 0, 0, true, "C:\\Apps\\Foo"};
    EXPECT_FALSE(platform::SameFile(a, b));
    b.index = 0;
    EXPECT_TRUE(platform::SameFile(a, b)) << "no id on one side: the final path";
    FakePlatform os;
    RemovalListener quiet;
    RemovalReport report(os, quiet);
    report.Left("C:\\T\\" + std::string(32764, 'd'), platform::kErrorNotItself);  // with "\\?\", beyond 32,767
    EXPECT_EQ(report.Outcome(true).why, std::vector<LeftCause>{LeftCause::kTooDeep});
}

TEST(Guards, ProductKeyStrictlyBelowUninstall) {
    const std::string parent = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
    EXPECT_TRUE(IsProductKey(parent + "Foo"));
    EXPECT_TRUE(IsProductKey(parent + "sub\\Foo"));
    EXPECT_TRUE(IsProductKey(parent + "Foo.Pro"));
    EXPECT_FALSE(IsProductKey(parent));
    EXPECT_FALSE(IsProductKey(""));
    EXPECT_FALSE(IsProductKey(parent + "\\Foo"));
    EXPECT_FALSE(IsProductKey(parent + "Foo\\"));
    EXPECT_FALSE(IsProductKey(parent + "a\\\\b"));
    EXPECT_FALSE(IsProductKey("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstal"));
    EXPECT_FALSE(IsProductKey("SOFTWARE\\Other\\Foo"));
}

TEST(Guards, BareRoots) {
    for (const char* root : {"D:", "D:\\", "c:/", "\\\\server\\share", "\\\\server\\share\\", "\\\\server",
                             "\\\\?\\D:", "\\\\?\\UNC\\server\\share", "", "Foo"}) {
        EXPECT_TRUE(IsBareRoot(root)) << root;
    }
    for (const char* folder : {"D:\\Apps", "C:\\Apps\\Foo", "\\\\server\\share\\Foo", "\\\\?\\C:\\Apps"}) {
        EXPECT_FALSE(IsBareRoot(folder)) << folder;
    }
}

TEST(Guards, ProgramFolderComparedByIdentity) {
    FakePlatform os;
    for (const char* folder : {"C:", "C:\\Windows", "C:\\Program Files", "C:\\Program Files\\Foo", "C:\\Users",
                               "C:\\Users\\me", "C:\\Users\\me\\Desktop", "C:\\Users\\me\\Tools",
                               "C:\\Users\\me\\Tools\\Foo", "C:\\Program Files Extra", "C:\\Apps", "\\\\srv\\share",
                               "C:\\Windows\\made-up"}) {
        os.AddFolder(folder);
    }
    for (const char* folder : {"C:\\Users\\me\\AppData\\Local", "C:\\Users\\me\\AppData\\Local\\Programs\\Foo", "C:\\Temp",
                               "C:\\Temp\\Foo"}) {
        os.AddFolder(folder);
    }
    os.protectedFolders = {"C:\\Windows", "C:\\Program Files", "C:\\Users\\me", "C:\\Users\\me\\Desktop"};
    os.knownFolders = {"C:\\Users\\me\\AppData\\Local"};  // the temp folder comes from TempFolders()
    os.aliases["Y:"] = "C:\\Users";                       // a drive letter mapped onto the users' root
    os.aliases["C:\\Apps\\Link"] = "C:\\Users\\me";        // a linked parent folder
    os.aliases["C:\\PROGRA~1"] = "C:\\Program Files";      // a short name
    os.aliases["W:"] = "C:\\Windows";
    struct Case {
        const char* folder;
        bool mayEmpty;
    } cases[] = {
        {"C:\\Program Files\\Foo", true},   {"C:\\Users\\me\\Tools\\Foo", true},
        {"C:\\Program Files Extra", true},   {"C:\\PROGRA~1\\Foo", true},
        {"Y:\\me\\Tools\\Foo", true},       {"C:\\Program Files", false},
        {"c:\\program files", false},        {"C:\\Users", false},
        {"C:\\Users\\me\\Desktop", false},  {"Y:\\me\\Desktop", false},
        {"Y:\\me", false},                   {"C:\\Apps\\Link\\Desktop", false},
        {"C:\\PROGRA~1", false},             {"C:", false},
        {"\\\\srv\\share", false},           {"C:\\Missing", false},
        // Known folders and temp folders only as themselves.
        {"C:\\Users\\me\\AppData\\Local", false}, {"C:\\Users\\me\\AppData\\Local\\Programs\\Foo", true},
        {"C:\\Temp", false},               {"C:\\Temp\\Foo", true},
        {"W:\\made-up", false},  // inside the Windows folder, by another spelling
    };
    for (const Case& c : cases) EXPECT_EQ(MayEmptyProgramFolder(os, c.folder), c.mayEmpty) << c.folder;
}

// An installation and its plan, for one run of the removal.
struct Scene {
    Scene() {
        os.moduleFile = "C:\\Apps\\Foo\\remover.exe";
        os.AddFolder("C:\\Apps");
        os.AddFolder("C:\\Apps\\Foo");
        os.AddFile("C:\\Apps\\Foo\\data.bin");
        os.AddFile("C:\\Apps\\Foo\\a.exe");
        os.AddFile("C:\\Apps\\Foo\\b.exe");
        os.AddFolder(Desktop());
        os.AddFile(Desktop() + "\\Foo.lnk");
        os.AddFolder(Programs());
        os.AddFolder(Programs() + "\\Foo");
        os.AddFile(Programs() + "\\Foo\\Foo.lnk");
        plan.moduleCommands = {"C:\\Apps\\Foo\\a.exe", "C:\\Apps\\Foo\\b.exe \"/s\""};
        plan.shortcutFiles = {Desktop() + "\\Foo.lnk"};
        plan.shortcutFolders = {Programs() + "\\Foo"};
        plan.productKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Foo";
        plan.displayName = "Foo";
        plan.manifestLoaded = true;
        os.registryKeys[plan.productKey] = 1;
    }
    std::string Desktop() { return os.shellFolders[platform::ShellFolder::kDesktop]; }
    std::string Programs() { return os.shellFolders[platform::ShellFolder::kPrograms]; }
    // As the program runs it: the removal, then its final message unless silent.
    int Remove(bool silent = false, RemovalListener* listener = nullptr) {
        RunListener asking(os, nullptr);
        RemovalSettings settings;
        settings.silent = silent;
        const RemovalOutcome outcome =
            RunRemoval(os, MakeRunContext(os, ".\\Foo.xml"), plan, settings, listener ? *listener : asking);
        os.WaitForWorkers();
        if (!silent) ShowOutcome(os, nullptr, plan.displayName, outcome);
        left = outcome.left;
        selfRemoval = outcome.selfRemoval;
        return outcome.exitCode;
    }
    bool Logged(const std::string& entry) const { return IndexOf(os.log, entry) != std::string::npos; }
    std::string Message() const { return "message 卸载成功|Foo卸载完毕，我们会继续努力，谢谢使用！"; }

    FakePlatform os;
    RemovalPlan plan;
    bool selfRemoval = false;
    std::vector<std::string> left;
};

class Sequence : public ::testing::Test, public Scene {};

TEST_F(Sequence, StepsInOrder) {
    Remove();
    const size_t a = IndexOf(os.log, "start C:\\Apps\\Foo\\a.exe");
    const size_t aEnd = IndexOf(os.log, "close C:\\Apps\\Foo\\a.exe");
    const size_t b = IndexOf(os.log, "start C:\\Apps\\Foo\\b.exe \"/s\"");
    const size_t link = IndexOf(os.log, "delete " + Desktop() + "\\Foo.lnk");
    const size_t group = IndexOf(os.log, "rmdir " + Programs() + "\\Foo");
    const size_t folder = IndexOf(os.log, "rmdir C:\\Apps\\Foo");
    const size_t key = IndexOf(os.log, "regdelete " + plan.productKey);
    const size_t message = IndexOf(os.log, Message());
    EXPECT_LT(a, aEnd);
    EXPECT_LT(aEnd, b);
    EXPECT_LT(b, link);
    EXPECT_LT(link, group);
    EXPECT_LT(group, folder);
    EXPECT_LT(folder, key);
    EXPECT_LT(key, message);
    EXPECT_EQ(message, os.log.size() - 1);
    EXPECT_FALSE(os.Exists("C:\\Apps\\Foo"));
    EXPECT_TRUE(os.Exists("C:\\Apps"));
    EXPECT_TRUE(os.Exists(Programs()));
}

// Cut short after the key went, before the program could remove itself: the rerun
// finds no key and no manifest, only the program, which it marked first; it removes
// itself. A folder that holds anything else is no trace of such a run.
TEST_F(Sequence, CutAfterTheKeyFinishesFromTheProgramAlone) {
    fake::FileNode running;
    running.locked = true;
    os.AddFile(os.moduleFile, running);
    EXPECT_EQ(Remove(true), kExitRemoved);
    EXPECT_LT(IndexOf(os.log, "mark " + os.moduleFile), IndexOf(os.log, "regdelete " + plan.productKey));
    EXPECT_TRUE(selfRemoval);
    for (bool more : {false, true}) {
        Scene t;
        for (const char* name : {"data.bin", "a.exe", "b.exe"}) t.os.files.erase("C:\\Apps\\Foo\\" + std::string(name));
        if (more) t.os.AddFile("C:\\Apps\\Foo\\user.dat");
        t.os.AddFile("C:\\Apps\\Foo\\~remover.0A1B2C3D.tmp");
        t.os.AddFile(os.moduleFile);
        t.os.files[os.moduleFile].going = true;
        t.os.registryKeys.clear();
        t.plan.manifestLoaded = false;
        t.plan.manifestMissing = true;
        EXPECT_EQ(t.Remove(true), more ? kExitNoManifest : kExitRemoved) << more;
        EXPECT_EQ(t.selfRemoval, !more);
    }
}

TEST_F(Sequence, FaultsNeverStopLaterSteps) {
    os.startErrors["C:\\Apps\\Foo\\a.exe"] = 193;  // ERROR_BAD_EXE_FORMAT
    plan.shortcutFiles = {Desktop() + "\\Gone.lnk", Desktop() + "\\Foo.lnk", Desktop() + "\\Foo.lnk"};
    fake::FileNode readOnly;
    readOnly.readOnly = true;
    os.AddFile(Desktop() + "\\Foo.lnk", readOnly);
    os.throwOnEnumerate = Programs() + "\\Foo";
    plan.shortcutFolders.push_back(Programs() + "\\Second");
    os.AddFolder(Programs() + "\\Second");
    EXPECT_EQ(Remove(), kExitIncomplete);
    EXPECT_TRUE(Logged("start C:\\Apps\\Foo\\b.exe \"/s\""));
    EXPECT_TRUE(os.Exists(Desktop() + "\\Foo.lnk")) << "a read-only shortcut stays";
    EXPECT_FALSE(os.Exists(Programs() + "\\Second"));
    EXPECT_FALSE(os.Exists("C:\\Apps\\Foo"));
    EXPECT_FALSE(Logged("regdelete " + plan.productKey)) << "the way to run it again stays";
    // What stays is named: the program that could not start, the read-only shortcut, the group.
    EXPECT_EQ(left, (std::vector<std::string>{"C:\\Apps\\Foo\\a.exe", Desktop() + "\\Foo.lnk", Programs() + "\\Foo"}));
    EXPECT_TRUE(Logged("warning 卸载未完成|Foo卸载未完成，以下项目未能删除：\n\nC:\\Apps\\Foo\\a.exe\n" + Desktop() +
                       "\\Foo.lnk（拒绝访问）\n" + Programs() + "\\Foo" + kMixedNote));
}

TEST_F(Sequence, ProgramFolderWalkThrowing) {
    os.throwOnEnumerate = "C:\\Apps\\Foo";
    EXPECT_EQ(Remove(), kExitIncomplete);
    EXPECT_FALSE(Logged("regdelete " + plan.productKey));
    EXPECT_FALSE(selfRemoval);
    EXPECT_TRUE(Logged(std::string("warning 卸载未完成|Foo卸载未完成，以下项目未能删除：\n\nC:\\Apps\\Foo") + kRunAgainNote));
}

TEST_F(Sequence, EmptyPlanStillEmptiesFolderAndDeletesKey) {
    plan = RemovalPlan();
    plan.productKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Foo";
    plan.manifestLoaded = true;
    EXPECT_EQ(Remove(), kExitRemoved);
    EXPECT_FALSE(os.Exists("C:\\Apps\\Foo"));
    EXPECT_TRUE(Logged("regdelete " + plan.productKey));
    EXPECT_TRUE(Logged("message 卸载成功|卸载完毕，我们会继续努力，谢谢使用！"));
}

TEST_F(Sequence, UninstallerDeletingPartOfTheFolder) {
    os.processActions["C:\\Apps\\Foo\\a.exe"] = [this] { os.files.erase("C:\\Apps\\Foo\\data.bin"); };
    os.AddFile("C:\\Apps\\Foo\\other.bin");
    Remove();
    EXPECT_FALSE(os.Exists("C:\\Apps\\Foo"));
}

TEST_F(Sequence, RunningProgramKeepsItsFolder) {
    fake::FileNode running;
    running.locked = true;
    os.AddFile("C:\\Apps\\Foo\\remover.exe", running);
    Remove();
    EXPECT_TRUE(os.Exists("C:\\Apps\\Foo\\remover.exe"));
    EXPECT_TRUE(os.Exists("C:\\Apps\\Foo"));
    EXPECT_FALSE(os.Exists("C:\\Apps\\Foo\\data.bin"));
    EXPECT_TRUE(Logged(Message()));
}

TEST_F(Sequence, NoParentKeyAndNoRootFolder) {
    plan.productKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
    os.moduleFile = "D:\\remover.exe";
    os.AddFolder("D:");
    os.AddFile("D:\\precious.doc");
    Remove();
    EXPECT_TRUE(os.Exists("D:\\precious.doc"));
    EXPECT_EQ(IndexOf(os.log, "find D:\\*"), std::string::npos);
    for (const auto& entry : os.log) EXPECT_NE(entry.compare(0, 9, "regdelete"), 0) << entry;
    // The root's files stay, and the refused key is not reported as deleted.
    EXPECT_TRUE(Logged("warning 卸载未完成|Foo卸载未完成，以下项目未能删除：\n\nD:\nHKEY_LOCAL_MACHINE\\" + plan.productKey));
}

TEST_F(Sequence, ProtectedProgramFolderLeftAlone) {
    os.AddFolder("C:\\Apps\\Foo\\Desktop");
    os.protectedFolders = {"C:\\Apps\\Foo\\Desktop"};
    Remove();
    EXPECT_TRUE(os.Exists("C:\\Apps\\Foo\\data.bin"));
    EXPECT_FALSE(Logged("regdelete " + plan.productKey));
    EXPECT_EQ(left, std::vector<std::string>{"C:\\Apps\\Foo"});
    EXPECT_FALSE(selfRemoval);
}

TEST_F(Sequence, QueuedInputDroppedBeforeTheMessage) {
    Remove();
    EXPECT_EQ(IndexOf(os.log, "discard input") + 1, IndexOf(os.log, Message()));
}

TEST_F(Sequence, UnreadManifestRemovesNothing) {
    plan.manifestLoaded = false;
    EXPECT_EQ(Remove(), kExitIncomplete);
    EXPECT_EQ(os.log, (std::vector<std::string>{"discard input", "warning 卸载|该产品仍登记在系统的程序列表中，但无法读取其"
                                                                 "卸载信息（C:\\Apps\\Foo\\Foo.xml），未删除任何内容。"}));
    EXPECT_TRUE(os.Exists("C:\\Apps\\Foo\\data.bin"));
}

TEST_F(Sequence, InUseEntriesScheduledFilesFirstAndTheProgramGoesItself) {
    fake::FileNode locked, loaded;
    locked.locked = loaded.locked = loaded.movable = true;
    os.AddFile("C:\\Apps\\Foo\\remover.exe", locked);
    os.AddFolder("C:\\Apps\\Foo\\bin");
    os.AddFile("C:\\Apps\\Foo\\bin\\client.dll", loaded);
    os.AddFile("C:\\Apps\\Foo\\bin\\held.dat", locked);
    os.AddFolder("C:\\Apps\\Foo\\keep");
    os.AddFile("C:\\Apps\\Foo\\keep\\stuck.dat", locked);
    os.unschedulable = {"C:\\Apps\\Foo\\keep\\stuck.dat"};
    EXPECT_EQ(Remove(), kExitIncomplete);
    EXPECT_FALSE(selfRemoval) << "something stays for good: the program stays to run again";
    // A loaded DLL is moved aside and the restart deletes that name; a file held
    // without delete sharing cannot be, and stays once the retries are spent: the
    // restart deletes names, and a reinstall may have written a new file by then.
    const size_t aside = IndexOf(os.log, "move C:\\Apps\\Foo\\bin\\client.dll -> C:\\Apps\\Foo\\bin\\~remover.client.dll.tmp");
    EXPECT_LT(aside, IndexOf(os.log, "schedule C:\\Apps\\Foo\\bin\\~remover.client.dll.tmp"));
    EXPECT_EQ(os.sleptMs, 2000u) << "retried for two seconds in all";
    // What cannot be scheduled stays, and so do the folders above it; the running
    // program is never scheduled, nor anything outside the program folder.
    EXPECT_EQ(left, (std::vector<std::string>{"C:\\Apps\\Foo\\bin\\held.dat", "C:\\Apps\\Foo\\bin",
                                              "C:\\Apps\\Foo\\keep\\stuck.dat", "C:\\Apps\\Foo\\keep"}));
    std::vector<std::string> schedules;
    for (const auto& entry : os.log) {
        if (entry.compare(0, 9, "schedule ") == 0) schedules.push_back(entry);
    }
    EXPECT_EQ(schedules, std::vector<std::string>{"schedule C:\\Apps\\Foo\\bin\\~remover.client.dll.tmp"});
}

// A folder written into after it was listed is listed again and emptied; one that
// keeps filling, or whose listing broke off (-1), stays, and is never scheduled.
TEST_F(Sequence, FolderWrittenIntoWhileEmptied) {
    const std::string logs = "C:\\Apps\\Foo\\logs";
    for (const int writes : {1, 100, -1}) {
        Scene t;
        t.os.AddFolder(logs);
        if (writes < 0) t.os.brokenListings = {logs};
        int written = 0;
        t.os.beforeRemove = [&](const std::string& path) {
            if (path == logs && written < writes) t.os.AddFile(logs + "\\" + std::to_string(++written));
        };
        EXPECT_EQ(t.Remove(true), writes == 1 ? kExitRemoved : kExitIncomplete) << writes;
        EXPECT_EQ(t.left, writes == 1 ? std::vector<std::string>() : std::vector<std::string>{logs}) << writes;
    }
}

// A module whose exit code cannot be read is not recorded, and stays with the way back.
TEST_F(Sequence, UnreadableExitCodeIsAFailure) {
    os.unreadableExitCodes = {"C:\\Apps\\Foo\\a.exe"};
    EXPECT_EQ(Remove(), kExitIncomplete);
    EXPECT_TRUE(Logged("warning 卸载未完成|Foo卸载未完成，以下项目未能删除：\n\nC:\\Apps\\Foo\\a.exe" +
                       std::string(kRunAgainNote)));
    const platform::StringList journal = os.registryLists[plan.productKey + "\\RemovalProgress|Journal"];
    EXPECT_EQ(platform::StringList(journal.begin() + 1, journal.end()),
              (platform::StringList{"started C:\\Apps\\Foo\\a.exe", "started C:\\Apps\\Foo\\b.exe \"/s\"",
                                    "done 0/0/0 C:\\Apps\\Foo\\b.exe \"/s\""}));
}

// What an earlier run recorded counts while the manifest's bytes are as it left them
// (a repair can write the same file stamp; the key's time is the lifecycle table's),
// and a module counts as done while its program is as it was (a repair that writes
// it again, even with its old time, makes it run again).
TEST_F(Sequence, JournalCountsForTheSameManifestOnly) {
    const std::string manifest = "C:\\Apps\\Foo\\Foo.xml", b = "C:\\Apps\\Foo\\b.exe \"/s\"";
    const struct {
        const char* bytes;
        uint64_t rewritten;
        bool runsAgain;
    } cases[] = {{"<Install/>", 0, false}, {"<Install>2</Install>", 0, true}, {"<Install/>", 9, true}};
    for (const auto& c : cases) {
        Scene t;
        t.os.AddFile(manifest);
        t.os.contents[manifest] = "<Install/>";
        t.os.exitCodes[b] = 7;
        EXPECT_EQ(t.Remove(true), kExitIncomplete);
        t.os.exitCodes.clear();
        t.os.contents[manifest] = c.bytes;
        fake::FileNode program;
        program.changed = c.rewritten;
        t.os.AddFile("C:\\Apps\\Foo\\a.exe", program);  // as the first run left it, or repaired
        t.os.log.clear();
        EXPECT_EQ(t.Remove(true), kExitRemoved) << c.bytes << c.rewritten;
        EXPECT_EQ(t.Logged("start C:\\Apps\\Foo\\a.exe"), c.runsAgain) << c.bytes << c.rewritten;
    }
}

// Groups: a folder of the shell loses only the named shortcut; a vendor group keeps
// another installed product's shortcut, and itself with it. A product installed
// inside the program folder keeps its folder and its shortcut, and its running
// program is not asked to close; a module's own entry is this product's.
TEST_F(Sequence, GroupsKeepWhatIsNotThisProducts) {
    const std::string startup = Programs() + "\\StartUp", vendor = Programs() + "\\Drevik";
    for (const std::string& folder : {startup, vendor, std::string("C:\\Apps\\Bar"), std::string("C:\\Apps\\Foo\\Nested"),
                                      std::string("C:\\Apps\\Foo\\sub")}) {
        os.AddFolder(folder);
    }
    for (const std::string& file : {startup + "\\Foo.lnk", startup + "\\Other.lnk", vendor + "\\Foo.lnk",
                                    vendor + "\\Bar.lnk", vendor + "\\Notepad.lnk", std::string("C:\\Apps\\Bar\\unins.exe"),
                                    startup + "\\Nested.lnk", std::string("C:\\Apps\\Foo\\Nested\\n.dat"),
                                    std::string("C:\\Apps\\Foo\\a.exe"), std::string("C:\\Apps\\Foo\\sub\\s.dat")}) {
        os.AddFile(file);
    }
    os.knownFolders = {startup};
    plan.shortcutFolders = {startup, vendor};
    plan.groupLinks = {startup + "\\Foo.lnk", vendor + "\\Foo.lnk"};
    os.AddFile(startup + "\\Foo Updater.lnk");
    os.shortcutTargets = {{startup + "\\Other.lnk", "C:\\Apps\\Elsewhere\\x.exe"},
                          {startup + "\\Foo Updater.lnk", "C:\\Apps\\Foo\\updater.exe"},
                          {vendor + "\\Foo.lnk", "C:\\Apps\\Foo\\foo.exe"},
                          {vendor + "\\Bar.lnk", "C:\\Apps\\Bar\\bar.exe"},
                          {vendor + "\\Notepad.lnk", "C:\\Windows\\notepad.exe"},
                          {startup + "\\Nested.lnk", "C:\\Apps\\Foo\\Nested\\n.exe"}};
    os.installed = {{"Bar", false, "\"C:\\Apps\\Bar\\unins.exe\" /S", ""},            // any user's, outside
                    {"Foo", true, "", "C:\\Apps\\Foo", true},                         // this product's own entry
                    {"{1234}", false, "MsiExec.exe /X{1234}", "C:\\Windows\\Installer", true},
                    {"Above", false, "", "C:\\Apps", true},                           // holds this product's folder
                    {"Nested", false, "C:\\Apps\\Foo\\Nested\\unins.exe /S", "", true},
                    {"Module", false, "C:\\Apps\\Foo\\a.exe /S", "C:\\Apps\\Foo\\sub", true}};
    os.running = {{43, "C:\\Apps\\Foo\\Nested\\n.exe"}};
    EXPECT_EQ(Remove(), kExitRemoved);
    EXPECT_FALSE(os.Exists(startup + "\\Foo.lnk") || os.Exists(startup + "\\Foo Updater.lnk") ||
                 os.Exists(vendor + "\\Foo.lnk") || os.Exists(vendor + "\\Notepad.lnk") || os.Exists("C:\\Apps\\Foo\\sub"));
    for (const std::string& kept : {startup + "\\Other.lnk", vendor + "\\Bar.lnk", startup + "\\Nested.lnk",
                                    std::string("C:\\Apps\\Foo\\Nested\\n.dat")}) {
        EXPECT_TRUE(os.Exists(kept)) << kept;
    }
}

TEST_F(Sequence, RunningProgramsMustCloseFirst) {
    const platform::RunningProgram client{41, "C:\\Apps\\Foo\\client.exe"}, browser{42, "C:\\Other\\browser.exe"};
    struct Case {
        const char* name;
        bool silent;
        std::vector<bool> answers;
        bool closesWhenAsked;
        int exitCode;
    } cases[] = {
        {"cancel", false, {}, false, kExitCancelled},
        {"retry after closing it", false, {true}, true, kExitRemoved},
        {"retry while it still runs, then cancel", false, {true, false}, false, kExitCancelled},
        {"silent: closes when asked", true, {}, true, kExitRemoved},
        {"silent: never closes", true, {}, false, kExitIncomplete},
    };
    for (const Case& c : cases) {
        Scene t;
        t.os.running = {browser, client};
        t.os.retryAnswers = c.answers;
        if (c.closesWhenAsked) {
            t.os.onAsk = [&t] { t.os.running = {{42, "C:\\Other\\browser.exe"}}; };
            t.os.closeOnRequest = {41};
        }
        EXPECT_EQ(t.Remove(c.silent), c.exitCode) << c.name;
        const bool removed = c.exitCode == kExitRemoved;
        EXPECT_EQ(t.os.Exists("C:\\Apps\\Foo\\data.bin"), !removed) << c.name;
        EXPECT_EQ(t.Logged("start C:\\Apps\\Foo\\a.exe"), removed) << c.name << ": nothing runs before they close";
        EXPECT_FALSE(t.Logged("ask to close 42")) << "programs from elsewhere are not asked";
    }
}

// The progress never moves back, shows each module as busy, moves with the walk
// and is full only at the end.
TEST_F(Sequence, ProgressRisesToTheEndOnly) {
    for (int i = 0; i < 40; ++i) os.AddFile("C:\\Apps\\Foo\\f" + std::to_string(i));
    struct Recorder : RemovalListener {
        std::vector<std::pair<uint32_t, bool>> seen;
        void Progress(uint32_t done, bool busy) override { seen.emplace_back(done, busy); }
    } recorder;
    EXPECT_EQ(Remove(true, &recorder), kExitRemoved);
    ASSERT_FALSE(recorder.seen.empty());
    size_t busy = 0;
    for (size_t i = 0; i < recorder.seen.size(); ++i) {
        if (i > 0) EXPECT_GE(recorder.seen[i].first, recorder.seen[i - 1].first) << i;
        EXPECT_EQ(recorder.seen[i].first == kProgressEnd, i + 1 == recorder.seen.size()) << i;
        busy += recorder.seen[i].second;
    }
    EXPECT_EQ(busy, plan.moduleCommands.size());
    EXPECT_GT(recorder.seen.size(), 20u) << "the walk moves it entry by entry";
}
}  // namespace
