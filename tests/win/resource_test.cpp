// The resources of the built program file.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <vector>

#include "tests/win/driver.h"

namespace {

const WORD kChinese = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);

class Resources : public ::testing::Test {
protected:
    Resources() {
        module = LoadLibraryExW(testwin::Wide(testwin::BuildFolder() + "\\remover.exe").c_str(), nullptr,
                                LOAD_LIBRARY_AS_DATAFILE);
    }
    ~Resources() override {
        if (module) FreeLibrary(module);
    }
    // The bytes of a resource in Chinese (Simplified, PRC); empty when absent.
    std::string Bytes(LPCWSTR type, LPCWSTR name) const {
        HRSRC found = FindResourceExW(module, type, name, kChinese);
        if (!found) return std::string();
        HGLOBAL loaded = LoadResource(module, found);
        return std::string(static_cast<const char*>(LockResource(loaded)), SizeofResource(module, found));
    }
    HMODULE module = nullptr;
};

#pragma pack(push, 2)
struct GroupEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

TEST_F(Resources, IconHasTwoImages) {
    ASSERT_NE(module, nullptr);
    const std::string group = Bytes(MAKEINTRESOURCEW(14) /* RT_GROUP_ICON */, MAKEINTRESOURCEW(128));
    ASSERT_GE(group.size(), 6u + 2 * sizeof(GroupEntry));
    WORD count;
    std::memcpy(&count, group.data() + 4, 2);
    ASSERT_EQ(count, 2);
    GroupEntry entries[2];
    std::memcpy(entries, group.data() + 6, sizeof(entries));
    EXPECT_EQ(entries[0].width, 16);
    EXPECT_EQ(entries[0].height, 16);
    EXPECT_EQ(entries[0].bitCount, 24);
    EXPECT_EQ(entries[1].width, 32);
    EXPECT_EQ(entries[1].height, 32);
    EXPECT_EQ(entries[1].bitCount, 8);
    for (const GroupEntry& entry : entries) {
        const std::string image = Bytes(MAKEINTRESOURCEW(3) /* RT_ICON */, MAKEINTRESOURCEW(entry.id));
        ASSERT_EQ(image.size(), entry.bytes);
        LONG width;
        WORD bits;
        std::memcpy(&width, image.data() + 4, 4);
        std::memcpy(&bits, image.data() + 14, 2);
        EXPECT_EQ(width, entry.width);
        EXPECT_EQ(bits, entry.bitCount);
    }
}

TEST_F(Resources, DialogsStringAndManifest) {
    ASSERT_NE(module, nullptr);
    wchar_t text[64] = {};
    LoadStringW(module, 101, text, 64);
    EXPECT_STREQ(text, L"\x5173\x4E8E Drevik(&A)...");  // 关于 Drevik(&A)...
    const std::string manifest = Bytes(MAKEINTRESOURCEW(24), MAKEINTRESOURCEW(1));
    EXPECT_NE(manifest.find("requireAdministrator"), std::string::npos);
    EXPECT_NE(manifest.find("Microsoft.Windows.Common-Controls"), std::string::npos);
    EXPECT_NE(manifest.find("{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"), std::string::npos);
    EXPECT_NE(manifest.find("{e2011457-1546-43c5-a5fe-008deee3d3f0}"), std::string::npos);
}

// One control of a built extended dialog template.
struct Control {
    DWORD style;
    short x, y, cx, cy;
    DWORD id;
    std::string className;  // "button" or "static", whether stored as a name or an ordinal
};

// Reads the controls of an extended dialog template (DLGTEMPLATEEX), as the system will.
std::vector<Control> Controls(const std::string& bytes) {
    std::vector<Control> controls;
    const char* p = bytes.data();
    const char* end = p + bytes.size();
    auto word = [&p] { WORD w; std::memcpy(&w, p, 2); p += 2; return w; };
    auto dword = [&p] { DWORD d; std::memcpy(&d, p, 4); p += 4; return d; };
    // A name (lower-cased ASCII) or an ordinal, which for a class means a system class.
    auto skipNameOrOrdinal = [&p, &word] {
        WORD c = word();
        if (c == 0xFFFF) {
            const WORD ordinal = word();
            return std::string(ordinal == 0x80 ? "button" : ordinal == 0x82 ? "static" : "#");
        }
        std::string name;
        for (; c != 0; c = word()) name += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        return name;
    };
    if (bytes.size() < 26 || word() != 1 || word() != 0xFFFF) return controls;
    p += 8;  // help id, extended style
    const DWORD style = dword();
    const WORD count = word();
    p += 8;  // x, y, cx, cy
    skipNameOrOrdinal();  // menu
    skipNameOrOrdinal();  // class
    skipNameOrOrdinal();  // title
    if (style & DS_SETFONT) {
        p += 6;
        skipNameOrOrdinal();
    }
    for (WORD i = 0; i < count && p < end; ++i) {
        p = bytes.data() + ((p - bytes.data() + 3) & ~3);
        Control c{};
        p += 8;  // help id, extended style
        c.style = dword();
        c.x = static_cast<short>(word());
        c.y = static_cast<short>(word());
        c.cx = static_cast<short>(word());
        c.cy = static_cast<short>(word());
        c.id = dword();
        c.className = skipNameOrOrdinal();
        skipNameOrOrdinal();  // text
        p += word();          // creation data
        controls.push_back(c);
    }
    return controls;
}

// The built templates themselves: a resource compiler that drops a size or a style
// (as windres does with ICON and LTEXT statements) shows here.
TEST_F(Resources, DialogTemplatesAsBuilt) {
    ASSERT_NE(module, nullptr);
    struct Expected {
        int dialog;
        short x, y, cx, cy;
        const char* className;
        DWORD styleBits;  // all of these set
    } expected[] = {
        {100, 11, 17, 20, 20, "static", SS_ICON | WS_VISIBLE},
        {100, 40, 10, 119, 8, "static", SS_NOPREFIX | WS_GROUP | WS_VISIBLE},
        {100, 40, 25, 119, 8, "static", WS_GROUP | WS_VISIBLE},
        {100, 178, 7, 50, 14, "button", BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP},
        {102, 133, 70, 50, 14, "button", BS_DEFPUSHBUTTON | WS_TABSTOP},
        {102, 189, 70, 50, 14, "button", WS_TABSTOP},
        {102, 7, 23, 232, 30, "static", WS_GROUP | WS_VISIBLE},
    };
    std::map<int, std::vector<Control>> built;
    for (int dialog : {100, 102}) built[dialog] = Controls(Bytes(MAKEINTRESOURCEW(5), MAKEINTRESOURCEW(dialog)));
    EXPECT_EQ(built[100].size(), 4u);
    EXPECT_EQ(built[102].size(), 3u);
    size_t index[103] = {};
    for (const Expected& e : expected) {
        ASSERT_LT(index[e.dialog], built[e.dialog].size()) << "dialog " << e.dialog;
        const Control& c = built[e.dialog][index[e.dialog]++];
        EXPECT_EQ(c.x, e.x) << "dialog " << e.dialog << " control at " << e.x << "," << e.y;
        EXPECT_EQ(c.y, e.y) << "dialog " << e.dialog << " control at " << e.x << "," << e.y;
        EXPECT_EQ(c.cx, e.cx) << "dialog " << e.dialog << " control at " << e.x << "," << e.y;
        EXPECT_EQ(c.cy, e.cy) << "dialog " << e.dialog << " control at " << e.x << "," << e.y;
        EXPECT_EQ(c.className, e.className) << "dialog " << e.dialog << " control at " << e.x << "," << e.y;
        EXPECT_EQ(c.style & e.styleBits, e.styleBits) << "dialog " << e.dialog << " control at " << e.x << "," << e.y;
    }
}

std::wstring VersionString(const std::string& block, const wchar_t* name) {
    void* value = nullptr;
    UINT length = 0;
    std::wstring path = std::wstring(L"\\StringFileInfo\\080404b0\\") + name;
    if (!VerQueryValueW(block.data(), path.c_str(), &value, &length) || !value) return L"<missing>";
    return std::wstring(static_cast<const wchar_t*>(value), length > 0 ? length - 1 : 0);
}

TEST_F(Resources, VersionInformation) {
    ASSERT_NE(module, nullptr);
    std::string block = Bytes(MAKEINTRESOURCEW(16) /* RT_VERSION */, MAKEINTRESOURCEW(1));
    ASSERT_FALSE(block.empty());
    block.resize(block.size() * 2);  // VerQueryValue may use room after the block
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000001u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00000001u);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
    DWORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length));
    EXPECT_EQ(LOWORD(*translation), 0x0804);
    EXPECT_EQ(HIWORD(*translation), 1200);
    EXPECT_EQ(VersionString(block, L"FileVersion"), L"1, 0, 0, 1");
    EXPECT_EQ(VersionString(block, L"ProductVersion"), L"1, 0, 0, 1");
    EXPECT_EQ(VersionString(block, L"OriginalFilename"), L"remover.exe");
    const std::wstring description = VersionString(block, L"FileDescription");
    EXPECT_FALSE(description.empty());
    EXPECT_EQ(VersionString(block, L"InternalName"), description);
    EXPECT_EQ(VersionString(block, L"ProductName"), description);
    EXPECT_FALSE(VersionString(block, L"LegalCopyright").empty());
    for (const wchar_t* empty : {L"Comments", L"CompanyName", L"LegalTrademarks", L"PrivateBuild", L"SpecialBuild"}) {
        EXPECT_EQ(VersionString(block, empty), L"") << "field " << static_cast<const void*>(empty);
    }
}

}  // namespace
