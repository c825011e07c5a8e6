// The folder walk on real trees.
#include <gtest/gtest.h>

#include "platform/files_win.h"
#include "platform/folder_win.h"
#include "platform/platform_win.h"
#include "platform/text.h"
#include "removal/folder_tree.h"
#include "tests/win/driver.h"

namespace {

using testwin::PathExists;
using testwin::WriteFile;

class Walk : public ::testing::Test {
protected:
    Walk()
        : root(testwin::ScratchFolder(std::string("walk\\") +
                                      ::testing::UnitTest::GetInstance()->current_test_info()->name())),
          tree(root + "\\tree") {
        WriteFile(tree + "\\plain.txt", "x");
        WriteFile(tree + "\\a\\b\\c\\deep.txt", "x");
        WriteFile(root + "\\sibling\\keep.txt", "keep");
    }
    platform::WindowsPlatform& os = platform::Windows();
    std::string root;
    std::string tree;
};

TEST_F(Walk, ProtectedAttributesAndNestingRemoved) {
    for (const auto& file : {std::make_pair("ro.txt", FILE_ATTRIBUTE_READONLY),
                             std::make_pair("hidden.txt", FILE_ATTRIBUTE_HIDDEN),
                             std::make_pair("system.txt", FILE_ATTRIBUTE_SYSTEM),
                             std::make_pair("a\\b\\c\\all.txt",
                                            FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)}) {
        const std::string path = tree + "\\" + file.first;
        WriteFile(path, "x");
        ASSERT_TRUE(SetFileAttributesW(testwin::Wide(path).c_str(), file.second));
    }
    SetFileAttributesW(testwin::Wide(tree + "\\a\\b").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    RemoveFolderTree(os, tree);
    EXPECT_FALSE(PathExists(tree));
    EXPECT_EQ(testwin::ReadFile(root + "\\sibling\\keep.txt"), "keep");
}

TEST_F(Walk, OpenFileStaysWithItsFolders) {
    const std::string held = tree + "\\a\\b\\held.dll";
    WriteFile(held, "busy");
    SetFileAttributesW(testwin::Wide(held).c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    HANDLE open = CreateFileW(testwin::Wide(held).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(open, INVALID_HANDLE_VALUE);
    RemoveFolderTree(os, tree);
    CloseHandle(open);
    EXPECT_TRUE(PathExists(held));
    EXPECT_TRUE(GetFileAttributesW(testwin::Wide(held).c_str()) & FILE_ATTRIBUTE_HIDDEN) << "kept, as it stays";
    EXPECT_FALSE(PathExists(tree + "\\plain.txt"));
    EXPECT_FALSE(PathExists(tree + "\\a\\b\\c"));
    EXPECT_TRUE(PathExists(tree + "\\a\\b"));
}

// Where a link opens as itself (Windows), a file goes without the name of what was
// opened being asked. Wine follows links, so it is told to ask, and the other way
// runs here on a tree without links only.
TEST_F(Walk, FilesGoWhereLinksOpenAsThemselves) {
    ASSERT_FALSE(platform::LinksOpenAsThemselves()) << "Wine follows links: the walk must ask names";
    WriteFile(tree + "\\a\\ro.txt", "x");
    ASSERT_TRUE(SetFileAttributesW(testwin::Wide(tree + "\\a\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    platform::DecideLinksOpenAsThemselves(true);
    RemoveFolderTree(os, tree);
    platform::DecideLinksOpenAsThemselves(false);
    EXPECT_FALSE(PathExists(tree));
    EXPECT_EQ(testwin::ReadFile(root + "\\sibling\\keep.txt"), "keep");
}

TEST_F(Walk, FileEmptyFolderAndMissingPath) {
    RemoveFolderTree(os, tree + "\\plain.txt");
    EXPECT_TRUE(PathExists(tree + "\\plain.txt"));
    testwin::MakeFolders(root + "\\empty");
    RemoveFolderTree(os, root + "\\empty");
    EXPECT_FALSE(PathExists(root + "\\empty"));
    RemoveFolderTree(os, root + "\\missing");
    EXPECT_TRUE(PathExists(tree + "\\plain.txt"));
}

TEST_F(Walk, PathsBeyondTheLimitFailQuietly) {
    std::string deep = tree;
    while (deep.size() < 240) deep += "\\ddddddddddddddd";
    testwin::MakeFolders(deep);
    WriteFile(deep + "\\f.txt", "x");
    RemoveFolderTree(os, tree);
    EXPECT_FALSE(PathExists(tree + "\\plain.txt"));
    EXPECT_EQ(testwin::ReadFile(root + "\\sibling\\keep.txt"), "keep");
}

// Renaming aside through the handle: relative to the folder's handle, the name alone,
// hidden only where the file has no other name; without it, the whole path.
TEST_F(Walk, RenameAsideInItsOwnFolder) {
    WriteFile(tree + "\\two.txt", "x");
    ASSERT_TRUE(CreateHardLinkW(testwin::Wide(tree + "\\other.txt").c_str(), testwin::Wide(tree + "\\two.txt").c_str(),
                                nullptr));
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    platform::unique_file folder(CreateFileW(testwin::Wide(tree).c_str(), FILE_LIST_DIRECTORY | SYNCHRONIZE, share,
                                             nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    const auto open = [share](const std::string& path) {
        return platform::unique_file(CreateFileW(testwin::Wide(path).c_str(), DELETE | FILE_READ_ATTRIBUTES |
                                                 FILE_WRITE_ATTRIBUTES | SYNCHRONIZE, share, nullptr, OPEN_EXISTING, 0,
                                                 nullptr));
    };
    platform::unique_file plain = open(tree + "\\plain.txt"), linked = open(tree + "\\two.txt");
    ASSERT_TRUE(folder && plain && linked);
    platform::WideString aside, linkedAside;
    ASSERT_TRUE(platform::RenameAside(plain.get(), folder.get(), &aside));
    ASSERT_TRUE(platform::RenameAside(linked.get(), folder.get(), &linkedAside));
    EXPECT_EQ(platform::Narrow(aside).rfind("~remover.", 0), 0u) << platform::Narrow(aside);
    EXPECT_FALSE(PathExists(tree + "\\plain.txt"));
    EXPECT_TRUE(GetFileAttributesW(testwin::Wide(tree + "\\" + platform::Narrow(aside)).c_str()) & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_FALSE(GetFileAttributesW(testwin::Wide(tree + "\\other.txt").c_str()) & FILE_ATTRIBUTE_HIDDEN)
        << "another name's attributes are not ours";
    ASSERT_TRUE(platform::RenameAside(plain.get(), nullptr, &aside));
    const std::string moved = platform::PlainPath(aside);
    EXPECT_TRUE(platform::SamePathText(platform::ParentFolder(moved), tree)) << moved;
    EXPECT_TRUE(PathExists(moved));
}

// The tree with a link inside is laid out by the test harness (ln -s), since Wine
// cannot create junctions itself.
TEST(WalkLinks, LinkRemovedTargetUntouched) {
    const std::string base = "C:\\remover-tests\\links";
    if (!PathExists(base + "\\tree\\link")) GTEST_SKIP() << "run through ctest: the harness makes the link";
    const DWORD attributes = GetFileAttributesW(testwin::Wide(base + "\\tree\\link").c_str());
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_REPARSE_POINT) << "the link is reported as a reparse point";
    SetFileAttributesW(testwin::Wide(base + "\\target\\precious.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    RemoveFolderTree(platform::Windows(), base + "\\tree");
    EXPECT_EQ(testwin::ReadFile(base + "\\target\\precious.txt"), "precious\n");
    EXPECT_EQ(testwin::ReadFile(base + "\\target\\sub\\deep.txt"), "deep\n");
    EXPECT_TRUE(GetFileAttributesW(testwin::Wide(base + "\\target\\precious.txt").c_str()) & FILE_ATTRIBUTE_READONLY)
        << "nothing was changed through the link";
    EXPECT_FALSE(PathExists(base + "\\tree\\own.txt"));

    // A folder to remove that is itself a link (a group folder made a junction).
    RemoveFolderTree(platform::Windows(), base + "\\grouplink");
    EXPECT_EQ(testwin::ReadFile(base + "\\target\\precious.txt"), "precious\n");
    EXPECT_EQ(testwin::ReadFile(base + "\\target\\sub\\deep.txt"), "deep\n");
}

}  // namespace
