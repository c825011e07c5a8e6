// The resources of the built program file.
#include <gtest/gtest.h>

#include <cstring>

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
    EXPECT_FALSE(Bytes(MAKEINTRESOURCEW(5) /* RT_DIALOG */, MAKEINTRESOURCEW(100)).empty());
    EXPECT_FALSE(Bytes(MAKEINTRESOURCEW(5), MAKEINTRESOURCEW(102)).empty());
    wchar_t text[64] = {};
    LoadStringW(module, 101, text, 64);
    EXPECT_STREQ(text, L"\x5173\x4E8E Drevik(&A)...");  // 关于 Drevik(&A)...
    const std::string manifest = Bytes(MAKEINTRESOURCEW(24), MAKEINTRESOURCEW(1));
    EXPECT_NE(manifest.find("requireAdministrator"), std::string::npos);
    EXPECT_NE(manifest.find("Microsoft.Windows.Common-Controls"), std::string::npos);
    EXPECT_NE(manifest.find("{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"), std::string::npos);
    EXPECT_NE(manifest.find("{e2011457-1546-43c5-a5fe-008deee3d3f0}"), std::string::npos);
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
