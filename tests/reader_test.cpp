// The manifest reader's selection, order and failure rules, on a fake DOM.
#include <gtest/gtest.h>

#include "plan/manifest_reader.h"
#include "tests/fake_platform.h"

namespace {

const char kManifest[] = "C:\\Apps\\Foo\\Foo.xml";
const char kKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Foo";

class Reader : public ::testing::Test {
protected:
    Reader() : root(std::make_shared<fake::Element>("Manifest")) { os.manifests[kManifest] = root; }
    void Read(const std::string& argument = "Foo.xml") {
        ReadManifest(os, MakeRunContext(os, argument), plan, texts);
        EXPECT_EQ(os.liveXmlObjects(), 0) << "every DOM object is released";
    }
    std::string Desktop(const std::string& link) {
        return os.shellFolders[platform::ShellFolder::kDesktop] + "\\" + link + ".lnk";
    }

    fake::FakePlatform os;
    std::shared_ptr<fake::Element> root;
    RemovalPlan plan;
    ManifestTexts texts;
};

TEST_F(Reader, SetupGivesNameCaptionAndPrompt) {
    root->Add("Setup", {{"DisplayName", "Foo Client"}});
    Read();
    ASSERT_TRUE(texts.present);
    EXPECT_EQ(texts.displayName, "Foo Client");
    EXPECT_EQ(texts.caption, "Foo Client卸载向导");
    EXPECT_EQ(texts.prompt, "　　您是否确定要删除Foo Client及其所有组件？");
    EXPECT_EQ(plan.productKey, kKey);
    EXPECT_EQ(plan.displayName, "") << "the dialog assigns it";
}

TEST_F(Reader, OnlyFirstSetupCounts) {
    root->Add("Setup", {{"DisplayName", "First"}});
    root->Add("Setup", {{"DisplayName", "Second"}});
    Read();
    EXPECT_EQ(texts.displayName, "First");
}

TEST_F(Reader, SetupWithoutNameFormatsEmptyName) {
    root->Add("Setup");
    Read();
    ASSERT_TRUE(texts.present);
    EXPECT_EQ(texts.caption, "卸载向导");
    EXPECT_EQ(texts.prompt, "　　您是否确定要删除及其所有组件？");
}

TEST_F(Reader, NoSetupKeepsDialogTexts) {
    root->Add("Module", {{"uninstall", "u.exe"}});
    Read();
    EXPECT_FALSE(texts.present);
    EXPECT_EQ(plan.moduleCommands.size(), 1u);
}

TEST_F(Reader, ModulesInOrderShortcutsBeforeCommand) {
    auto& first = root->Add("Module", {{"uninstall", "a.exe"}, {"dir", "bin"}, {"uninstallparam", "/s"}});
    first.Add("ShortCut", {{"root", "DESKTOP"}, {"link", "A"}});
    root->Add("Other").Add("Module", {{"uninstall", "deep.exe"}});
    auto& second = root->Add("Module", {{"uninstall", "b.exe"}});
    second.Add("ShortCut", {{"root", "DESKTOP"}, {"link", "B1"}});
    second.Add("ShortCut", {{"root", "PROGRAMS"}, {"group", "G"}, {"link", "B2"}});
    Read();
    EXPECT_EQ(plan.moduleCommands,
              (platform::StringList{"\"C:\\Apps\\Foo\\bin\\a.exe\" \"/s\"", "\"C:\\Apps\\Foo\\b.exe\""}));
    EXPECT_EQ(plan.shortcutFiles, (platform::StringList{Desktop("A"), Desktop("B1")}));
    EXPECT_EQ(plan.shortcutFolders.size(), 1u);
}

TEST_F(Reader, AttributesReadInOrder) {
    // root, group, link for a shortcut; uninstall first, then uninstallparam and dir.
    auto& module = root->Add("Module", {{"uninstall", "u.exe"}});
    module.Add("ShortCut", {{"root", "DESKTOP"}, {"link", "L"}});
    os.xml.throwOnAttribute = "dir";
    EXPECT_THROW(ReadManifest(os, MakeRunContext(os, "Foo.xml"), plan, texts), std::bad_alloc);
    EXPECT_EQ(os.liveXmlObjects(), 0) << "released on the way out";
    EXPECT_EQ(plan.shortcutFiles.size(), 1u) << "shortcuts come before the command";
    EXPECT_TRUE(plan.moduleCommands.empty());
}

TEST_F(Reader, ModuleWithoutUninstallStillGivesShortcuts) {
    auto& module = root->Add("Module", {{"dir", "bin"}, {"uninstallparam", "/s"}});
    for (const char* link : {"A", "B", "C"}) module.Add("ShortCut", {{"root", "DESKTOP"}, {"link", link}});
    Read();
    EXPECT_TRUE(plan.moduleCommands.empty());
    EXPECT_EQ(plan.shortcutFiles.size(), 3u);
}

TEST_F(Reader, MisplacedElementsIgnored) {
    root->Add("ShortCut", {{"root", "DESKTOP"}, {"link", "Top"}});
    root->Add("Other").Add("Setup", {{"DisplayName", "Deep"}});
    root->Add("module", {{"uninstall", "lower.exe"}});
    root->Add("Module", {{"Uninstall", "x.exe"}});
    Read();
    EXPECT_FALSE(texts.present);
    EXPECT_TRUE(plan.shortcutFiles.empty());
    EXPECT_TRUE(plan.moduleCommands.empty());
}

TEST_F(Reader, MissingManifestLeavesOnlyKey) {
    root->Add("Setup", {{"DisplayName", "Foo"}});
    Read("Bar.xml");
    EXPECT_EQ(plan.productKey, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Bar");
    EXPECT_FALSE(texts.present);
    EXPECT_TRUE(plan.moduleCommands.empty() && plan.shortcutFiles.empty() && plan.shortcutFolders.empty());
}

TEST_F(Reader, NoDomLeavesPlanEmpty) {
    os.xml.cannotCreate = true;
    root->Add("Setup", {{"DisplayName", "Foo"}});
    Read();
    EXPECT_EQ(plan.productKey, "");
    EXPECT_FALSE(texts.present);
}

TEST_F(Reader, ItemsThatCannotBeFetchedSkipped) {
    root->Add("Module", {{"uninstall", "a.exe"}});
    auto& b = root->Add("Module", {{"uninstall", "b.exe"}});
    b.Add("ShortCut", {{"root", "DESKTOP"}, {"link", "X"}});
    b.Add("ShortCut", {{"root", "DESKTOP"}, {"link", "Y"}});
    os.xml.failItem = {{"Module", 0}, {"ShortCut", 0}};
    Read();
    EXPECT_EQ(plan.moduleCommands, (platform::StringList{"\"C:\\Apps\\Foo\\b.exe\""}));
    EXPECT_EQ(plan.shortcutFiles, (platform::StringList{Desktop("Y")}));
}

TEST_F(Reader, ShortcutQueryFailuresSkipOnlyShortcuts) {
    root->Add("Module", {{"uninstall", "a.exe"}}).Add("ShortCut", {{"root", "DESKTOP"}, {"link", "X"}});
    os.xml.failLength = {"ShortCut"};
    Read();
    EXPECT_TRUE(plan.shortcutFiles.empty());
    EXPECT_EQ(plan.moduleCommands.size(), 1u);

    RemovalPlan again;
    os.xml.failLength.clear();
    os.xml.failSelect = {"ShortCut"};
    ReadManifest(os, MakeRunContext(os, "Foo.xml"), again, texts);
    EXPECT_TRUE(again.shortcutFiles.empty());
    EXPECT_EQ(again.moduleCommands.size(), 1u);
}

TEST_F(Reader, FailingSetupQueryStillReadsModules) {
    root->Add("Setup", {{"DisplayName", "Foo"}});
    root->Add("Module", {{"uninstall", "a.exe"}});
    os.xml.failSelect = {"Setup"};
    Read();
    EXPECT_FALSE(texts.present);
    EXPECT_EQ(plan.moduleCommands.size(), 1u);
}

TEST_F(Reader, ExceptionInOneShortcutSkipsOnlyThatOne) {
    auto& module = root->Add("Module", {{"uninstall", "a.exe"}});
    module.Add("ShortCut", {{"root", "PROGRAMS"}, {"link", "A"}});
    module.Add("ShortCut", {{"root", "DESKTOP"}, {"link", "B"}});
    // The lookup itself throws for PROGRAMS: only that shortcut is lost.
    struct ThrowingPrograms : fake::FakePlatform {
        bool SpecialFolder(platform::ShellFolder which, std::string* path) override {
            if (which == platform::ShellFolder::kPrograms) throw std::bad_alloc();
            return FakePlatform::SpecialFolder(which, path);
        }
    } throwing;
    throwing.manifests = os.manifests;
    ReadManifest(throwing, MakeRunContext(throwing, "Foo.xml"), plan, texts);
    EXPECT_EQ(throwing.liveXmlObjects(), 0);
    EXPECT_EQ(plan.shortcutFiles, (platform::StringList{Desktop("B")}));
    EXPECT_EQ(plan.moduleCommands.size(), 1u);
}

TEST_F(Reader, ExceptionAfterSetupKeepsTexts) {
    root->Add("Setup", {{"DisplayName", "Foo"}});
    root->Add("Module", {{"uninstall", "a.exe"}});
    os.xml.throwOnSelect = "Module";
    EXPECT_THROW(ReadManifest(os, MakeRunContext(os, "Foo.xml"), plan, texts), std::bad_alloc);
    EXPECT_EQ(os.liveXmlObjects(), 0);
    EXPECT_TRUE(texts.present);
    EXPECT_EQ(plan.productKey, kKey);
}

}  // namespace
