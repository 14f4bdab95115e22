// Covers: install/embedded_file.cpp, install/installed_size.cpp, install/self_check.cpp.
// Writing the data file, measuring the installed size, and the self-check,
// each on its own against the simulated PC.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/update_package.h"
#include "driver/update_sequence.h"
#include "environment/install_target.h"
#include "environment/process_environment.h"
#include "install/embedded_file.h"
#include "install/installed_size.h"
#include "install/self_check.h"
#include "install/version_replacement.h"
#include "runtime/exception.h"
#include "tests/demo_pc.h"

namespace {

using DemoPc::Bytes;
using DemoPc::DataFile;
using DemoPc::Folder;

const std::string Temp = Folder + "~lxn.cok";

TEST(TempInstallName, PutsATildeInFrontOfTheLastName) {
    const struct {
        std::string path, temp;
    } cases[] = {
        {"D:\\Games\\App\\lxn.cok", "D:\\Games\\App\\~lxn.cok"},
        {"lxn.cok", "~lxn.cok"},
        {"D:\\Games\\App\\", "D:\\Games\\~App\\"},
        {"", "~"},
        {"\\", "~\\"},
        {"\\x", "\\~x"},
        {"a\\", "~a\\"},
    };
    for (const auto& c : cases) EXPECT_EQ(TempInstallName(c.path), c.temp) << c.path;
}

class EmbeddedFile : public DemoPc::SimTest {
protected:
    void SetUp() override {
        DemoPc::SimTest::SetUp();
        DemoPc::Setup(pc(), payload_);
        StartProcess();
        GiveMessageSettings();
    }
    bool Install(const std::string& target = DataFile) { return InstallEmbeddedFile("lxn", "cok", target, false); }
    void ExpectOldFileAndOneBox(const std::string& target = DataFile) {
        EXPECT_EQ(pc().files.Read(target), Bytes("old data"));
        EXPECT_FALSE(pc().files.Exists(TempInstallName(target))) << "no temporary file left behind";
        ASSERT_EQ(pc().boxes.size(), 1u);
        EXPECT_EQ(pc().boxes[0].text, "Can't install file " + target);
    }
    std::vector<std::uint8_t> payload_ = DemoPc::Payload(70000);
};

TEST_F(EmbeddedFile, WritesTheResourceByteForByteOverTheOldFile) {
    pc().files.Node(DataFile)->attributes |= FILE_ATTRIBUTE_HIDDEN;
    EXPECT_TRUE(Install());
    EXPECT_EQ(pc().files.Read(DataFile), payload_);
    EXPECT_FALSE(pc().files.Exists(Temp));
    EXPECT_TRUE(pc().boxes.empty());
    EXPECT_EQ(pc().CallCount("WriteFile"), 1) << "one write";
    EXPECT_EQ(pc().writesFromResources, std::vector<std::string>{pc().FullPath(Temp)})
        << "written straight from the resource, not from a copy";
    EXPECT_EQ(pc().CallCount("FlushFileBuffers"), 1);
    EXPECT_TRUE(pc().handles.empty());
    // The resource is let go as soon as it is written, before the flush.
    std::size_t written = 0, freed = 0, flushed = 0;
    for (std::size_t i = 0; i < pc().calls.size(); ++i) {
        const std::string& f = pc().calls[i].function;
        if (f == "WriteFile") written = i;
        if (f == "FreeResource") freed = i;
        if (f == "FlushFileBuffers") flushed = i;
    }
    EXPECT_LT(written, freed);
    EXPECT_LT(freed, flushed);
}

TEST_F(EmbeddedFile, LowerCaseNamesFindTheUpperCaseResource) {
    EXPECT_TRUE(InstallEmbeddedFile("Lxn", "CoK", DataFile, false));
    EXPECT_EQ(pc().files.Read(DataFile), payload_);
}

TEST_F(EmbeddedFile, CreatesAMissingTarget) {
    pc().files.Remove(DataFile);
    EXPECT_TRUE(Install());
    EXPECT_EQ(pc().files.Read(DataFile), payload_);
}

TEST_F(EmbeddedFile, AnEmptyResourceGivesAnEmptyFile) {
    pc().resources.clear();
    pc().AddResource("COK", "LXN", 1049, {});
    EXPECT_TRUE(Install());
    EXPECT_EQ(pc().files.Read(DataFile), std::vector<std::uint8_t>{});
}

TEST_F(EmbeddedFile, FailuresLeaveTheInstalledFileAsItWas) {
    const struct {
        const char* name;
        void (*arrange)(Sim::Machine&);
    } cases[] = {
        {"write fails after some bytes", [](Sim::Machine& m) { m.files.FailWritesAfter(Temp, 4096); }},
        {"write fails at once", [](Sim::Machine& m) { m.files.FailWritesAfter(Temp, 0, ERROR_WRITE_FAULT); }},
        {"disk full", [](Sim::Machine& m) { m.files.capacity = m.files.UsedBytes() + 1000; }},
        {"flush fails", [](Sim::Machine& m) { m.Inject("FlushFileBuffers", 1, ERROR_WRITE_FAULT); }},
        {"move fails, also when tried again",
         [](Sim::Machine& m) { m.Inject("SetFileInformationByHandle", 0, ERROR_ACCESS_DENIED, "rename"); }},
        {"move fails for good",
         [](Sim::Machine& m) { m.Inject("SetFileInformationByHandle", 1, ERROR_NOT_ENOUGH_MEMORY, "rename"); }},
        {"target held open by the application",
         [](Sim::Machine& m) { m.files.HoldOpen(DataFile, GENERIC_READ | GENERIC_WRITE, 0); }},
        {"target read-only for good",
         [](Sim::Machine& m) {
             m.files.Node(DataFile)->attributes |= FILE_ATTRIBUTE_READONLY;
             m.Inject("SetFileAttributesA", 0, ERROR_ACCESS_DENIED);
         }},
        {"temporary name cannot be created", [](Sim::Machine& m) { m.files.AddFile(Temp + "\\x", "x"); }},
        {"resource missing", [](Sim::Machine& m) { m.resources.clear(); }},
        {"resource cannot be loaded",
         [](Sim::Machine& m) { m.Inject("LoadResource", 1, ERROR_RESOURCE_DATA_NOT_FOUND); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        c.arrange(pc());
        EXPECT_FALSE(Install());
        if (c.name == std::string("temporary name cannot be created")) {
            EXPECT_EQ(pc().files.Read(DataFile), Bytes("old data"));
            EXPECT_EQ(pc().boxes.size(), 1u);
            continue;
        }
        ExpectOldFileAndOneBox();
    }
}

TEST_F(EmbeddedFile, MissingTargetFolderIsReportedWithTheTargetPath) {
    const std::string target = "C:\\Program Files (x86)\\Gone\\lxn.cok";
    EXPECT_FALSE(Install(target));
    ASSERT_EQ(pc().boxes.size(), 1u);
    EXPECT_EQ(pc().boxes[0].text, "Can't install file " + target);
}

TEST_F(EmbeddedFile, RussianFailureText) {
    pc().userLocale = 0x0419;
    StartProcess();
    GiveMessageSettings();
    pc().Inject("SetFileInformationByHandle", 0, ERROR_ACCESS_DENIED, "rename");
    EXPECT_FALSE(Install());
    ASSERT_EQ(pc().boxes.size(), 1u);
    EXPECT_EQ(pc().boxes[0].text, "Не удается установить файл " + DataFile);
    EXPECT_EQ(pc().boxes[0].function, "MessageBoxExW");
}

// ----------------------------------------------------------- installed size

class FolderSize : public DemoPc::SimTest {};

TEST_F(FolderSize, SumsBytesBeforeDividing) {
    const struct {
        const char* name;
        std::vector<std::size_t> sizes;
        std::int64_t kb;
    } cases[] = {
        {"empty folder", {}, 0},       {"1023 bytes", {1023}, 0},  {"1024 bytes", {1024}, 1},
        {"two of 600", {600, 600}, 1}, {"2047 + 1", {2047, 1}, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Sim::Reset();
        pc().files.AddFolder("C:\\App");
        for (std::size_t i = 0; i < c.sizes.size(); ++i)
            pc().files.AddFile("C:\\App\\f" + std::to_string(i), std::vector<std::uint8_t>(c.sizes[i]));
        EXPECT_EQ(FolderSizeKb("C:\\App"), c.kb);
        EXPECT_EQ(FolderSizeKb("C:\\App\\"), c.kb);
    }
}

TEST_F(FolderSize, CountsEveryFileAtEveryDepthWhateverItsAttributes) {
    pc().files.AddFile("C:\\App\\a", std::vector<std::uint8_t>(1000));
    pc().files.AddFile("C:\\App\\h", std::vector<std::uint8_t>(1000), FILE_ATTRIBUTE_HIDDEN);
    pc().files.AddFile("C:\\App\\s\\t\\u\\deep", std::vector<std::uint8_t>(1000), FILE_ATTRIBUTE_SYSTEM);
    pc().files.AddFile("C:\\App\\s\\r", std::vector<std::uint8_t>(1096), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(FolderSizeKb("C:\\App"), 4);
}

TEST_F(FolderSize, WalksBreadthFirstInListingOrder) {
    pc().files.AddFile("C:\\App\\b\\deeper\\x", "1");
    pc().files.AddFile("C:\\App\\a\\y", "2");
    pc().files.AddFile("C:\\App\\c", "3");
    FolderSizeKb("C:\\App");
    std::vector<std::string> listed;
    for (const auto& c : pc().calls)
        if (c.function == "FindFirstFileA") listed.push_back(c.detail);
    EXPECT_EQ(listed, (std::vector<std::string>{"C:\\App\\*.*", "C:\\App\\a\\*.*", "C:\\App\\b\\*.*",
                                                "C:\\App\\b\\deeper\\*.*"}));
}

TEST_F(FolderSize, NothingToMeasureGivesMinusOne) {
    pc().files.AddFile("C:\\App\\file", "x");
    for (const char* path : {"", "C:\\Missing", "C:\\App\\file", "C:\\App\\file\\"}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(FolderSizeKb(path), -1);
    }
}

TEST_F(FolderSize, UnlistableFolderAddsNothing) {
    pc().files.AddFile("C:\\App\\a", std::vector<std::uint8_t>(2048));
    pc().files.AddFile("C:\\App\\locked\\b", std::vector<std::uint8_t>(4096));
    pc().files.Node("C:\\App\\locked")->unlistable = true;
    EXPECT_EQ(FolderSizeKb("C:\\App"), 2);
}

TEST_F(FolderSize, LinksAreNotWalkedSoALoopEnds) {
    pc().files.AddFile("C:\\App\\a", std::vector<std::uint8_t>(1024));
    pc().files.AddLink("C:\\App\\loop", "C:\\App");
    pc().files.AddFile("C:\\Other\\big", std::vector<std::uint8_t>(8192));
    pc().files.AddLink("C:\\App\\elsewhere", "C:\\Other");
    EXPECT_EQ(FolderSizeKb("C:\\App"), 1);
}

TEST_F(FolderSize, LargeFilesAreCountedIn64Bits) {
    pc().files.AddFile("C:\\App\\big1", "");
    pc().files.AddFile("C:\\App\\big2", "");
    pc().files.Node("C:\\App\\big1")->reportedSize = 5ull << 30;  // 5 GiB
    pc().files.Node("C:\\App\\big2")->reportedSize = 3ull << 30;
    EXPECT_EQ(FolderSizeKb("C:\\App"), std::int64_t(8) << 20);
}

class ReportSize : public DemoPc::SimTest {
protected:
    void SetUp() override {
        DemoPc::SimTest::SetUp();
        DemoPc::Setup(pc());
        StartProcess();
        GiveMessageSettings();
    }
};

TEST_F(ReportSize, WritesTheFolderSizeIntoTheEntryDiscoveryUsed) {
    pc().registry.SetDword(HKEY_LOCAL_MACHINE, DemoPc::Entry32, "EstimatedSize", 999999);
    ASSERT_TRUE(DiscoverInstallTarget("Lexomir"));
    ReportInstalledSize();
    // Lexomir.exe 2048 + unins000.exe 1024 + "old data" 8 bytes.
    EXPECT_EQ(pc().registry.Dword(HKEY_LOCAL_MACHINE, DemoPc::Entry32, "EstimatedSize"), 3u);
    EXPECT_TRUE(pc().registry.Value(HKEY_LOCAL_MACHINE, DemoPc::Entry32, "DisplayName")) << "other values untouched";
    EXPECT_TRUE(pc().regHandles.empty());
}

TEST_F(ReportSize, EntryFoundOnlyUnderWow6432NodeOnA32BitSystemGetsTheValue) {
    // On 32-bit Windows nothing is redirected: the WOW6432Node path is a key of its own.
    Sim::Reset();
    DemoPc::Setup(pc());
    pc().wow64 = false;
    const std::string wow = "Software\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Lexomir";
    pc().registry.Key(HKEY_LOCAL_MACHINE, wow);
    pc().registry.SetString(HKEY_LOCAL_MACHINE, wow, "UninstallString", DemoPc::Folder + "unins000.exe");
    StartProcess();
    ASSERT_TRUE(DiscoverInstallTarget("Lexomir"));
    ReportInstalledSize();
    EXPECT_EQ(pc().registry.Dword(HKEY_LOCAL_MACHINE, wow, "EstimatedSize"), 3u);
    EXPECT_FALSE(pc().registry.KeyExists(HKEY_LOCAL_MACHINE, DemoPc::Entry64));
}

TEST_F(ReportSize, MissingFolderStillCreatesTheKeyButWritesNothing) {
    pc().registry.Root(HKEY_LOCAL_MACHINE)->subkeys.clear();
    InstallEnvironment.AppFolder = "C:\\Nowhere\\";
    InstallEnvironment.UninstallEntryPath =
        "Software\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Lexomir";
    ReportInstalledSize();
    EXPECT_TRUE(pc().registry.KeyExists(HKEY_LOCAL_MACHINE, DemoPc::Entry32));
    EXPECT_FALSE(pc().registry.Value(HKEY_LOCAL_MACHINE, DemoPc::Entry32, "EstimatedSize"));
}

TEST_F(ReportSize, SizesBeyond32BitsAreCapped) {
    ASSERT_TRUE(DiscoverInstallTarget("Lexomir"));
    pc().files.Node(DemoPc::DataFile)->reportedSize = 5ull << 40;  // 5 TiB
    ReportInstalledSize();
    EXPECT_EQ(pc().registry.Dword(HKEY_LOCAL_MACHINE, DemoPc::Entry32, "EstimatedSize"), 0xFFFFFFFFu);
}

TEST_F(ReportSize, AFailedWriteRaisesAndClosesTheKey) {
    ASSERT_TRUE(DiscoverInstallTarget("Lexomir"));
    pc().userIsAdmin = false;  // the create-open fails, so no key is open
    EXPECT_THROW(ReportInstalledSize(), ERegistryException);
    EXPECT_TRUE(pc().regHandles.empty());
}

// --------------------------------------------------------------- self-check

class SelfCheck : public DemoPc::SimTest {
protected:
    void SetUp() override {
        DemoPc::SimTest::SetUp();
        DemoPc::Setup(pc());
    }
    std::vector<std::uint8_t> Image() { return *pc().files.Read(pc().moduleFileName); }
};

TEST_F(SelfCheck, SealedFilePassesAndFlippedBytesFail) {
    EXPECT_EQ(CheckOwnFile(), SelfCheckResult::Intact);
    const std::vector<std::uint8_t> sealed = Image();
    for (std::size_t offset : {std::size_t(0), std::size_t(0x3C), std::size_t(0x80), std::size_t(0x100),
                               std::size_t(0x400), sealed.size() / 2, sealed.size() - 1}) {
        SCOPED_TRACE(offset);
        std::vector<std::uint8_t> changed = sealed;
        changed[offset] ^= 0x20;
        pc().files.AddFile(pc().moduleFileName, changed);
        EXPECT_EQ(CheckOwnFile(), SelfCheckResult::Distorted);
    }
}

TEST_F(SelfCheck, UnreadableCases) {
    const struct {
        const char* name;
        void (*arrange)(Sim::Machine&);
    } cases[] = {
        {"file missing", [](Sim::Machine& m) { m.files.Remove(m.moduleFileName); }},
        {"held open for writing", [](Sim::Machine& m) { m.files.HoldOpen(m.moduleFileName, GENERIC_WRITE, 0); }},
        {"read fails", [](Sim::Machine& m) { m.Inject("ReadFile", 1, ERROR_READ_FAULT); }},
        {"bcrypt missing", [](Sim::Machine& m) { m.missingLibraries.insert("bcrypt.dll"); }},
        {"hash fails", [](Sim::Machine& m) { m.Inject("BCryptHashData", 1, 0); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Sim::Reset();
        DemoPc::Setup(pc());
        c.arrange(pc());
        EXPECT_EQ(CheckOwnFile(), SelfCheckResult::Unreadable);
        EXPECT_TRUE(pc().handles.empty());
    }
}

TEST_F(SelfCheck, LoadsCngFromTheSystemFolderOnly) {
    EXPECT_EQ(CheckOwnFile(), SelfCheckResult::Intact);
    EXPECT_EQ(pc().loadedLibraries, std::vector<std::string>{"bcrypt.dll 2048"});
}

TEST_F(SelfCheck, FallsBackToTheFullSystemPathWhereTheSearchFlagIsUnknown) {
    pc().systemSearchFlagSupported = false;
    EXPECT_EQ(CheckOwnFile(), SelfCheckResult::Intact);
    EXPECT_EQ(pc().loadedLibraries,
              (std::vector<std::string>{"bcrypt.dll 2048", "C:\\Windows\\system32\\bcrypt.dll 0"}));
}

}  // namespace
