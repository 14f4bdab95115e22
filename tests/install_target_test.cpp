// Covers: environment/install_target.cpp. Where the application is installed: the uninstall entries in both registry
// paths, the fallback to Program Files, the folder of an UninstallString, and
// the errors that stop discovery.
#include "environment/install_target.h"
#include "runtime/text.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "driver/update_sequence.h"
#include "environment/process_environment.h"
#include "runtime/exception.h"
#include "tests/demo_pc.h"

namespace {

constexpr REGSAM AllAccess64 = KEY_ALL_ACCESS | KEY_WOW64_64KEY;

// Logical paths, as the installer names them.
const std::string CurrentVersion = "Software\\Microsoft\\Windows\\CurrentVersion";
const std::string ShellFolders = CurrentVersion + "\\Explorer\\Shell Folders";
const std::string NormalEntry = CurrentVersion + "\\Uninstall\\Lexomir";
const std::string WowEntry = "Software\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Lexomir";

// How the process sees HKLM\Software. Where the view is not redirected, the
// two uninstall paths are two different keys, so each case below tests what
// it names. In the 32-bit view of 64-bit Windows both paths reach the same
// Wow6432Node key; that view has its own test.
struct View {
    const char* name;
    bool wow64;
    REGSAM access;
};
const View Windows32Bit{"32-bit Windows", false, KEY_ALL_ACCESS};
const View Windows64NativeView{"64-bit view of 64-bit Windows", true, AllAccess64};
const View Windows64WowView{"32-bit view of 64-bit Windows", true, KEY_ALL_ACCESS};

class InstallTargetTest : public DemoPc::SimTest {
protected:
    // A machine with the shell folders in place and Program Files in the
    // key every view reads.
    void Basic(const View& view) { NewPc(), DemoPc::Windows(pc(), view.wow64); }
    static void Set(const std::string& path, const std::string& name, const std::string& text, DWORD type = REG_SZ) {
        Sim::pc().registry.SetString(HKEY_LOCAL_MACHINE, path, name, text, type);
    }

    // Starts the process and runs discovery in the given view.
    bool Discover(const View& view) {
        StartProcess();
        // Until the OS is identified the shared accessor keeps the default
        // mask; a 64-bit Windows then gets the 64-bit view.
        if (view.access != SharedRegistry->Access()) SharedRegistry = std::make_unique<TRegistry>(view.access);
        GiveMessageSettings();
        return DiscoverInstallTarget("Lexomir");
    }

    bool Opened(const std::string& logicalPath) {
        for (const Sim::CallRecord& c : pc().calls)
            if (c.function == "RegOpenKeyExA" && !Sim::NameLess{}(c.detail, "HKLM\\" + logicalPath) &&
                !Sim::NameLess{}("HKLM\\" + logicalPath, c.detail))
                return true;
        return false;
    }
    bool Queried(const std::string& valueName) {
        for (const Sim::CallRecord& c : pc().calls)
            if (c.function == "RegQueryValueExA" && c.detail == valueName) return true;
        return false;
    }
    void ExpectEveryKeyClosed() {
        EXPECT_TRUE(pc().regHandles.empty()) << pc().regHandles.size() << " key handles left open";
        ASSERT_NE(SharedRegistry, nullptr);
        EXPECT_FALSE(SharedRegistry->HasOpenKey());
    }
};

TEST_F(InstallTargetTest, FolderFromTheUninstallEntriesOrProgramFiles) {
    const struct {
        const char* what;
        std::function<void()> arrange;
        std::string folder;
        std::string entry;  // UninstallEntryPath
        bool wowOpened;
    } cases[] = {
        {"entry only under the normal path",
         [] { Set(NormalEntry, "UninstallString", "D:\\Normal\\Lexomir\\unins000.exe"); }, "D:\\Normal\\Lexomir\\",
         NormalEntry, false},
        {"entries under both paths: the normal one wins",
         [] {
             Set(NormalEntry, "UninstallString", "D:\\Normal\\unins000.exe");
             Set(WowEntry, "UninstallString", "D:\\Wow\\unins000.exe");
         },
         "D:\\Normal\\", NormalEntry, false},
        {"entry only under WOW6432Node", [] { Set(WowEntry, "UninstallString", "D:\\Wow\\unins000.exe"); }, "D:\\Wow\\",
         WowEntry, true},
        {"normal key without UninstallString",
         [] {
             Set(NormalEntry, "DisplayName", "Lexomir");
             Set(WowEntry, "UninstallString", "D:\\Wow\\unins000.exe");
         },
         "D:\\Wow\\", WowEntry, true},
        {"normal key that cannot be opened",
         [] {
             Set(NormalEntry, "UninstallString", "D:\\Normal\\unins000.exe");
             Sim::pc().registry.DenyOpen(HKEY_LOCAL_MACHINE, NormalEntry);
             Set(WowEntry, "UninstallString", "D:\\Wow\\unins000.exe");
         },
         "D:\\Wow\\", WowEntry, true},
        {"normal value with no folder still counts as found",
         [] {
             Set(NormalEntry, "UninstallString", "unins000.exe");
             Set(WowEntry, "UninstallString", "D:\\Wow\\unins000.exe");
         },
         "C:\\Program Files\\Lexomir\\", NormalEntry, false},
        {"no entry: Program Files and the name", [] {}, "C:\\Program Files\\Lexomir\\", NormalEntry, true},
        {"both keys without the value",
         [] {
             Set(NormalEntry, "DisplayName", "Lexomir");
             Set(WowEntry, "DisplayName", "Lexomir");
         },
         "C:\\Program Files\\Lexomir\\", NormalEntry, true},
        {"no ProgramFilesDir and no entry: a relative folder",
         [] { Sim::pc().registry.Key(HKEY_LOCAL_MACHINE, CurrentVersion).values.clear(); }, "Lexomir\\", NormalEntry,
         true},
        {"empty ProgramFilesDir and no entry", [] { Set(CurrentVersion, "ProgramFilesDir", ""); }, "Lexomir\\",
         NormalEntry, true},
        {"ProgramFilesDir with its backslash", [] { Set(CurrentVersion, "ProgramFilesDir", "E:\\Apps\\"); },
         "E:\\Apps\\Lexomir\\", NormalEntry, true},
        {"ProgramFilesDir unexpanded",
         [] { Set(CurrentVersion, "ProgramFilesDir", "%SystemDrive%\\PF", REG_EXPAND_SZ); },
         "%SystemDrive%\\PF\\Lexomir\\", NormalEntry, true},
        {"UninstallString of type REG_EXPAND_SZ is expanded, with the 64-bit folder where that is the view",
         [] { Set(NormalEntry, "UninstallString", "%ProgramFiles%\\Lexomir\\unins000.exe", REG_EXPAND_SZ); },
         "C:\\Program Files\\Lexomir\\", NormalEntry, false},
        {"REG_EXPAND_SZ: a variable that is not set stays as written",
         [] { Set(NormalEntry, "UninstallString", "%NoSuchFolder%\\Lexomir\\unins000.exe", REG_EXPAND_SZ); },
         "%NoSuchFolder%\\Lexomir\\", NormalEntry, false},
        {"UninstallString of type REG_SZ is taken as stored",
         [] { Set(NormalEntry, "UninstallString", "%ProgramFiles%\\Lexomir\\unins000.exe"); },
         "%ProgramFiles%\\Lexomir\\", NormalEntry, false},
        {"no ProgramFilesDir, entry present",
         [] {
             Sim::pc().registry.Key(HKEY_LOCAL_MACHINE, CurrentVersion).values.clear();
             Set(WowEntry, "UninstallString", "D:\\Wow\\unins000.exe");
         },
         "D:\\Wow\\", WowEntry, true},
    };
    for (const View& view : {Windows32Bit, Windows64NativeView}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(view.name) + ": " + c.what);
            Basic(view);
            c.arrange();

            ASSERT_TRUE(Discover(view));

            EXPECT_EQ(InstallEnvironment.AppFolder, c.folder);
            EXPECT_EQ(InstallEnvironment.UninstallEntryPath, c.entry);
            EXPECT_EQ(InstallEnvironment.UninstallKeyPath, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\");
            EXPECT_TRUE(InstallEnvironment.UserIsAdmin);
            EXPECT_TRUE(Opened(NormalEntry));
            EXPECT_EQ(Opened(WowEntry), c.wowOpened);
            EXPECT_TRUE(pc().boxes.empty());
            ExpectEveryKeyClosed();
        }
    }
}

TEST_F(InstallTargetTest, AnEntryOfThe64BitViewExpandsProgramFilesAsA64BitProgramWould) {
    // The installer is a 32-bit process: its own %ProgramFiles% is the
    // "(x86)" folder, which is right only for an entry of the 32-bit view.
    // The 64-bit folders come from the 64-bit view of the registry, never
    // from variables the user may have set for the elevated process.
    const std::string fallback = "C:\\Program Files\\Lexomir\\";
    const struct {
        const char* what;
        const std::string* entry;
        std::string value;
        std::string folder;
        bool vista = false;  // Windows Vista has no ProgramW6432 or CommonProgramW6432
        DWORD type = REG_EXPAND_SZ;
    } cases[] = {
        // (A 64-bit entry's plain %ProgramFiles%: FolderFromTheUninstallEntriesOrProgramFiles.)
        {"64-bit entry, any case", &NormalEntry, "\"%programFILES%\\Lexomir\\unins000.exe\" /x",
         "C:\\Program Files\\Lexomir\\"},
        {"64-bit entry, common files", &NormalEntry, "%CommonProgramFiles%\\Lexomir\\unins.exe",
         "C:\\Program Files\\Common Files\\Lexomir\\"},
        {"64-bit entry, the 64-bit name itself", &NormalEntry, "%ProgramW6432%\\L\\u.exe", "C:\\Program Files\\L\\"},
        {"64-bit entry naming the 32-bit folder", &NormalEntry, "%ProgramFiles(x86)%\\Lexomir\\unins.exe",
         "C:\\Program Files (x86)\\Lexomir\\"},
        {"64-bit entry, a lone % first", &NormalEntry, "%%ProgramFiles%\\L\\u.exe", "%C:\\Program Files\\L\\"},
        {"32-bit entry", &WowEntry, "%ProgramFiles%\\Lexomir\\unins000.exe", "C:\\Program Files (x86)\\Lexomir\\"},
        {"32-bit entry, common files", &WowEntry, "%CommonProgramFiles%\\L\\u.exe",
         "C:\\Program Files (x86)\\Common Files\\L\\"},
        {"64-bit entry on Windows Vista, which has no ProgramW6432", &NormalEntry,
         "%ProgramFiles%\\Lexomir\\unins000.exe", "C:\\Program Files\\Lexomir\\", true},
        // WOW64 would turn System32 into SysWOW64 for this process.
        {"64-bit entry in System32", &NormalEntry, "C:\\WINDOWS\\system32\\Lexomir\\u.exe", fallback, false, REG_SZ},
        {"32-bit entry in System32", &WowEntry, "C:\\Windows\\System32\\L\\u.exe", "C:\\Windows\\System32\\L\\", false,
         REG_SZ},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Basic(Windows64NativeView);
        Set(CurrentVersion, "CommonFilesDir", "C:\\Program Files\\Common Files");
        pc().environment["ProgramW6432"] = pc().environment["CommonProgramW6432"] = "D:\\Planted";
        if (c.vista) pc().version.dwMinorVersion = 0;
        Set(*c.entry, "UninstallString", c.value, c.type);
        ASSERT_TRUE(Discover(Windows64NativeView));
        EXPECT_EQ(InstallEnvironment.AppFolder, c.folder);
    }
}

TEST_F(InstallTargetTest, The32BitViewOf64BitWindowsFindsTheWow6432NodeEntryByTheNormalPath) {
    // A 32-bit process that keeps the default view has HKLM\Software\X
    // redirected to Software\Wow6432Node\X: the normal path already reaches
    // the entry a 32-bit installer wrote there, and Program Files is the
    // 32-bit one.
    DemoPc::Setup(pc());
    ASSERT_TRUE(Discover(Windows64WowView));
    EXPECT_EQ(InstallEnvironment.AppFolder, DemoPc::Folder);
    EXPECT_EQ(InstallEnvironment.UninstallEntryPath, NormalEntry);
    EXPECT_FALSE(Opened(WowEntry));
    ExpectEveryKeyClosed();
}

TEST_F(InstallTargetTest, The32BitViewOf64BitWindowsDoesNotSeeAnEntryOnlyInThe64BitHive) {
    // Physically at Software\Microsoft\...: both paths of the 32-bit view
    // land in Wow6432Node, so the default folder (32-bit Program Files) stays.
    DemoPc::Setup(pc());
    pc().registry.Key(HKEY_LOCAL_MACHINE, DemoPc::Entry32).values.clear();
    pc().registry.SetString(HKEY_LOCAL_MACHINE, DemoPc::Entry64, "UninstallString", "D:\\Native\\unins000.exe");
    ASSERT_TRUE(Discover(Windows64WowView));
    EXPECT_EQ(InstallEnvironment.AppFolder, "C:\\Program Files (x86)\\Lexomir\\");
    EXPECT_TRUE(Opened(WowEntry));
    ExpectEveryKeyClosed();
}

TEST_F(InstallTargetTest, TheFolderOfAnUninstallString) {
    const std::string fallback = "C:\\Program Files\\Lexomir\\";
    const struct {
        std::string value;
        std::string folder;
        DWORD type = REG_SZ;
    } cases[] = {
        {"D:\\Program Files\\Lexomir\\unins000.exe", "D:\\Program Files\\Lexomir\\"},
        {"D:\\Program Files\\Lexomir\\unins000.exe /SILENT", "D:\\Program Files\\Lexomir\\"},
        {"D:\\Program Files\\Lexomir\\", "D:\\Program Files\\"},
        {"D:\\Apps\\unins.exe /LOG=D:\\Temp\\u.txt", "D:\\Apps\\unins.exe /LOG=D:\\Temp\\"},
        {"D:\\Lexomir\\\\", "D:\\Lexomir\\"},  // the next-to-last backslash is the cut
        {"\\u", "\\"},
        // 32-bit Windows has one Program Files folder.
        {"%ProgramFiles%\\Lexomir\\unins000.exe", "C:\\Program Files\\Lexomir\\", REG_EXPAND_SZ},
        {"\"%ProgramFiles%\\Lexomir\\unins000.exe\" /x", "C:\\Program Files\\Lexomir\\", REG_EXPAND_SZ},
        // Quoted: the folder of the quoted program, whatever follows.
        {"\"C:\\Program Files\\Lexomir\\unins000.exe\" /x", "C:\\Program Files\\Lexomir\\"},
        {"\"C:\\Program Files\\Lexomir\\unins000.exe\"", "C:\\Program Files\\Lexomir\\"},
        {"\"C:\\Apps\\unins.exe\" /LOG=\"D:\\Temp\\u.txt\"", "C:\\Apps\\"},
        {"\"C:\\Program Files\\Lexomir\\\"", "C:\\Program Files\\"},
        // An unclosed quote runs to the end, as on a command line.
        {"\"C:\\Program Files\\Lexomir\\unins000.exe /x", "C:\\Program Files\\Lexomir\\"},
        // No folder under the rule: the default folder stays.
        {"", fallback},
        {"x", fallback},
        {"\\", fallback},
        {"unins000.exe", fallback},
        {"Lexomir\\", fallback},
        {"C:/Apps/unins.exe", fallback},
        {"\"\"", fallback},
        {"\"unins000.exe\" /x D:\\Temp\\log", fallback},
        {"\"x", fallback},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("UninstallString [" + c.value + "]");
        Basic(Windows32Bit);
        Set(NormalEntry, "UninstallString", c.value, c.type);
        ASSERT_TRUE(Discover(Windows32Bit));
        EXPECT_EQ(InstallEnvironment.AppFolder, c.folder);
        EXPECT_FALSE(Opened(WowEntry));
    }
}

TEST_F(InstallTargetTest, AnUnreadablePerUserShellFolderShowsTheRegistryMessageAndStops) {
    const std::string russianTitle =
        "\xCE\xE1\xED\xEE\xE2\xEB\xE5\xED\xE8\xE5 \xEF\xF0\xEE\xE3\xF0\xE0\xEC\xEC\xFB "
        "\"\xCB\xE5\xEA\xF1\xEE\xEC\xE8\xF0\"";
    const std::string russianText =
        "\xCD\xE5\xF2 \xE4\xEE\xF1\xF2\xF3\xEF\xE0 \xEA "
        "\xF1\xE8\xF1\xF2\xE5\xEC\xED\xEE\xEC\xF3 \xF0\xE5\xE5\xF1\xF2\xF0\xF3";
    const struct {
        const char* what;
        std::function<void()> arrange;
    } faults[] = {
        {"Programs of type REG_DWORD",
         [] { Sim::pc().registry.SetDword(HKEY_CURRENT_USER, ShellFolders, "Programs", 1); }},
        {"Desktop of type REG_DWORD",
         [] { Sim::pc().registry.SetDword(HKEY_CURRENT_USER, ShellFolders, "Desktop", 1); }},
        {"Startup of type REG_BINARY",
         [] {
             Sim::pc().registry.SetValue(HKEY_CURRENT_USER, ShellFolders, "Startup", REG_BINARY, {'C', ':'});
         }},
        {"data that cannot be read", [] { Sim::pc().registry.Key(HKEY_CURRENT_USER, ShellFolders).failReads = true; }},
    };
    for (bool russian : {false, true}) {
        for (const auto& f : faults) {
            SCOPED_TRACE(std::string(russian ? "Russian: " : "English: ") + f.what);
            Basic(Windows32Bit);
            Set(NormalEntry, "UninstallString", "D:\\Lexomir\\unins000.exe");
            pc().userLocale = russian ? 0x0419 : 0x0409;
            f.arrange();

            EXPECT_FALSE(Discover(Windows32Bit));

            ASSERT_EQ(pc().boxes.size(), 1u);
            const Sim::BoxRecord& box = pc().boxes[0];
            EXPECT_EQ(box.owner, nullptr);
            EXPECT_EQ(box.style, UINT(0x200010));
            if (russian) {
                EXPECT_EQ(box.function, "MessageBoxExW");
                EXPECT_EQ(box.text, russianText);
                EXPECT_EQ(box.caption, russianTitle);
                EXPECT_EQ(box.language, WORD(0x19));
            } else {
                EXPECT_EQ(box.function, "MessageBoxW");
                EXPECT_EQ(box.text, "No access to system registry");
                EXPECT_EQ(box.caption, "Lexomir update");
                EXPECT_FALSE(box.language.has_value());
            }
            // The key was closed before the box appeared.
            bool userKeyOpen = false, openAtBox = true;
            for (const Sim::CallRecord& call : pc().calls) {
                if (call.function == "RegOpenKeyExA" && call.detail.rfind("HKCU\\", 0) == 0) userKeyOpen = true;
                if (call.function == "RegCloseKey") userKeyOpen = false;
                if (call.function == box.function) openAtBox = userKeyOpen;
            }
            EXPECT_FALSE(openAtBox);
            // The later steps did not run.
            EXPECT_FALSE(Opened(NormalEntry));
            EXPECT_FALSE(Opened(WowEntry));
            EXPECT_EQ(InstallEnvironment.AppFolder, "");
            ExpectEveryKeyClosed();
        }
    }
}

TEST_F(InstallTargetTest, AWrongMachineValueIsAnErrorNobodyCatches) {
    const struct {
        const char* what;
        std::function<void()> arrange;
        std::string message;
    } cases[] = {
        {"ProgramFilesDir of type REG_DWORD",
         [] { Sim::pc().registry.SetDword(HKEY_LOCAL_MACHINE, CurrentVersion, "ProgramFilesDir", 1); },
         "Invalid data type for 'ProgramFilesDir'"},
        {"Common Desktop of type REG_DWORD",
         [] { Sim::pc().registry.SetDword(HKEY_LOCAL_MACHINE, ShellFolders, "Common Desktop", 1); },
         "Invalid data type for 'Common Desktop'"},
        {"Common Programs of type REG_BINARY",
         [] { Sim::pc().registry.SetValue(HKEY_LOCAL_MACHINE, ShellFolders, "Common Programs", REG_BINARY, {1}); },
         "Invalid data type for 'Common Programs'"},
        {"Common Desktop that cannot be read",
         [] { Sim::pc().registry.Key(HKEY_LOCAL_MACHINE, ShellFolders).failReads = true; },
         "Failed to get data for 'Common Desktop'"},
        {"normal UninstallString of type REG_DWORD",
         [] { Sim::pc().registry.SetDword(HKEY_LOCAL_MACHINE, NormalEntry, "UninstallString", 1); },
         "Invalid data type for 'UninstallString'"},
        {"WOW6432Node UninstallString of type REG_MULTI_SZ",
         [] { Set(WowEntry, "UninstallString", "D:\\Wow\\unins000.exe", REG_MULTI_SZ); },
         "Invalid data type for 'UninstallString'"},
        {"normal UninstallString that cannot be read",
         [] {
             Set(NormalEntry, "UninstallString", "D:\\Normal\\unins000.exe");
             Sim::pc().registry.Key(HKEY_LOCAL_MACHINE, NormalEntry).failReads = true;
         },
         "Failed to get data for 'UninstallString'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Basic(Windows32Bit);
        c.arrange();
        try {
            Discover(Windows32Bit);
            ADD_FAILURE() << "no error raised";
        } catch (const ERegistryException& e) {
            EXPECT_EQ(e.Message(), c.message);
        }
        EXPECT_TRUE(pc().boxes.empty());
        ExpectEveryKeyClosed();
    }
}

TEST_F(InstallTargetTest, CommonProgramsIsReadOnlyOnTheNtFamily) {
    const struct {
        DWORD platform;
        bool read;
    } cases[] = {
        {VER_PLATFORM_WIN32_NT, true},
        {VER_PLATFORM_WIN32_WINDOWS, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.platform);
        Basic(Windows32Bit);
        pc().version.dwPlatformId = c.platform;
        // Wrong-typed, so that reading it on the wrong family shows.
        pc().registry.SetDword(HKEY_LOCAL_MACHINE, ShellFolders, "Common Programs", 1);
        bool ok = false;
        bool raised = false;
        try {
            ok = Discover(Windows32Bit);
        } catch (const ERegistryException&) {
            raised = true;
        }
        EXPECT_EQ(raised, c.read);
        EXPECT_EQ(ok, !c.read);
        EXPECT_EQ(Queried("Common Programs"), c.read);
        EXPECT_TRUE(Queried("Common Desktop"));
        ExpectEveryKeyClosed();
    }
}

TEST_F(InstallTargetTest, WithoutAdministratorRightsTheMachineKeysStayClosed) {
    // Every open asks for write access too, which HKLM grants administrators
    // only: nothing under HKLM is read, and the folder is the relative default.
    DemoPc::Setup(pc());
    pc().userIsAdmin = false;
    ASSERT_TRUE(Discover(Windows64WowView));
    EXPECT_FALSE(InstallEnvironment.UserIsAdmin);
    EXPECT_EQ(InstallEnvironment.AppFolder, "Lexomir\\");
    EXPECT_EQ(InstallEnvironment.UninstallEntryPath, NormalEntry);
    EXPECT_TRUE(Opened(NormalEntry));
    EXPECT_TRUE(Opened(WowEntry));
    EXPECT_FALSE(Queried("ProgramFilesDir"));
    EXPECT_FALSE(Queried("UninstallString"));
    EXPECT_TRUE(Queried("Programs"));  // HKCU is the user's own
    EXPECT_TRUE(pc().boxes.empty());
    ExpectEveryKeyClosed();
}

TEST_F(InstallTargetTest, AddTrailingBackslash) {
    const struct {
        std::string path, expected;
    } cases[] = {
        {"", ""}, {"C:", "C:\\"}, {"C:\\", "C:\\"}, {"Lexomir", "Lexomir\\"}, {"a\\b\\", "a\\b\\"}, {"a/", "a/\\"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("[" + c.path + "]");
        std::string path = c.path;
        AddTrailingBackslash(path);
        EXPECT_EQ(path, c.expected);
    }
}

}  // namespace
