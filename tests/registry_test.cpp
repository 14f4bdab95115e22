// Covers: environment/registry.cpp. TRegistry on the simulated registry: roots, paths, opens, reads, writes,
// the access mask of every open and the registry view it selects.
#include "environment/registry.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "runtime/exception.h"
#include "tests/demo_pc.h"

namespace {

constexpr REGSAM AllAccess64 = KEY_ALL_ACCESS | KEY_WOW64_64KEY;  // 0xF013F

std::vector<std::uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

class RegistryTest : public DemoPc::SimTest {
protected:
    // The physical paths of every key handle still open, in handle order.
    std::vector<std::string> OpenKeys() {
        std::vector<std::string> paths;
        for (const auto& [handle, key] : pc().regHandles) paths.push_back(key.path);
        return paths;
    }
    // The one open handle; fails the test when there is not exactly one.
    std::optional<Sim::Machine::RegHandle> OnlyHandle() {
        if (pc().regHandles.size() != 1) {
            ADD_FAILURE() << pc().regHandles.size() << " key handles open, expected one";
            return std::nullopt;
        }
        return pc().regHandles.begin()->second;
    }
};

TEST_F(RegistryTest, StartsAtHkcuWithNoKeyAndAllAccess) {
    TRegistry registry;
    EXPECT_EQ(registry.Root(), HKEY_CURRENT_USER);
    EXPECT_FALSE(registry.HasOpenKey());
    EXPECT_EQ(registry.Access(), REGSAM(0xF003F));
}

TEST_F(RegistryTest, SameRootKeepsTheKeyOpenAndAnotherRootClosesIt) {
    const struct {
        HKEY from, to;
        bool staysOpen;
    } cases[] = {
        {HKEY_CURRENT_USER, HKEY_CURRENT_USER, true},
        {HKEY_LOCAL_MACHINE, HKEY_LOCAL_MACHINE, true},
        {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, false},
        {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.from == HKEY_CURRENT_USER ? "HKCU" : "HKLM") + " -> " +
                     (c.to == HKEY_CURRENT_USER ? "HKCU" : "HKLM"));
        Sim::Reset();
        pc().wow64 = false;
        pc().registry.Key(c.from, "Software\\Vendor");
        pc().registry.Key(c.to, "Software\\Vendor\\Sub");
        TRegistry registry;
        registry.SelectRoot(c.from);
        ASSERT_TRUE(registry.OpenPath("Software\\Vendor", false));
        const auto before = pc().regHandles;

        registry.SelectRoot(c.to);

        EXPECT_EQ(registry.Root(), c.to);
        EXPECT_EQ(registry.HasOpenKey(), c.staysOpen);
        EXPECT_EQ(pc().CallCount("RegCloseKey"), c.staysOpen ? 0 : 1);
        if (c.staysOpen) {
            EXPECT_EQ(pc().regHandles.size(), before.size());
            EXPECT_EQ(OpenKeys(), std::vector<std::string>{"Software\\Vendor"});
        } else {
            EXPECT_TRUE(pc().regHandles.empty());
        }
        // A relative path now starts at the open key when it stayed, else
        // at the new root.
        ASSERT_TRUE(registry.OpenPath(c.staysOpen ? "Sub" : "Software\\Vendor\\Sub", false));
        auto handle = OnlyHandle();
        ASSERT_TRUE(handle);
        EXPECT_EQ(handle->root, c.to);
        EXPECT_EQ(handle->path, "Software\\Vendor\\Sub");
    }
}

TEST_F(RegistryTest, RelativePathsStartAtTheOpenKeyAndALeadingBackslashAtTheRoot) {
    const struct {
        const char* what;
        const char* first;  // opened beforehand; nullptr: no key open
        const char* path;
        const char* opens;  // the key that ends up open, alone
    } cases[] = {
        {"relative, no key open", nullptr, "Software\\A", "Software\\A"},
        {"absolute, no key open", nullptr, "\\Software\\A", "Software\\A"},
        {"relative below the open key", "Software\\A", "B", "Software\\A\\B"},
        {"two levels below the open key", "Software\\A", "B\\C", "Software\\A\\B\\C"},
        {"absolute with a key open", "Software\\A", "\\Software\\C", "Software\\C"},
        {"absolute deep path", "Software\\A\\B", "\\Software\\A\\B\\C", "Software\\A\\B\\C"},
        {"empty path reopens the open key", "Software\\A", "", "Software\\A"},
        {"a lone backslash opens the root", "Software\\A", "\\", ""},
        {"names compare without case", "SOFTWARE\\a", "b", "Software\\A\\B"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Sim::Reset();
        pc().registry.Key(HKEY_CURRENT_USER, "Software\\A\\B\\C");
        pc().registry.Key(HKEY_CURRENT_USER, "Software\\C");
        // Same-named keys below the open key catch a path that starts in the
        // wrong place.
        pc().registry.Key(HKEY_CURRENT_USER, "Software\\A\\Software\\C");
        pc().registry.Key(HKEY_CURRENT_USER, "Software\\A\\B\\Software\\A\\B\\C");
        TRegistry registry;
        if (c.first) {
            ASSERT_TRUE(registry.OpenPath(c.first, false));
        }

        ASSERT_TRUE(registry.OpenPath(c.path, false));

        EXPECT_TRUE(registry.HasOpenKey());
        auto handle = OnlyHandle();  // the previous key was closed
        ASSERT_TRUE(handle);
        EXPECT_EQ(handle->root, HKEY_CURRENT_USER);
        EXPECT_TRUE(!Sim::NameLess{}(handle->path, c.opens) && !Sim::NameLess{}(c.opens, handle->path))
            << "opened " << handle->path;
    }
}

TEST_F(RegistryTest, AFailedOpenChangesNothingAndRaisesNothing) {
    const struct {
        const char* what;
        const char* path;
        bool create;
        bool adminUser;
        std::function<void()> arrange;
    } cases[] = {
        {"missing key", "Missing", false, true, [] {}},
        {"missing key from the root", "\\Software\\Missing", false, true, [] {}},
        {"missing deeper key", "Missing\\Deeper", false, true, [] {}},
        {"key that denies opening", "Denied", false, true,
         [] { Sim::pc().registry.DenyOpen(HKEY_LOCAL_MACHINE, "Software\\Vendor\\Denied"); }},
        {"open refused by the system", "Sub", false, true,
         [] { Sim::pc().Inject("RegOpenKeyExA", 1, ERROR_ACCESS_DENIED, "Sub"); }},
        {"create refused by the system", "New", true, true,
         [] { Sim::pc().Inject("RegCreateKeyExA", 1, ERROR_ACCESS_DENIED); }},
        {"create without rights", "New", true, false, [] {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Sim::Reset();
        pc().wow64 = false;
        pc().userIsAdmin = c.adminUser;
        pc().registry.SetString(HKEY_LOCAL_MACHINE, "Software\\Vendor", "Kept", "value");
        pc().registry.Key(HKEY_LOCAL_MACHINE, "Software\\Vendor\\Sub");
        c.arrange();
        // Read access, so that a user without rights can hold the first key.
        TRegistry registry(KEY_READ);
        registry.SelectRoot(HKEY_LOCAL_MACHINE);
        ASSERT_TRUE(registry.OpenPath("Software\\Vendor", false));
        const std::uintptr_t handleBefore = pc().regHandles.begin()->first;

        bool opened = true;
        EXPECT_NO_THROW(opened = registry.OpenPath(c.path, c.create));

        EXPECT_FALSE(opened);
        EXPECT_TRUE(registry.HasOpenKey());
        ASSERT_EQ(pc().regHandles.size(), 1u);
        EXPECT_EQ(pc().regHandles.begin()->first, handleBefore);
        EXPECT_EQ(pc().CallCount("RegCloseKey"), 0);
        EXPECT_EQ(registry.ReadText("Kept"), "value");  // still the same key
        EXPECT_FALSE(pc().registry.KeyExists(HKEY_LOCAL_MACHINE, "Software\\Vendor\\Missing"));
        EXPECT_FALSE(pc().registry.KeyExists(HKEY_LOCAL_MACHINE, "Software\\Vendor\\New"));
    }
}

TEST_F(RegistryTest, AFailedOpenWithNoKeyOpenLeavesNoneOpen) {
    TRegistry registry;
    EXPECT_FALSE(registry.OpenPath("Software\\Missing", false));
    EXPECT_FALSE(registry.HasOpenKey());
    EXPECT_TRUE(pc().regHandles.empty());
    EXPECT_FALSE(pc().registry.KeyExists(HKEY_CURRENT_USER, "Software\\Missing"));
}

TEST_F(RegistryTest, CreateMakesMissingKeysWhereThePathSays) {
    const struct {
        const char* what;
        const char* first;
        const char* path;
        const char* created;
    } cases[] = {
        {"from the root", nullptr, "Software\\New\\Deep", "Software\\New\\Deep"},
        {"below the open key", "Software\\Vendor", "New\\Deep", "Software\\Vendor\\New\\Deep"},
        {"absolute with a key open", "Software\\Vendor", "\\Software\\Other", "Software\\Other"},
        {"an existing key is opened", "Software\\Vendor", "\\Software\\Vendor\\Old", "Software\\Vendor\\Old"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Sim::Reset();
        pc().registry.SetString(HKEY_CURRENT_USER, "Software\\Vendor\\Old", "Keep", "kept");
        TRegistry registry;
        if (c.first) {
            ASSERT_TRUE(registry.OpenPath(c.first, false));
        }

        ASSERT_TRUE(registry.OpenPath(c.path, true));

        EXPECT_TRUE(pc().registry.KeyExists(HKEY_CURRENT_USER, c.created));
        EXPECT_EQ(pc().CallCount("RegCreateKeyExA"), 1);
        auto handle = OnlyHandle();
        ASSERT_TRUE(handle);
        EXPECT_EQ(handle->path, c.created);
        // The old key's values survive a create that only opened it.
        EXPECT_EQ(pc().registry.Value(HKEY_CURRENT_USER, "Software\\Vendor\\Old", "Keep")->data,
                  Bytes(std::string("kept", 5)));
    }
}

TEST_F(RegistryTest, CreateWithAnEmptyPathOnlyOpens) {
    const struct {
        const char* what;
        const char* first;
        const char* opens;
    } cases[] = {
        {"key open: the same key again", "Software\\Vendor", "Software\\Vendor"},
        {"no key open: the root", nullptr, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Sim::Reset();
        pc().registry.Key(HKEY_CURRENT_USER, "Software\\Vendor");
        TRegistry registry;
        if (c.first) {
            ASSERT_TRUE(registry.OpenPath(c.first, false));
        }
        const int opensBefore = pc().CallCount("RegOpenKeyExA");

        ASSERT_TRUE(registry.OpenPath("", true));

        EXPECT_EQ(pc().CallCount("RegCreateKeyExA"), 0);
        EXPECT_EQ(pc().CallCount("RegOpenKeyExA"), opensBefore + 1);
        auto handle = OnlyHandle();
        ASSERT_TRUE(handle);
        EXPECT_EQ(handle->path, c.opens);
    }
}

TEST_F(RegistryTest, HasValueIsFalseWithoutAKeyOrAValue) {
    pc().registry.SetString(HKEY_CURRENT_USER, "", "AtRoot", "x");
    pc().registry.SetString(HKEY_CURRENT_USER, "Software\\Vendor", "Text", "x");
    pc().registry.SetDword(HKEY_CURRENT_USER, "Software\\Vendor", "Number", 7);
    pc().registry.SetValue(HKEY_CURRENT_USER, "Software\\Vendor", "Empty", REG_SZ, {});

    TRegistry registry;
    // The root has the value, but no key is open.
    EXPECT_FALSE(registry.HasValue("AtRoot"));
    EXPECT_FALSE(registry.HasValue("Text"));

    ASSERT_TRUE(registry.OpenPath("Software\\Vendor", false));
    EXPECT_TRUE(registry.HasValue("Text"));
    EXPECT_TRUE(registry.HasValue("text"));
    EXPECT_TRUE(registry.HasValue("Number"));  // any type counts
    EXPECT_TRUE(registry.HasValue("Empty"));
    EXPECT_FALSE(registry.HasValue("Missing"));
    EXPECT_FALSE(registry.HasValue("AtRoot"));

    pc().Inject("RegQueryValueExA", 1, ERROR_ACCESS_DENIED, "Text");
    EXPECT_FALSE(registry.HasValue("Text"));
}

TEST_F(RegistryTest, ReadTextByType) {
    const std::string raw = "C:\\Program Files\\Lexomir";
    const struct {
        const char* what;
        DWORD type;
        std::vector<std::uint8_t> data;
        std::optional<std::string> text;  // nullopt: raises
        std::string error;
    } cases[] = {
        {"REG_SZ", REG_SZ, Bytes(raw + '\0'), raw, ""},
        {"REG_EXPAND_SZ stays unexpanded", REG_EXPAND_SZ, Bytes("%ProgramFiles%\\Lexomir" + std::string(1, '\0')),
         "%ProgramFiles%\\Lexomir", ""},
        {"REG_SZ stored without its NUL", REG_SZ, Bytes(raw), raw, ""},
        {"REG_EXPAND_SZ stored without its NUL", REG_EXPAND_SZ, Bytes("%Temp%"), "%Temp%", ""},
        {"text up to the first NUL", REG_SZ, Bytes(std::string("abc\0def\0", 8)), "abc", ""},
        {"a NUL first", REG_SZ, Bytes(std::string("\0abc\0", 5)), "", ""},
        {"only the NUL", REG_SZ, Bytes(std::string(1, '\0')), "", ""},
        {"REG_SZ of size 0", REG_SZ, {}, "", ""},
        {"REG_DWORD of size 0", REG_DWORD, {}, "", ""},
        {"CP1251 bytes as stored", REG_SZ, Bytes("\xCB\xE5\xEA\xF1\xEE\xEC\xE8\xF0" + std::string(1, '\0')),
         "\xCB\xE5\xEA\xF1\xEE\xEC\xE8\xF0", ""},
        {"REG_DWORD", REG_DWORD, {1, 0, 0, 0}, std::nullopt, "Invalid data type for 'name'"},
        {"REG_BINARY", REG_BINARY, Bytes("C:\\"), std::nullopt, "Invalid data type for 'name'"},
        {"REG_MULTI_SZ", REG_MULTI_SZ, Bytes(std::string("a\0b\0\0", 5)), std::nullopt, "Invalid data type for 'name'"},
        {"REG_QWORD", REG_QWORD, std::vector<std::uint8_t>(8, 0), std::nullopt, "Invalid data type for 'name'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Sim::Reset();
        pc().registry.SetValue(HKEY_CURRENT_USER, "Software\\Vendor", "name", c.type, c.data);
        TRegistry registry;
        ASSERT_TRUE(registry.OpenPath("Software\\Vendor", false));
        if (c.text) {
            std::string got;
            EXPECT_NO_THROW(got = registry.ReadText("name"));
            EXPECT_EQ(got, *c.text);
        } else {
            try {
                registry.ReadText("name");
                ADD_FAILURE() << "no error raised";
            } catch (const ERegistryException& e) {
                EXPECT_EQ(e.Message(), c.error);
            }
        }
        EXPECT_TRUE(registry.HasOpenKey());  // a failed read leaves closing to the caller
    }
}

TEST_F(RegistryTest, ReadTextOfAMissingValueOrWithNoKeyIsEmpty) {
    pc().registry.SetString(HKEY_CURRENT_USER, "", "AtRoot", "x");
    pc().registry.Key(HKEY_CURRENT_USER, "Software\\Vendor");
    TRegistry registry;
    EXPECT_EQ(registry.ReadText("AtRoot"), "");
    ASSERT_TRUE(registry.OpenPath("Software\\Vendor", false));
    EXPECT_EQ(registry.ReadText("Missing"), "");
}

TEST_F(RegistryTest, AFailingDataReadRaisesWithTheValueName) {
    const struct {
        const char* what;
        std::function<void()> arrange;
    } cases[] = {
        {"the data query fails",
         [] { Sim::pc().Inject("RegQueryValueExA", 2, ERROR_ACCESS_DENIED, "Common Desktop"); }},
        {"the key refuses data reads",
         [] { Sim::pc().registry.Key(HKEY_CURRENT_USER, "Software\\Vendor").failReads = true; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Sim::Reset();
        pc().registry.SetString(HKEY_CURRENT_USER, "Software\\Vendor", "Common Desktop", "C:\\Users\\Public");
        c.arrange();
        TRegistry registry;
        ASSERT_TRUE(registry.OpenPath("Software\\Vendor", false));
        try {
            registry.ReadText("Common Desktop");
            ADD_FAILURE() << "no error raised";
        } catch (const ERegistryException& e) {
            EXPECT_EQ(e.Message(), "Failed to get data for 'Common Desktop'");
        }
    }
}

TEST_F(RegistryTest, ASizeQueryThatFailsReadsAsEmpty) {
    pc().registry.SetString(HKEY_CURRENT_USER, "Software\\Vendor", "name", "text");
    pc().Inject("RegQueryValueExA", 1, ERROR_ACCESS_DENIED, "name");
    TRegistry registry;
    ASSERT_TRUE(registry.OpenPath("Software\\Vendor", false));
    EXPECT_EQ(registry.ReadText("name"), "");
}

TEST_F(RegistryTest, WriteDwordStoresFourBytesOrRaisesWithAnEmptyMessage) {
    pc().registry.Key(HKEY_CURRENT_USER, "Software\\Vendor");
    TRegistry registry;
    try {
        registry.WriteDword("EstimatedSize", 1);
        ADD_FAILURE() << "a write with no key open raised nothing";
    } catch (const ERegistryException& e) {
        EXPECT_EQ(e.Message(), "");
    }
    EXPECT_FALSE(pc().registry.Value(HKEY_CURRENT_USER, "", "EstimatedSize"));

    ASSERT_TRUE(registry.OpenPath("Software\\Vendor", false));
    registry.WriteDword("EstimatedSize", 0x01020304);
    const auto value = pc().registry.Value(HKEY_CURRENT_USER, "Software\\Vendor", "EstimatedSize");
    ASSERT_TRUE(value);
    EXPECT_EQ(value->type, DWORD(REG_DWORD));
    EXPECT_EQ(value->data, (std::vector<std::uint8_t>{4, 3, 2, 1}));

    pc().Inject("RegSetValueExA", 1, ERROR_ACCESS_DENIED);
    try {
        registry.WriteDword("EstimatedSize", 9);
        ADD_FAILURE() << "a refused write raised nothing";
    } catch (const ERegistryException& e) {
        EXPECT_EQ(e.Message(), "");
    }
    EXPECT_EQ(pc().registry.Dword(HKEY_CURRENT_USER, "Software\\Vendor", "EstimatedSize"), DWORD(0x01020304));
}

TEST_F(RegistryTest, EveryOpenRequestsTheWholeMask) {
    const REGSAM masks[] = {KEY_ALL_ACCESS, AllAccess64, KEY_READ};
    const struct {
        const char* what;
        const char* path;
        bool create;
    } opens[] = {
        {"open for reading", "Software\\Vendor", false},
        {"create a new key", "Software\\Vendor\\New", true},
        {"create an existing key", "Software\\Vendor", true},
        {"empty path with create", "", true},
        {"empty path", "", false},
    };
    for (REGSAM mask : masks) {
        for (const auto& o : opens) {
            SCOPED_TRACE(std::string(o.what) + ", mask " + std::to_string(mask));
            Sim::Reset();
            pc().registry.Key(HKEY_CURRENT_USER, "Software\\Vendor");
            TRegistry registry(mask);
            ASSERT_TRUE(registry.OpenPath(o.path, o.create));
            auto handle = OnlyHandle();
            ASSERT_TRUE(handle);
            EXPECT_EQ(handle->access, mask);
        }
    }
}

TEST_F(RegistryTest, ReadingAMachineKeyRequestsWriteRightsToo) {
    // A user without administrator rights may read HKLM but not write it, so
    // an accessor with the full mask cannot open it even to read.
    const struct {
        REGSAM mask;
        bool admin;
        bool opens;
    } cases[] = {
        {KEY_ALL_ACCESS, true, true},
        {KEY_ALL_ACCESS, false, false},
        {AllAccess64, false, false},
        {KEY_READ, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("mask " + std::to_string(c.mask) + (c.admin ? ", administrator" : ", user"));
        Sim::Reset();
        pc().userIsAdmin = c.admin;
        pc().registry.SetString(HKEY_LOCAL_MACHINE, "Software\\Wow6432Node\\Vendor", "v", "x");
        pc().registry.SetString(HKEY_LOCAL_MACHINE, "Software\\Vendor", "v", "x");
        TRegistry registry(c.mask);
        registry.SelectRoot(HKEY_LOCAL_MACHINE);
        EXPECT_EQ(registry.OpenPath("Software\\Vendor", false), c.opens);
        EXPECT_EQ(registry.HasValue("v"), c.opens);
    }
}

TEST_F(RegistryTest, TheMaskSelectsTheRegistryView) {
    // A 32-bit process on 64-bit Windows sees HKLM\Software\X at
    // Software\Wow6432Node\X unless it asks for the 64-bit view; HKCU\Software
    // is shared by both views.
    const struct {
        const char* what;
        bool wow64;
        REGSAM mask;
        HKEY root;
        const char* expect;
    } cases[] = {
        {"32-bit view on 64-bit Windows", true, KEY_ALL_ACCESS, HKEY_LOCAL_MACHINE, "32-bit hive"},
        {"64-bit view on 64-bit Windows", true, AllAccess64, HKEY_LOCAL_MACHINE, "64-bit hive"},
        {"32-bit Windows", false, KEY_ALL_ACCESS, HKEY_LOCAL_MACHINE, "64-bit hive"},
        {"HKCU, 32-bit view", true, KEY_ALL_ACCESS, HKEY_CURRENT_USER, "user"},
        {"HKCU, 64-bit view", true, AllAccess64, HKEY_CURRENT_USER, "user"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Sim::Reset();
        pc().wow64 = c.wow64;
        pc().registry.SetString(HKEY_LOCAL_MACHINE, "Software\\Vendor\\App", "Where", "64-bit hive");
        pc().registry.SetString(HKEY_LOCAL_MACHINE, "Software\\Wow6432Node\\Vendor\\App", "Where", "32-bit hive");
        pc().registry.SetString(HKEY_CURRENT_USER, "Software\\Vendor\\App", "Where", "user");
        TRegistry registry(c.mask);
        registry.SelectRoot(c.root);
        ASSERT_TRUE(registry.OpenPath("Software\\Vendor\\App", false));
        EXPECT_EQ(registry.ReadText("Where"), c.expect);
        // A path below the open key stays in the view the key was opened in.
        pc().registry.Key(HKEY_LOCAL_MACHINE, "Software\\Vendor\\App\\Sub");
        pc().registry.Key(HKEY_LOCAL_MACHINE, "Software\\Wow6432Node\\Vendor\\App\\Sub");
        pc().registry.Key(HKEY_CURRENT_USER, "Software\\Vendor\\App\\Sub");
        ASSERT_TRUE(registry.OpenPath("Sub", false));
        auto handle = OnlyHandle();
        ASSERT_TRUE(handle);
        const bool redirected = std::string(c.expect) == "32-bit hive";
        EXPECT_EQ(handle->path, redirected ? "Software\\Wow6432Node\\Vendor\\App\\Sub" : "Software\\Vendor\\App\\Sub");
    }
}

TEST_F(RegistryTest, ClosingAndDestroyingReleaseTheHandle) {
    pc().registry.Key(HKEY_CURRENT_USER, "Software\\Vendor");
    {
        TRegistry registry;
        registry.ClosePath();  // nothing open: nothing to close
        EXPECT_EQ(pc().CallCount("RegCloseKey"), 0);
        ASSERT_TRUE(registry.OpenPath("Software\\Vendor", false));
        registry.ClosePath();
        EXPECT_FALSE(registry.HasOpenKey());
        EXPECT_TRUE(pc().regHandles.empty());
        // Closed, so a relative path starts at the root again.
        EXPECT_TRUE(registry.OpenPath("Software\\Vendor", false));
        ASSERT_EQ(pc().regHandles.size(), 1u);
    }
    EXPECT_TRUE(pc().regHandles.empty());
    EXPECT_EQ(pc().CallCount("RegCloseKey"), 2);
}

TEST_F(RegistryTest, ClosePathOnExitClosesAlsoWhenAReadRaises) {
    pc().registry.SetDword(HKEY_CURRENT_USER, "Software\\Vendor", "Number", 1);
    TRegistry registry;
    try {
        ClosePathOnExit close(registry);
        ASSERT_TRUE(registry.OpenPath("Software\\Vendor", false));
        registry.ReadText("Number");
        ADD_FAILURE() << "no error raised";
    } catch (const ERegistryException& e) {
        EXPECT_EQ(e.Message(), "Invalid data type for 'Number'");
    }
    EXPECT_FALSE(registry.HasOpenKey());
    EXPECT_TRUE(pc().regHandles.empty());
}

}  // namespace
