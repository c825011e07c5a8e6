// String helpers and the exact bytes of the program's own texts.
#include <gtest/gtest.h>

#include "plan/manifest_reader.h"
#include "platform/text.h"

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

TEST(Texts, AreCodePage936Bytes) {
    // 卸载向导; two ideographic spaces, 您是否确定要删除 ... 及其所有组件 and a full-width question mark.
    EXPECT_STREQ(kCaptionTemplate, "%s\xD0\xB6\xD4\xD8\xCF\xF2\xB5\xBC");
    EXPECT_STREQ(kPromptTemplate,
                 "\xA1\xA1\xA1\xA1\xC4\xFA\xCA\xC7\xB7\xF1\xC8\xB7\xB6\xA8\xD2\xAA\xC9\xBE\xB3\xFD%s"
                 "\xBC\xB0\xC6\xE4\xCB\xF9\xD3\xD0\xD7\xE9\xBC\xFE\xA3\xBF");
}

TEST(SamePathText, FoldsAsciiCaseOnly) {
    EXPECT_TRUE(platform::SamePathText("C:\\Program Files", "c:\\PROGRAM FILES"));
    EXPECT_FALSE(platform::SamePathText("C:\\A", "C:\\A\\"));
    EXPECT_FALSE(platform::SamePathText("C:\\A", "C:\\B"));
}

}  // namespace
