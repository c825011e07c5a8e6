// Hostile installations, end to end through the real program: each case plants a
// program folder, files that must survive it, starts remover.exe, presses OK and
// checks what is left. The cases hunt for names that turn into "..\" in an ANSI code
// page, other spellings of protected folders, depth and length, and unread manifests.
#include <gtest/gtest.h>
#include <shlobj.h>

#include <algorithm>
#include <functional>
#include <map>
#include <vector>

#include "tests/win/driver.h"

namespace {

using testwin::KeyExists;
using testwin::MakeKey;
using testwin::PathExists;
using testwin::SetKeyText;
using testwin::ShellFolder;
using testwin::WriteFile;

const std::string kUninstall = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

struct Install {
    std::string base, app, launch, argument = "Foo.xml", manifest = "Foo.xml", display = "Foo", modules;
    std::string log, desktop = ShellFolder(CSIDL_DESKTOPDIRECTORY), programs = ShellFolder(CSIDL_PROGRAMS);
    std::string child = testwin::TestProgramFolder() + "\\test_child.exe";
    std::map<std::string, std::string> kept;         // files that must survive, with their contents
    std::vector<std::string> dropFiles, dropFolders, dropKeys, dropUserKeys;  // clean-up outside the scratch folder
    mutable bool emptied = false;                    // then the program and its folder go after it ends
    std::string shown;                               // the closing message's text
    std::function<void(Install&)> after;             // once the program has ended
    ~Install() {
        for (const std::string& file : dropFiles) DeleteFileW(testwin::LongPath(file).c_str());
        for (const std::string& folder : dropFolders) RemoveDirectoryW(testwin::LongPath(folder).c_str());
        for (const std::string& key : dropKeys) RegDeleteTreeW(HKEY_LOCAL_MACHINE, testwin::Wide(key).c_str());
        for (const std::string& key : dropUserKeys) RegDeleteTreeW(HKEY_CURRENT_USER, testwin::Wide(key).c_str());
    }
    void Keep(const std::string& path) {
        kept[path] = "keep " + path;
        WriteFile(path, kept[path]);
        if (path.compare(0, base.size(), base) != 0) dropFiles.push_back(path);
    }
    void OnlyProgramLeft(const std::string& others = std::string()) const {
        std::string left;
        for (const auto& entry : testwin::Snapshot(app)) left += entry.first + "\n";
        EXPECT_EQ(left, others + "remover.exe\n") << "only the running program stays, and what is not ours";
        emptied = others.empty();
    }
    void ExpectKept(const char* when) const {
        for (const auto& file : kept) EXPECT_EQ(testwin::ReadFile(file.first), file.second) << file.first << when;
    }
};

// How a case ends: everything gone; nothing removed because no manifest could be
// read; the program folder refused, and the warning names it; or links that stay,
// which the warning and the log name, to go by hand; or what a program holds (kHeld).
enum Ending { kRemoved, kUnread, kFolderRefused, kLinksStay, kHeld };

struct Case {
    const char* name;
    UINT codePage;  // the ANSI code page the case needs, proven by a module that reports it; 0: not checked
    Ending ending;
    DWORD exitCode;
    std::function<void(Install&)> plant, check;
};
void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

// Wine takes a process's ANSI code page from its Unix locale, inherited by the
// processes it starts, so one run covers one code page: 936 under the default
// zh_CN.UTF-8, others in the ctest entry that runs this program under their locale.
UINT RunCodePage() {
    wchar_t value[16] = {};
    return GetEnvironmentVariableW(L"REMOVER_TEST_CODE_PAGE", value, 16) ? static_cast<UINT>(_wtoi(value)) : 936;
}

const std::string kUser = [] {
    const std::string profile = ShellFolder(CSIDL_PROFILE);
    return profile.substr(profile.rfind('\\') + 1);
}();

// A folder of the system's own (a temp folder) as the program folder: refused as it
// is. A folder the case `makes` goes again afterwards.
Case SystemFolderAsProgramFolder(const char* name, std::function<std::string()> folder, bool makes = false) {
    return {name, 0, kFolderRefused, 1603,
            [folder, makes](Install& t) {
                t.app = folder();
                t.dropFiles = {t.app + "\\remover.exe", t.app + "\\Foo.xml"};
                t.dropFolders = {t.app + "\\hostile-sub"};
                if (makes) t.dropFolders.push_back(t.app);
                t.Keep(t.app + "\\another program's.tmp");
                t.Keep(t.app + "\\hostile-sub\\keep.txt");
            },
            nullptr};
}

std::string UserTemp() {
    wchar_t path[MAX_PATH + 1] = {};
    const std::string temp = testwin::Utf8(std::wstring(path, GetTempPathW(MAX_PATH + 1, path)));
    return temp.substr(0, temp.size() - 1);
}

// The Desktop as the program folder, reached by another spelling: nothing of it goes.
Case DesktopThrough(const char* name, std::string root) {
    return {name, 936, kFolderRefused, 1603,
            [root](Install& t) {
                ASSERT_TRUE(PathExists(root + "\\Desktop")) << "the harness links it (make_links.sh)";
                t.app = t.desktop;
                t.launch = root + "\\Desktop\\remover.exe";
                t.dropFiles = {t.app + "\\remover.exe", t.app + "\\Foo.xml", t.app + "\\probe.exe"};
                t.Keep(t.desktop + "\\hostile-desktop.txt");
                t.Keep(t.desktop + "\\hostile-sub\\keep.txt");
                t.dropFolders = {t.desktop + "\\hostile-sub"};
            },
            [](Install& t) { EXPECT_TRUE(PathExists(t.app + "\\Foo.xml")); }};
}

// The Start-up folder as the product's group, with another program's shortcut that
// leads into `folder` (the program folder or a folder inside it), which must stay.
void StartupGroupBeside(Install& t, const std::string& folder) {
    const std::string startup = ShellFolder(CSIDL_STARTUP);
    t.modules = "<Module><ShortCut root=\"PROGRAMS\" group=\"" + startup.substr(t.programs.size() + 1) +
                "\" link=\"Foo\"/></Module>";
    WriteFile(startup + "\\Foo.lnk", "ours");
    t.Keep(folder + "\\other.exe");
    ASSERT_TRUE(testwin::MakeShortcut(startup + "\\RemoverHostileOther.lnk", folder + "\\other.exe"));
    t.dropFiles.insert(t.dropFiles.end(), {startup + "\\Foo.lnk", startup + "\\RemoverHostileOther.lnk"});
    t.dropFolders.push_back(folder);
    t.after = [](Install&) {
        EXPECT_FALSE(PathExists(ShellFolder(CSIDL_STARTUP) + "\\Foo.lnk")) << "the shortcut the manifest names goes";
        EXPECT_TRUE(PathExists(ShellFolder(CSIDL_STARTUP) + "\\RemoverHostileOther.lnk"));
    };
}

// Has the swapper replace each `path|target` by a link once `watch` (a folder that
// goes first) begins to shrink, or at once; the links go again after the run.
void SwapForLinks(Install& t, const std::string& name, const std::vector<std::string>& links,
                  const std::string& watch = std::string()) {
    std::string orders = watch.empty() ? std::string() : "watch|" + watch + "|2990\n", drop;
    for (const std::string& link : links) {
        orders += "link|" + link + "\n";
        drop += "unlink|" + link.substr(0, link.find('|')) + "\n";
    }
    ASSERT_TRUE(testwin::Swap(name, orders, watch.empty() ? 10000 : 0));
    t.argument = "/log=" + t.base + "\\remover.log " + t.argument;
    t.after = [name, drop](Install& t) {
        EXPECT_TRUE(testwin::SwapDone(name, 0)) << "the swap came in time";
        EXPECT_TRUE(testwin::Swap(name + "-undo", drop, 10000));
    };
}

// The files outside that the hard links lead to, with their attributes.
const DWORD kOutsideBits[] = {FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_READONLY,
                              FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM};
std::wstring OutsideFile(const Install& t, int i) { return testwin::Wide(t.base + "\\outside\\" + std::to_string(i)); }

// Each link the walk met stays, told as one (Wine follows a link it opens, so it
// cannot delete the link alone), and what it leads to is untouched.
std::function<void(Install&)> LinksLeft(std::vector<std::string> names) {
    return [names](Install& t) {
        const std::string log = testwin::ReadFile(t.base + "\\remover.log");
        for (const std::string& name : names) {
            EXPECT_NE(log.find("left: " + name + ": error 681"), std::string::npos) << name << "\n" << log;
        }
        EXPECT_NE(t.shown.find("（无法单独删除的链接）\n"), std::string::npos) << "named with why: " << t.shown;
    };
}

const Case kCases[] = {
    // Hard links to files outside, the first held open without delete sharing: all those keep their bits.
    {"HardLinksToOutsideFiles", 0, kHeld, 1603,
     [](Install& t) {
         testwin::MakeFolders(t.app);
         for (int i = 0; i < 3; ++i) {
             t.Keep(t.base + "\\outside\\" + std::to_string(i));
             ASSERT_TRUE(SetFileAttributesW(OutsideFile(t, i).c_str(), kOutsideBits[i]) &&
                         CreateHardLinkW(testwin::Wide(t.app + "\\link" + std::to_string(i)).c_str(),
                                         OutsideFile(t, i).c_str(), nullptr));
         }
         HANDLE held = CreateFileW(testwin::Wide(t.app + "\\link0").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
         t.after = [held](Install&) { CloseHandle(held); };
     },
     [](Install& t) {
         t.OnlyProgramLeft("Foo.xml\nlink0\n");
         for (int i = 0; i < 3; ++i) {
             EXPECT_EQ(GetFileAttributesW(OutsideFile(t, i).c_str()) & ~FILE_ATTRIBUTE_ARCHIVE, kOutsideBits[i]) << i;
         }
     }},
    {"FoldersAndAFileSwappedForLinksMidWalk", 0, kLinksStay, 1603,
     [](Install& t) {
         for (int i = 0; i < 3000; ++i) WriteFile(t.app + "\\aaa-big\\" + std::to_string(i) + ".dat", "");
         std::vector<std::string> links;
         for (int i = 10; i < 30; ++i) {
             const std::string n = std::to_string(i), victim = t.base + "\\outside\\victim" + n;
             WriteFile(t.app + "\\sub" + n + "\\own.txt", "own");
             t.Keep(victim + "\\keep.txt");
             links.push_back(t.app + "\\sub" + n + "|" + victim);
         }
         WriteFile(t.app + "\\zz-file.txt", "own");
         t.Keep(t.base + "\\outside\\victim.txt");
         links.push_back(t.app + "\\zz-file.txt|" + t.base + "\\outside\\victim.txt");
         SwapForLinks(t, "midwalk", links, t.app + "\\aaa-big");
     },
     [](Install& t) { LinksLeft({t.app + "\\sub10", t.app + "\\sub29", t.app + "\\zz-file.txt"})(t); }},
    // With names another system wrote (Wine's Linux side can) that Windows cannot spell.
    {"FileLinkAndForeignNamesPlantedBeforeTheRun", 0, kLinksStay, 1603,
     [](Install& t) {
         t.Keep(t.base + "\\outside\\victim.txt");
         WriteFile(t.app + "\\own.txt", "own");
         const std::string file = "file|" + t.app + "\\";
         ASSERT_TRUE(testwin::Swap("names", file + "dot.\n" + file + "space \n" + file + "wild*?\n", 10000));
         SwapForLinks(t, "planted", {t.app + "\\readme.txt|" + t.base + "\\outside\\victim.txt"});
     },
     [](Install& t) {
         LinksLeft({t.app + "\\readme.txt"})(t);
         for (const char* name : {"dot.", "space ", "wild*?"}) {
             EXPECT_NE(t.shown.find("\n" + t.app + "\\" + name + "（Windows 无法处理的名称）"), std::string::npos) << t.shown;
         }
     }},
    {"GroupFolderSwappedForALink", 0, kLinksStay, 1603,
     [](Install& t) {
         const std::string group = t.programs + "\\Drevik Swapped";
         t.modules = "<Module><ShortCut root=\"PROGRAMS\" group=\"Drevik Swapped\" link=\"Foo\"/></Module>";
         t.Keep(t.base + "\\outside\\Foo.lnk");
         t.Keep(t.base + "\\outside\\sub\\keep.txt");
         testwin::MakeFolders(group);
         SwapForLinks(t, "group", {group + "|" + t.base + "\\outside"});
     },
     [](Install& t) { LinksLeft({t.programs + "\\Drevik Swapped"})(t); }},
    {"LookAlikeDotsAndBackslashes", 1252, kRemoved, 0,
     [](Install& t) {
         // In code page 1252 these fold to "..\Victim", "..\..\x" and "..\Victim".
         for (const char* name : {"．．＼Victim", "．．＼．．＼x", "..∖Victim"}) {
             WriteFile(t.app + "\\" + name + "\\own.txt", name);
         }
         t.Keep(t.base + "\\Victim\\keep.txt");
         t.Keep(t.base.substr(0, t.base.rfind('\\')) + "\\x\\keep.txt");
     },
     [](Install& t) { t.OnlyProgramLeft(); }},
    {"ProgramFolderNamedFullWidthDots", 1252, kRemoved, 0,
     [](Install& t) {
         t.app = t.base + "\\．．";
         WriteFile(t.app + "\\own.txt", "own");
         WriteFile(t.app + "\\sub\\own.txt", "own");
         t.Keep(t.base + "\\other\\keep.txt");
         t.Keep(t.base + "\\keep.txt");
     },
     [](Install& t) { t.OnlyProgramLeft(); }},
    {"KoreanAndEmojiNames", 936, kRemoved, 0,
     [](Install& t) {
         WriteFile(t.app + "\\한국어\\파일.txt", "ko");
         WriteFile(t.app + "\\😀 폴더\\🎉.txt", "emoji");
         WriteFile(t.app + "\\😀.txt", "emoji");
     },
     [](Install& t) { t.OnlyProgramLeft(); }},
    {"ProductNamedInBothScripts", 0, kRemoved, 0,
     [](Install& t) {
         t.argument = t.manifest = "好運.xml";
         t.display = "好運客户端";
         t.modules = "<Module><ShortCut root=\"DESKTOP\" link=\"好運\"/>"
                     "<ShortCut root=\"PROGRAMS\" group=\"好運\" link=\"x\"/></Module>";
         WriteFile(t.desktop + "\\好運.lnk", "link");
         WriteFile(t.programs + "\\好運\\好運.lnk", "link");
         WriteFile(t.programs + "\\好運\\子\\说明.txt", "notes");
         t.Keep(t.desktop + "\\好運-other.lnk");
         t.Keep(t.programs + "\\好運.lnk");
         t.dropKeys = {kUninstall + "好運", kUninstall + "好運2"};
         MakeKey(kUninstall + "好運\\子");
         MakeKey(kUninstall + "好運2");
     },
     [](Install& t) {
         t.OnlyProgramLeft();
         EXPECT_FALSE(PathExists(t.desktop + "\\好運.lnk"));
         EXPECT_FALSE(PathExists(t.programs + "\\好運"));
         EXPECT_FALSE(KeyExists(kUninstall + "好運"));
         EXPECT_TRUE(KeyExists(kUninstall + "好運2"));
     }},
    {"LongPathAndThousandLevels", 0, kRemoved, 0,
     [](Install& t) {
         const std::string folder = t.app + "\\" + std::string(100, 'p') + "\\" + std::string(100, 'q');
         WriteFile(folder + "\\" + std::string(300 - folder.size() - 5, 'r') + ".txt", "long");
         // The harness lays the chain out (make_links.sh): Wine needs most of a minute for it.
         testwin::MakeFolders(t.app);
         ASSERT_TRUE(MoveFileW(testwin::LongPath("C:\\remover-tests\\deep-seed").c_str(),
                               testwin::LongPath(t.app + "\\deep").c_str()));
         std::string deep = t.app + "\\deep";
         for (int i = 0; i < 1000; ++i) deep += "\\d";
         ASSERT_TRUE(PathExists(deep + "\\bottom.txt"));
     },
     [](Install& t) { t.OnlyProgramLeft(); }},
    DesktopThrough("DriveLetterOntoTheUsers", "Y:\\" + kUser),
    DesktopThrough("LinkedParentOfTheDesktop", "C:\\linkparent"),
    {"StartupGroupLosesOnlyItsShortcut", 0, kRemoved, 0,
     [](Install& t) {
         const std::string startup = ShellFolder(CSIDL_STARTUP);
         ASSERT_EQ(startup.find(t.programs + "\\"), 0u);
         t.modules = "<Module><ShortCut root=\"PROGRAMS\" group=\"" + startup.substr(t.programs.size() + 1) +
                     "\" link=\"Foo\"/></Module>";
         WriteFile(startup + "\\Foo.lnk", "ours");
         WriteFile(t.app + "\\updater.exe", "ours");
         ASSERT_TRUE(testwin::MakeShortcut(startup + "\\Foo Updater.lnk", t.app + "\\updater.exe"));
         t.dropFiles = {startup + "\\Foo.lnk", startup + "\\Foo Updater.lnk"};
         t.Keep(startup + "\\Another program.lnk");
     },
     [](Install& t) {
         t.OnlyProgramLeft();
         EXPECT_FALSE(PathExists(ShellFolder(CSIDL_STARTUP) + "\\Foo.lnk"));
         EXPECT_FALSE(PathExists(ShellFolder(CSIDL_STARTUP) + "\\Foo Updater.lnk")) << "it leads into the product";
     }},
    {"VendorGroupSharedWithAnotherProduct", 0, kRemoved, 0,
     [](Install& t) {
         const std::string group = t.programs + "\\Drevik Hostile", bar = t.base + "\\Bar Client";
         t.modules = "<Module><ShortCut root=\"PROGRAMS\" group=\"Drevik Hostile\" link=\"Foo\"/></Module>";
         WriteFile(group + "\\Foo.lnk", "ours");
         WriteFile(bar + "\\bar.exe", "bar");
         ASSERT_TRUE(testwin::MakeShortcut(group + "\\Bar.lnk", bar + "\\bar.exe"));
         ASSERT_TRUE(SetKeyText(kUninstall + "RemoverHostileBar", "UninstallString", "\"" + bar + "\\unins.exe\" /S"));
         t.dropKeys = {kUninstall + "RemoverHostileBar"};
         t.dropFiles = {group + "\\Bar.lnk", group + "\\Foo.lnk"};
         t.dropFolders = {group};
     },
     [](Install& t) {
         t.OnlyProgramLeft();
         EXPECT_FALSE(PathExists(t.programs + "\\Drevik Hostile\\Foo.lnk"));
         EXPECT_TRUE(PathExists(t.programs + "\\Drevik Hostile\\Bar.lnk")) << "another product's shortcut stays";
     }},
    SystemFolderAsProgramFolder("UserTempAsProgramFolder", UserTemp),
    // Spelled as Wine names it: the warning shows the name the system reports.
    SystemFolderAsProgramFolder("WindowsTempAsProgramFolder", [] { return ShellFolder(CSIDL_WINDOWS) + "\\temp"; }),
    // Bar's entry names its manifest with a folder part, read as this program reads its own.
    {"TwoProductsInOneFolderRemovedOneAfterTheOther", 0, kRemoved, 0,
     [](Install& t) {
         const std::string program = "\"" + t.app + "\\remover.exe\" ";
         WriteFile(t.app + "\\Bar.xml", "<?xml version=\"1.0\"?><Install><Setup DisplayName=\"Bar\"/></Install>");
         WriteFile(t.app + "\\bar-data\\bar.dat", "bar");
         ASSERT_TRUE(SetKeyText(kUninstall + "Foo", "UninstallString", program + "Foo.xml"));
         ASSERT_TRUE(SetKeyText(kUninstall + "Bar", "UninstallString", program + "/S .\\Bar.xml"));
         t.dropKeys = {kUninstall + "Foo", kUninstall + "Bar"};
         t.after = [](Install& t) {
             testwin::Program bar(t.app + "\\remover.exe", "/S Bar.xml");
             ASSERT_TRUE(bar.WaitForExit(60000));
             EXPECT_EQ(bar.ExitCode(), 0u);
             EXPECT_FALSE(KeyExists(kUninstall + "Bar"));
             t.emptied = true;  // the last product removed empties the folder
         };
     },
     [](Install& t) {
         EXPECT_FALSE(PathExists(t.app + "\\Foo.xml") || KeyExists(kUninstall + "Foo"));
         EXPECT_EQ(testwin::ReadFile(t.app + "\\bar-data\\bar.dat"), "bar") << "the other product's files stay";
         EXPECT_TRUE(PathExists(t.app + "\\Bar.xml") && KeyExists(kUninstall + "Bar"));
     }},
    {"ManifestNamedWithAFolderPart", 0, kRemoved, 0,
     [](Install& t) {
         t.argument = ".\\Foo.xml";
         ASSERT_TRUE(testwin::MakeKey(kUninstall + "Foo\\Sub") && testwin::MakeKey(kUninstall + "Foo Other"));
         t.dropKeys = {kUninstall + "Foo", kUninstall + "Foo Other"};
     },
     [](Install& t) {
         t.OnlyProgramLeft();
         EXPECT_FALSE(KeyExists(kUninstall + "Foo")) << "the product is Foo";
         EXPECT_TRUE(KeyExists(kUninstall + "Foo Other"));
     }},
    // Another product installed inside the program folder, with an autostart shortcut.
    {"ProductInstalledInsideTheFolder", 0, kRemoved, 0,
     [](Install& t) {
         const std::string bar = t.app + "\\Bar";
         t.Keep(bar + "\\data\\bar.dat");
         StartupGroupBeside(t, bar);
         ASSERT_TRUE(SetKeyText(kUninstall + "RemoverHostileBar", "UninstallString", "\"" + bar + "\\unins.exe\" /S") &&
                     SetKeyText(kUninstall + "RemoverHostileBar", "InstallLocation", bar));
         t.dropKeys = {kUninstall + "RemoverHostileBar"};
     },
     [](Install& t) {
         t.OnlyProgramLeft("Bar\\\nBar\\data\\\nBar\\data\\bar.dat\nBar\\other.exe\n");
         EXPECT_TRUE(KeyExists(kUninstall + "RemoverHostileBar"));
     }},
    // Products known by their InstallLocation alone, spelled with a slash: inside the
    // folder they stay; outside, their shortcut in the product's own group stays too.
    {"ProductLocationsEndingInSlash", 0, kRemoved, 0,
     [](Install& t) {
         const std::string group = t.programs + "\\RemoverHostileFoo", other = t.base + "\\Other";
         t.modules = "<Module><ShortCut root=\"PROGRAMS\" group=\"RemoverHostileFoo\" link=\"Foo\"/></Module>";
         WriteFile(group + "\\Foo.lnk", "ours");
         t.Keep(other + "\\other.exe");
         ASSERT_TRUE(testwin::MakeShortcut(group + "\\Other.lnk", other + "\\other.exe"));
         std::string slashed = t.app + "\\C/";
         for (char& c : slashed) c = c == '\\' ? '/' : c;
         const std::string spelled[] = {t.app + "\\A/", t.app + "\\B\\/", slashed, other + "/"};
         for (int i = 0; i < 4; ++i) {
             if (i < 3) t.Keep(t.app + "\\" + std::string(1, static_cast<char>('A' + i)) + "\\x.dat");
             const std::string key = kUninstall + "RemoverHostileSlash" + std::to_string(i);
             ASSERT_TRUE(SetKeyText(key, "InstallLocation", spelled[i]));
             t.dropKeys.push_back(key);
         }
         t.dropFiles = {group + "\\Other.lnk"};
         t.dropFolders = {group};
     },
     [](Install& t) {
         t.OnlyProgramLeft("A\\\nA\\x.dat\nB\\\nB\\x.dat\nC\\\nC\\x.dat\n");
         EXPECT_TRUE(PathExists(t.programs + "\\RemoverHostileFoo\\Other.lnk"));
         EXPECT_FALSE(PathExists(t.programs + "\\RemoverHostileFoo\\Foo.lnk"));
     }},
    // Installed for one user: the key in HKEY_CURRENT_USER alone leaves the list too.
    {"PerUserKeyOnly", 0, kRemoved, 0,
     [](Install& t) {
         ASSERT_TRUE(SetKeyText(kUninstall + "Foo", "UninstallString", "\"" + t.app + "\\remover.exe\" Foo.xml",
                                HKEY_CURRENT_USER));
         t.dropUserKeys = {kUninstall + "Foo"};
         t.argument = "/log=" + t.base + "\\remover.log Foo.xml";
     },
     [](Install& t) {
         t.OnlyProgramLeft();
         EXPECT_FALSE(KeyExists(kUninstall + "Foo", HKEY_CURRENT_USER));
         const std::string log = testwin::ReadFile(t.base + "\\remover.log");
         EXPECT_NE(log.find("registry key deleted: HKEY_CURRENT_USER\\" + kUninstall + "Foo"), std::string::npos) << log;
     }},
    // Dropped straight into Program Files: refused, and another program's shortcut
    // into that folder is not the product's.
    {"DroppedIntoProgramFiles", 0, kFolderRefused, 1603,
     [](Install& t) {
         t.app = ShellFolder(CSIDL_PROGRAM_FILES);
         t.dropFiles = {t.app + "\\remover.exe", t.app + "\\Foo.xml"};
         StartupGroupBeside(t, t.app + "\\RemoverHostileOther");
     },
     nullptr},
    SystemFolderAsProgramFolder("FolderMadeUpInsideWindows", [] { return ShellFolder(CSIDL_WINDOWS) + "\\remover-hostile"; },
                                true),
    SystemFolderAsProgramFolder("PerUserProgramFilesRoot", [] { return ShellFolder(CSIDL_LOCAL_APPDATA) + "\\Programs"; },
                                true),
    // Entries that claim the folder for another product: one any user may write, with
    // a real manifest, and an administrator's that names a file that is no manifest.
    {"EntriesClaimingTheFolder", 0, kRemoved, 0,
     [](Install& t) {
         const std::string program = "\"" + t.app + "\\remover.exe\" /S ";
         WriteFile(t.app + "\\Bar.xml", "<?xml version=\"1.0\"?><Install><Setup DisplayName=\"Bar\"/></Install>");
         WriteFile(t.app + "\\data\\x.dat", "data");
         ASSERT_TRUE(SetKeyText(kUninstall + "RemoverHostileUser", "UninstallString", program + "Bar.xml",
                                HKEY_CURRENT_USER));
         ASSERT_TRUE(SetKeyText(kUninstall + "RemoverHostileData", "UninstallString", program + "data\\x.dat"));
         t.dropUserKeys = {kUninstall + "RemoverHostileUser"};
         t.dropKeys = {kUninstall + "RemoverHostileData"};
     },
     [](Install& t) { t.OnlyProgramLeft(); }},
    // Entries any user may write, naming a folder inside the program folder and the
    // profile: the product's own group goes all the same.
    {"UserEntriesNamingItsFolders", 0, kRemoved, 0,
     [](Install& t) {
         const std::string group = t.programs + "\\RemoverHostileFoo";
         t.modules = "<Module><ShortCut root=\"PROGRAMS\" group=\"RemoverHostileFoo\" link=\"Foo\"/></Module>";
         WriteFile(group + "\\Foo.lnk", "ours");
         WriteFile(t.app + "\\bin\\tool.exe", "ours");
         ASSERT_TRUE(testwin::MakeShortcut(group + "\\Foo Tool.lnk", t.app + "\\bin\\tool.exe"));
         ASSERT_TRUE(testwin::MakeShortcut(group + "\\Foo Profile.lnk", ShellFolder(CSIDL_PROFILE)));
         ASSERT_TRUE(SetKeyText(kUninstall + "RemoverHostileSub", "InstallLocation", t.app + "\\bin", HKEY_CURRENT_USER));
         ASSERT_TRUE(SetKeyText(kUninstall + "RemoverHostileProfile", "InstallLocation", ShellFolder(CSIDL_PROFILE),
                                HKEY_CURRENT_USER));
         t.dropUserKeys = {kUninstall + "RemoverHostileSub", kUninstall + "RemoverHostileProfile"};
         t.dropFiles = {group + "\\Foo.lnk", group + "\\Foo Tool.lnk", group + "\\Foo Profile.lnk"};
         t.dropFolders = {group};
     },
     [](Install& t) {
         t.OnlyProgramLeft();
         EXPECT_FALSE(PathExists(t.programs + "\\RemoverHostileFoo"));
     }},
    {"NoArgument", 0, kUnread, 1605, [](Install& t) { t.argument.clear(); }, nullptr},
    {"MissingManifest", 0, kUnread, 1605, [](Install& t) { t.manifest.clear(); }, nullptr},
    {"PlantedProgramBesideTheFolder", 0, kRemoved, 0,
     [](Install& t) {
         t.app = t.base + "\\Foo Client";
         t.modules = "<Module dir=\"bin\" uninstall=\"unins.exe\" uninstallparam=\"planted\"/>";
         testwin::MakeFolders(t.app + "\\bin");
         ASSERT_TRUE(testwin::CopyTo(t.child, t.app + "\\bin\\unins.exe"));
         ASSERT_TRUE(testwin::CopyTo(t.child, t.base + "\\Foo.exe"));
     },
     [](Install& t) {
         t.OnlyProgramLeft();
         const std::string log = testwin::ReadFile(t.log), own = t.app + "\\bin\\unins.exe";
         EXPECT_EQ(log.find("begin " + own + " | \"" + own + "\""), 0u) << log;
         EXPECT_EQ(log.find("begin"), log.rfind("begin")) << "one program ran: " << log;
         EXPECT_TRUE(PathExists(t.base + "\\Foo.exe"));
     }},
};

class Hostile : public ::testing::TestWithParam<Case> {};

TEST_P(Hostile, OkRemovesOnlyWhatItOwns) {
    const Case& c = GetParam();
    ASSERT_EQ(GetACP(), RunCodePage()) << "the locale of this run took effect";
    Install t;
    t.base = testwin::ScratchFolder(std::string("hostile\\") + c.name);
    t.app = t.base + "\\app";
    t.log = t.base + "\\log.txt";
    t.Keep(t.base + "\\sibling\\keep.txt");
    c.plant(t);
    if (HasFatalFailure()) return;
    if (t.launch.empty()) t.launch = t.app + "\\remover.exe";
    testwin::MakeFolders(t.app);
    ASSERT_TRUE(testwin::CopyTo(testwin::BuildFolder() + "\\remover.exe", t.app + "\\remover.exe"));
    if (c.codePage) {
        ASSERT_TRUE(testwin::CopyTo(t.child, t.app + "\\probe.exe"));
        t.modules += "<Module uninstall=\"probe.exe\" uninstallparam=\"acp\"/>";
    }
    if (!t.manifest.empty()) {
        WriteFile(t.app + "\\" + t.manifest, "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Install><Setup DisplayName=\"" +
                                                 t.display + "\"/>" + t.modules + "</Install>");
    }
    const bool unread = c.ending == kUnread;
    const auto before = unread ? testwin::Snapshot(t.app) : std::map<std::string, long long>();

    SetEnvironmentVariableW(L"REMOVER_TEST_LOG", testwin::Wide(t.log).c_str());
    testwin::Program program(t.launch, t.argument);
    ASSERT_TRUE(program.started()) << t.launch;
    HWND dialog = program.WaitForDialog();
    ASSERT_NE(dialog, nullptr);
    testwin::PressButton(dialog, IDOK);
    const char* caption[] = {"卸载成功", "卸载", "卸载未完成", "卸载未完成", "卸载未完成"};
    const std::string text[] = {
        t.display + "卸载完毕，我们会继续努力，谢谢使用！", "无法读取卸载信息，未删除任何内容。",
        t.display + "卸载未完成，以下项目未能删除：\n\n" + t.launch.substr(0, t.launch.rfind('\\'))};
    HWND box = program.WaitForDialog(caption[c.ending], 60000, dialog);
    ASSERT_NE(box, nullptr) << "the closing message appears";
    t.shown = testwin::ItemText(box, 0xFFFF);
    if (c.ending == kLinksStay || c.ending == kHeld) {
        // Closing programs helps only what one holds; what none holds goes by hand.
        EXPECT_EQ(t.shown.find(t.display + "卸载未完成，以下项目未能删除：\n"), 0u) << t.shown;
        EXPECT_NE(t.shown.find(c.ending == kHeld ? "保留：关闭占用这些项目的程序后" : "保留：手动删除这些项目后"), std::string::npos);
        EXPECT_EQ(t.shown.find("关闭") == std::string::npos, c.ending == kLinksStay) << t.shown;
    } else {
        EXPECT_EQ(testwin::ItemText(box, 0xFFFF), text[c.ending]);
    }
    EXPECT_EQ(GetWindow(box, GW_OWNER), dialog);
    EXPECT_EQ(testwin::ShowsIcon(box), c.ending != kRemoved) << "a warning icon exactly when something stays";

    // Checked while the message shows: once it is closed the program removes itself.
    if (c.codePage) {
        EXPECT_NE(testwin::ReadFile(t.log).find("acp=" + std::to_string(c.codePage) + "\n"), std::string::npos)
            << "the program ran under the code page the case is about: " << testwin::ReadFile(t.log);
    }
    if (unread) EXPECT_EQ(testwin::Snapshot(t.app), before) << "nothing removed";
    t.ExpectKept("");
    if (c.check) c.check(t);
    testwin::PressButton(box, IDOK);
    ASSERT_TRUE(program.WaitForExit());
    EXPECT_EQ(program.ExitCode(), c.exitCode);
    if (t.after) t.after(t);
    if (t.emptied) {
        for (int i = 0; i < 150 && PathExists(t.app); ++i) Sleep(100);
        EXPECT_FALSE(PathExists(t.app)) << "the program and its emptied folder go after it ends";
    }
    t.ExpectKept(" (after the program ended)");
}

std::vector<Case> CasesOfThisRun() {
    std::vector<Case> cases;
    for (const Case& c : kCases) {
        if ((c.codePage ? c.codePage : 936) == RunCodePage()) cases.push_back(c);
    }
    return cases;
}

// Numbered, so that ctest names each case by its printed name.
INSTANTIATE_TEST_SUITE_P(Cases, Hostile, ::testing::ValuesIn(CasesOfThisRun()));

}  // namespace
