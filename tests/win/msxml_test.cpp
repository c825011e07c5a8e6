// The manifest reader on real manifest files through the system's MSXML.
#include <gtest/gtest.h>
#include <objbase.h>

#include "plan/manifest_reader.h"
#include "platform/platform_win.h"
#include "tests/win/driver.h"

namespace {

// The real platform, as if the program lay in a scratch folder.
class PlacedPlatform : public platform::WindowsPlatform {
public:
    PlacedPlatform(std::string folder, const CLSID* dom = nullptr) : WindowsPlatform(dom), folder_(std::move(folder)) {}
    std::string ModuleFileName() override { return folder_ + "\\remover.exe"; }

private:
    std::string folder_;
};

// True when this thread has no COM apartment now.
bool ComIsOff() {
    const HRESULT hr = CoInitialize(nullptr);
    if (SUCCEEDED(hr)) CoUninitialize();
    return hr == S_OK;
}

class Msxml : public ::testing::Test {
public:
    Msxml()
        : folder(testwin::ScratchFolder(::testing::UnitTest::GetInstance()->current_test_info()->name())),
          os(folder) {}
    void WriteUtf8(const std::string& body, const std::string& name = "Foo.xml") {
        testwin::WriteFile(folder + "\\" + name, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n" + body);
    }
    void Read(const std::string& argument = "Foo.xml") {
        ReadManifest(os, MakeRunContext(os, argument), plan, texts);
        EXPECT_TRUE(ComIsOff()) << "COM is ended when the reader started it";
    }
    std::string Desktop() {
        std::string desktop;
        os.SpecialFolder(platform::ShellFolder::kDesktop, &desktop);
        return desktop;
    }
    std::string Programs() {
        std::string programs;
        os.SpecialFolder(platform::ShellFolder::kPrograms, &programs);
        return programs;
    }

    std::string folder;
    PlacedPlatform os;
    RemovalPlan plan;
    ManifestTexts texts;
};

const char kSample[] =
    "<Install>\r\n"
    "  <Setup DisplayName=\"Foo 客户端\"/>\r\n"
    "  <Setup DisplayName=\"Second\"/>\r\n"
    "  <ShortCut root=\"DESKTOP\" link=\"TopLevel\"/>\r\n"
    "  <Module uninstall=\"unins.exe\" dir=\"bin\" uninstallparam=\"/s\">\r\n"
    "    <ShortCut root=\"DESKTOP\" link=\"Foo\"/>\r\n"
    "    <ShortCut root=\"PROGRAMS\" group=\"Foo 客户端\" link=\"Foo\"/>\r\n"
    "  </Module>\r\n"
    "  <Group><Module uninstall=\"deep.exe\"/></Group>\r\n"
    "  <Module uninstall=\"second.exe\">\r\n"
    "    <ShortCut root=\"PROGRAMS\" link=\"帮助\"/>\r\n"
    "  </Module>\r\n"
    "</Install>\r\n";

void ExpectSamplePlan(Msxml& t) {
    EXPECT_EQ(t.texts.displayName, "Foo 客户端");
    EXPECT_EQ(t.texts.caption, "Foo 客户端卸载向导");
    EXPECT_EQ(t.texts.prompt, "　　您是否确定要删除Foo 客户端及其所有组件？");
    EXPECT_EQ(t.plan.productKey, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Foo");
    EXPECT_EQ(t.plan.moduleCommands,
              (platform::StringList{"\"" + t.folder + "\\bin\\unins.exe\" \"/s\"", "\"" + t.folder + "\\second.exe\""}));
    EXPECT_EQ(t.plan.shortcutFiles,
              (platform::StringList{t.Desktop() + "\\Foo.lnk", t.Programs() + "\\" + "帮助" + ".lnk"}));
    EXPECT_EQ(t.plan.shortcutFolders, (platform::StringList{t.Programs() + "\\" + "Foo 客户端"}));
}

TEST_F(Msxml, Utf8Manifest) {
    ASSERT_TRUE(ComIsOff());
    WriteUtf8(kSample);
    Read();
    ASSERT_TRUE(texts.present);
    EXPECT_TRUE(plan.manifestLoaded);
    ExpectSamplePlan(*this);
}

TEST_F(Msxml, Utf16ManifestWithBom) {
    testwin::WriteFile(folder + "\\Foo.xml",
                       testwin::Utf8ToUtf16Bytes(std::string("<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n") + kSample, true));
    Read();
    ASSERT_TRUE(texts.present);
    ExpectSamplePlan(*this);
}

TEST_F(Msxml, SetupWithoutDisplayName) {
    WriteUtf8("<M><Setup Other=\"x\"/></M>");
    Read();
    ASSERT_TRUE(texts.present);
    EXPECT_EQ(texts.caption, "卸载向导");
    EXPECT_EQ(texts.prompt, "　　您是否确定要删除及其所有组件？");
}

TEST_F(Msxml, MissingOrBrokenManifestKeepsOnlyKey) {
    for (const char* body : {"", "<M><Setup DisplayName=\"x\"/>", "\x01\x02\xFF\xFE garbage", "<M><Setup DisplayName=\"a\"></M>"}) {
        SCOPED_TRACE(body);
        RemovalPlan fresh;
        ManifestTexts freshTexts;
        testwin::WriteFile(folder + "\\Broken.xml", body);
        ReadManifest(os, MakeRunContext(os, "Broken.xml"), fresh, freshTexts);
        EXPECT_FALSE(freshTexts.present);
        EXPECT_FALSE(fresh.manifestLoaded) << "nothing may be removed on its word";
        EXPECT_EQ(fresh.productKey, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Broken");
        EXPECT_TRUE(fresh.moduleCommands.empty() && fresh.shortcutFiles.empty() && fresh.shortcutFolders.empty());
    }
    Read("Absent.xml");
    EXPECT_FALSE(texts.present);
    EXPECT_FALSE(plan.manifestLoaded);
    EXPECT_EQ(plan.productKey, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Absent");
}

TEST_F(Msxml, DomThatCannotBeCreated) {
    static const CLSID kNoSuchClass = {0x0badc0de, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};
    PlacedPlatform broken(folder, &kNoSuchClass);
    WriteUtf8(kSample);
    ReadManifest(broken, MakeRunContext(broken, "Foo.xml"), plan, texts);
    EXPECT_TRUE(ComIsOff());
    EXPECT_FALSE(texts.present);
    EXPECT_EQ(plan.productKey, "");
    EXPECT_TRUE(plan.moduleCommands.empty() && plan.shortcutFiles.empty());
}

TEST_F(Msxml, ComOfTheCallerIsLeftAlone) {
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    WriteUtf8(kSample);
    ReadManifest(os, MakeRunContext(os, "Foo.xml"), plan, texts);
    EXPECT_EQ(CoInitialize(nullptr), S_FALSE) << "still initialised";
    CoUninitialize();
    CoUninitialize();
    EXPECT_TRUE(texts.present);
}

TEST_F(Msxml, LongValuesAndHostileContent) {
    const std::string longName(8000, 'N');
    WriteUtf8("<!DOCTYPE M [<!ENTITY x \"xxxxxxxxxxxxxxxx\">]><M><Setup DisplayName=\"" + longName +
              "\"/><Module uninstall=\"&x;.exe\" uninstallparam=\"a&quot;b\"/>"
              "<Module><ShortCut root=\"PROGRAMS\" group=\"..\" link=\"x\"/>"
              "<ShortCut root=\"DESKTOP\" link=\"..\\..\\Windows\\x\"/></Module></M>");
    Read();
    EXPECT_EQ(texts.displayName, longName);
    ASSERT_EQ(plan.moduleCommands.size(), 1u);
    EXPECT_EQ(plan.moduleCommands[0], "\"" + folder + "\\xxxxxxxxxxxxxxxx.exe\" \"a\"b\"");
    EXPECT_TRUE(plan.shortcutFolders.empty());
    EXPECT_TRUE(plan.shortcutFiles.empty());
}

}  // namespace
