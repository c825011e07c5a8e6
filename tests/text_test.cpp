// String helpers and the exact bytes of the program's own texts.
#include <gtest/gtest.h>

#include "app/preflight.h"
#include "plan/command_line.h"
#include "plan/manifest_reader.h"
#include "platform/text.h"
#include "removal/removal_sequence.h"
#include "tests/fake_platform.h"

namespace {

using platform::CommandLineTail;
using platform::Format;

TEST(Format, EachPercentSTakesTheNextArgument) {
    const std::string a = "A", b = "B%s";
    EXPECT_EQ(Format("%s\\%s", {&a, &b}), "A\\B%s");
    EXPECT_EQ(Format("x%sy", {}), "xy");
    EXPECT_EQ(Format("100%", {&a}), "100%");
    EXPECT_EQ(Format("%d%s", {&a}), "%dA");
}

TEST(CommandLineTail, SkipsProgramNameAndBlanks) {
    EXPECT_STREQ(CommandLineTail("remover.exe Foo.xml"), "Foo.xml");
    EXPECT_STREQ(CommandLineTail("\"C:\\Program Files\\Foo\\remover.exe\" Foo.xml"), "Foo.xml");
    EXPECT_STREQ(CommandLineTail("\"C:\\a b\\r.exe\"Foo.xml"), "Foo.xml");
    EXPECT_STREQ(CommandLineTail("r.exe \t \"Foo.xml\" "), "\"Foo.xml\" ");
    EXPECT_STREQ(CommandLineTail("r.exe"), "");
    EXPECT_STREQ(CommandLineTail("\"r.exe"), "");
    EXPECT_STREQ(CommandLineTail(""), "");
    EXPECT_STREQ(CommandLineTail("r.exe a  b"), "a  b");
}

TEST(Utf16, EveryNameSurvivesTheRoundTrip) {
    const std::u16string names[] = {
        u"plain", u"好運", u"．．＼Victim", u"한국어", u"\U0001F642", u"",
        std::u16string(1, char16_t(0xD800)) + u"x",              // lone high surrogate
        u"a" + std::u16string(1, char16_t(0xDC00)),               // lone low surrogate
        std::u16string{char16_t(0xDBFF), char16_t(0xDBFF), char16_t(0xDFFF)},
    };
    for (const std::u16string& name : names) {
        const std::string utf8 = platform::Utf16ToUtf8(name.data(), name.size());
        EXPECT_EQ(platform::Utf8ToUtf16(utf8), name) << utf8;
    }
    EXPECT_EQ(platform::Utf16ToUtf8(u"運\U0001F642", 3), "運🙂");
}

TEST(Utf16, MalformedUtf8ReadsAsReplacement) {
    EXPECT_EQ(platform::Utf8ToUtf16("a\xFF" "b"), u"a\xFFFD" "b");
    EXPECT_EQ(platform::Utf8ToUtf16("\xC0\xAF"), u"\xFFFD\xFFFD");          // overlong '/'
    EXPECT_EQ(platform::Utf8ToUtf16("\xE5\xA5"), u"\xFFFD\xFFFD");          // cut short
    EXPECT_EQ(platform::Utf8ToUtf16("\xF4\x90\x80\x80"), u"\xFFFD\xFFFD\xFFFD\xFFFD");  // beyond U+10FFFF
}

TEST(SamePathText, FoldsAsciiCaseOnly) {
    EXPECT_TRUE(platform::SamePathText("C:\\Program Files", "c:\\PROGRAM FILES"));
    EXPECT_FALSE(platform::SamePathText("C:\\A", "C:\\A\\"));
    EXPECT_FALSE(platform::SamePathText("C:\\A", "C:\\B"));
}

TEST(IsInsideFolder, BelowTheFolderOnly) {
    EXPECT_TRUE(platform::IsInsideFolder("C:\\Apps\\Foo\\x.exe", "c:\\apps\\foo"));
    EXPECT_TRUE(platform::IsInsideFolder("C:\\x.exe", "C:\\"));
    EXPECT_FALSE(platform::IsInsideFolder("C:\\Apps\\Foobar\\x.exe", "C:\\Apps\\Foo"));
    EXPECT_FALSE(platform::IsInsideFolder("C:\\Apps\\Foo", "C:\\Apps\\Foo"));
}

// The lock's name rests on it: what SamePathText calls one name hashes as one, and an
// ASCII name keeps the value earlier versions gave it, so their runs meet the same lock.
TEST(FoldedHash, OneNameOneValue) {
    EXPECT_EQ(platform::FoldedHash("Foo"), platform::FoldedHash("fOO"));
    EXPECT_NE(platform::FoldedHash("Foo"), platform::FoldedHash("Fop"));
    EXPECT_EQ(platform::FoldedHash("foo"), 0xECCD95F7u);
}

// Every spelling an installer may write for one folder reads as one.
TEST(NormalPath, OneSpellingPerFolder) {
    for (const char* spelled : {"C:\\Apps\\Nested Product/", "C:/Apps/Nested Product/", "\"C:\\Apps\\Nested Product\\\"",
                                "C:\\Apps\\.\\x\\..\\Nested Product. .", "\\\\?\\C:\\Apps\\\\Nested Product\\/",
                                "C:\\Apps.\\Nested Product"}) {
        EXPECT_EQ(platform::NormalPath(spelled), "C:\\Apps\\Nested Product") << spelled;
    }
    EXPECT_EQ(platform::NormalPath("\\\\?\\UNC\\srv\\share\\..\\..\\x/"), "\\\\srv\\share\\x");
    EXPECT_EQ(platform::NormalPath("C:\\..\\Apps...\\x"), "C:\\Apps...\\x");
}

TEST(Switches, BeforeOrAfterTheManifestName) {
    struct Case {
        const char* tail;
        bool silent, plan, help;
        const char* log;
        const char* unknown;
        const char* argument;
    } cases[] = {
        {"Foo.xml", false, false, false, "", "", "Foo.xml"},
        {"\"Foo.xml\" ", false, false, false, "", "", "Foo.xml"},
        // Quotes group, the usual Windows way, and are part of no name or value.
        {"\"/log=C:\\My Logs\\x.log\" \"My Foo.xml\"", false, false, false, "C:\\My Logs\\x.log", "", "My Foo.xml"},
        {"\"Foo.xml\" Bar.xml \"/S\"", true, false, false, "", "Bar.xml", "Foo.xml"},
        {"/S Foo.xml", true, false, false, "", "", "Foo.xml"},
        {"/s /log=C:\\l.txt\tFoo Bar.xml", true, false, false, "C:\\l.txt", "", "Foo Bar.xml"},
        {"/log=\"C:\\My Logs\\r.log\" /plan Foo.xml", false, true, false, "C:\\My Logs\\r.log", "", "Foo.xml"},
        {"/?", false, false, true, "", "", ""},
        {"/x Foo.xml", false, false, false, "", "/x", "Foo.xml"},
        {"/S=1 Foo.xml", true, false, false, "", "/S=1", "Foo.xml"},  // wrong, but asks for silence
        {"/S/S Foo.xml", true, false, false, "", "/S/S", "Foo.xml"},
        {"/log= Foo.xml", false, false, false, "", "/log=", "Foo.xml"},
        {"Foo.xml /S", true, false, false, "", "", "Foo.xml"},
        {"My Foo.xml \t /s /log=\"C:\\My Logs\\r.log\" /plan", true, true, false, "C:\\My Logs\\r.log", "",
         "My Foo.xml"},
        {"Foo.xml /S Bar.xml", true, false, false, "", "Bar.xml", "Foo.xml"},
        {"", false, false, false, "", "", ""},
    };
    for (const Case& c : cases) {
        const Switches s = ParseSwitches(c.tail, "/~self=");
        EXPECT_EQ(s.silent, c.silent) << c.tail;
        EXPECT_EQ(s.planOnly, c.plan) << c.tail;
        EXPECT_EQ(s.help, c.help) << c.tail;
        EXPECT_EQ(s.logPath, c.log) << c.tail;
        EXPECT_EQ(s.unknown, c.unknown) << c.tail;
        EXPECT_EQ(s.argument, c.argument) << c.tail;
        EXPECT_TRUE(s.selfRemoval.empty()) << c.tail;
    }
    EXPECT_EQ(ParseSwitches("/~self=12 \"C:\\a b\\r.exe\"", "/~self=").selfRemoval, "12 \"C:\\a b\\r.exe\"");
}

TEST(Switches, PlanEndsAsTheRemovalWould) {
    fake::FakePlatform os;
    os.AddFile("C:\\Apps\\Foo\\unins.exe");
    RemovalPlan plan;
    plan.manifestLoaded = true;
    plan.productKey = ProductKey("Foo");
    plan.moduleCommands = {"\"C:\\Apps\\Foo\\unins.exe\" /s"};
    const RunContext context = MakeRunContext(os, "Foo.xml");
    const auto code = [&](bool empty) { int c = -1; DescribePlan(os, context, plan, empty, &c); return c; };
    EXPECT_EQ(code(true), 0);
    EXPECT_EQ(code(false), 1603) << "the program folder is refused";
    plan.moduleCommands.push_back("\"C:\\Apps\\Foo\\gone.exe\"");
    EXPECT_EQ(code(true), 1603) << "a module program is missing";
    plan.manifestLoaded = false;
    plan.manifestMissing = true;
    EXPECT_EQ(code(true), 1605) << "neither the manifest nor the key";
    os.registryKeys[plan.productKey] = 1;
    EXPECT_EQ(code(true), 1603) << "the key without its manifest";
}

TEST(Switches, LogNeitherOnTheManifestNorInTheProgramFolder) {
    fake::FakePlatform os;
    for (const char* folder : {"C:\\", "C:\\Apps", "C:\\Apps\\Foo", "C:\\Apps\\Foo\\logs"}) os.AddFolder(folder);
    os.AddFile("C:\\Apps\\Foo\\Foo.xml");
    os.aliases["L:"] = "C:\\Apps";  // a drive letter mapped onto the program folder's parent
    const std::string manifest = "C:\\Apps\\Foo\\Foo.xml", folder = "C:\\Apps\\Foo";
    for (const char* log :
         {"L:\\Foo\\Foo.xml", "L:\\Foo\\x.log", "C:\\Apps\\Foo\\logs\\x.log", "c:\\apps\\foo\\y\\x.log"}) {
        EXPECT_TRUE(LogPathRefused(os, log, manifest, folder)) << log;
    }
    for (const char* log : {"C:\\x.log", "C:\\Apps\\Foo.log", "C:\\Apps\\Foo2\\x.log"}) {
        EXPECT_FALSE(LogPathRefused(os, log, manifest, folder)) << log;
    }
}

}  // namespace
