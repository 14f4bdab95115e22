// Covers: install/version_probes.cpp, runtime/text_to_int.cpp.
// The text-to-integer rule, the version comparison, and the version probes
// on files of the simulated volume.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "driver/update_package.h"
#include "driver/update_sequence.h"
#include "environment/process_environment.h"
#include "install/version_probes.h"
#include "runtime/text_to_int.h"
#include "tests/demo_pc.h"
#include "tests/version_resource.h"

namespace {

using DemoPc::Bytes;

TEST(TextToInt, ConvertsTheAcceptedFormsAndRejectsEverythingElse) {
    const std::int32_t Min = std::numeric_limits<std::int32_t>::min();
    const struct {
        std::string text;
        std::optional<std::int32_t> value;
    } cases[] = {
        {"0", 0},
        {"12", 12},
        {"007", 7},
        {"   12", 12},
        {"-5", -5},
        {"+7", 7},
        {"  -0", 0},
        {"2147483647", 2147483647},
        {"-2147483648", Min},
        {"00000000000000000000042", 42},
        {"$A", 10},
        {"xff", 255},
        {"Xff", 255},
        {"0x1F", 31},
        {"0X1f", 31},
        {"-$A", -10},
        {"$FFFFFFFF", -1},
        {"$80000000", Min},
        {"$000000000001", 1},
        {"2147483648", std::nullopt},
        {"-2147483649", std::nullopt},
        {"$100000000", std::nullopt},
        {"12 ", std::nullopt},
        {"\t12", std::nullopt},
        {"", std::nullopt},
        {"   ", std::nullopt},
        {"-", std::nullopt},
        {"+", std::nullopt},
        {"$", std::nullopt},
        {"x", std::nullopt},
        {"0x", std::nullopt},
        {"- 5", std::nullopt},
        {"--5", std::nullopt},
        {"$ A", std::nullopt},
        {"$G", std::nullopt},
        {"0x-1", std::nullopt},
        {"1a", std::nullopt},
        {"12.5", std::nullopt},
        {"1e3", std::nullopt},
        {"0$1", std::nullopt},
    };
    for (const auto& c : cases) {
        std::int32_t value = 99;
        EXPECT_EQ(TextToInt(c.text, value), c.value.has_value()) << '"' << c.text << '"';
        EXPECT_EQ(value, c.value.value_or(99)) << '"' << c.text << "\" (untouched on failure)";
    }
}

TEST(IsOlderVersion, ComparesThreeComponentsThenTheRemainders) {
    const struct {
        const char* fresh;
        const char* installed;
        bool older;
    } cases[] = {
        {"1.2.3.4", "1.2.3.10", true},  {"1.2.3.10", "1.2.3.4", false},  {"1.2.9.0", "1.2.10.0", true},
        {"2.0.0.0", "1.9.9.9", false},  {"01.2.3.4", "1.2.3.5", true},   {"1.0.0", "1.0.0.1", true},
        {"1.0.0.0", "1.0.0", false},    {"1.3", "1.2.1", true},          {"1.2.1", "1.3", false},
        {"1.2.3.4.5", "1.2.3.4", true}, {"1.2.3.4", "1.2.3.4.5", false}, {"1.2.3.4b", "1.2.3.4", true},
        {"1.x.0.0", "1.0.0.0", true},   {"1.0.0.0", "1.x.0.0", false},   {"1.2.3.$A", "1.2.3.11", true},
        {"1.2.3.4", "1.2.3.4", false},  {"-1.0.0.0", "1.0.0.0", true},   {"5.0.0.0", "10.0.0.0", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsOlderVersion(c.fresh, c.installed), c.older) << c.fresh << " / " << c.installed;
}

// A side without a leading number and dot: its first component is its
// whole text; failing to convert answers as a failing component does.
TEST(IsOlderVersion, TextWithoutALeadingNumberAndDotIsOneWholeComponent) {
    const struct {
        const char* fresh;
        const char* installed;
        bool older;
    } cases[] = {
        {"", "1.0.0.0", true},                           // a new file without version information is asked about
        {"beta", "1.0.0.0", true}, {".5", "1.0", true},  // a dot in first place is no component
        {"1.0.0.0", "", false},    {"1.0.0.0", "beta", false}, {"1.0", ".5", false},    {"7", "8", true},
        {"8", "7", false},         {"7", "7", false},          {"3", "2.9.9.9", false},  // 2 > 3 is false
        {"2", "3.0.0.0", true},    {"1", "1.0.0.1", false},  // later passes keep 1 for the new side: 0 > 1 is false
        {"2.0.0.0", "3", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsOlderVersion(c.fresh, c.installed), c.older) << '"' << c.fresh << "\" / \"" << c.installed << '"';
}

class Probes : public DemoPc::SimTest {
protected:
    void SetUp() override {
        DemoPc::SimTest::SetUp();
        pc().files.AddFolder(Folder);
        DemoPc::RunValues(false, Folder);
    }
    const std::string Folder = "C:\\Data\\";
};

TEST_F(Probes, FixedOffsetFieldsAreReadLittleEndian) {
    using Probe = std::int32_t (*)(const std::string&);
    std::vector<std::uint8_t> pak = {'P', 'A', 'K', 0, 0, 0, 0x34, 0x12, 0xFF};
    std::vector<std::uint8_t> cok = {'C', 'O', 'K', 0, 0, 0x02, 0x01};
    const struct {
        const char* name;
        Probe probe;
        std::vector<std::uint8_t> bytes;
        std::int32_t expected;
    } cases[] = {
        {"pak 0x1234", ProbePakVersion, pak, 4660},
        {"pak of 7 bytes: the field is cut short", ProbePakVersion, {1, 2, 3, 4, 5, 6, 7}, 0},
        {"pak of 8 bytes", ProbePakVersion, {0, 0, 0, 0, 0, 0, 0xFF, 0xFF}, 65535},
        {"pak, empty", ProbePakVersion, {}, 0},
        {"cok 258", ProbeCokVersion, cok, 258},
        {"cok of 6 bytes", ProbeCokVersion, {0, 0, 0, 0, 0, 9}, 0},
        {"cok 1001", ProbeCokVersion, DemoPc::Payload(100, 1001), 1001},
        {"3bs of 7 bytes gives its last byte", Probe3bsVersion, {1, 2, 3, 4, 5, 6, 0xC8}, 200},
        {"3bs of 6 bytes", Probe3bsVersion, {1, 2, 3, 4, 5, 6}, 0},
        {"3bs reads one byte only", Probe3bsVersion, pak, 0x34},
    };
    for (const auto& c : cases) {
        pc().files.AddFile(Folder + "file", c.bytes);
        EXPECT_EQ(c.probe(Folder + "file"), c.expected) << c.name;
    }
    EXPECT_TRUE(pc().handles.empty()) << "every probe closes its file";
    EXPECT_TRUE(pc().boxes.empty());
}

TEST_F(Probes, AFixedOffsetProbeThatCannotReadGivesZero) {
    const std::string path = Folder + "data.pak";
    const struct {
        const char* name;
        std::function<void(Sim::Machine&)> arrange;
    } cases[] = {
        {"no file", [&](Sim::Machine& m) { m.files.Remove(path); }},
        {"a folder of that name",
         [&](Sim::Machine& m) {
             m.files.Remove(path);
             m.files.AddFolder(path);
         }},
        {"held open by another reader",
         [&](Sim::Machine& m) { m.files.HoldOpen(path, GENERIC_READ, FILE_SHARE_READ); }},
        {"held open by a writer",
         [&](Sim::Machine& m) { m.files.HoldOpen(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE); }},
        {"open refused", [](Sim::Machine& m) { m.Inject("CreateFileA", 1, ERROR_ACCESS_DENIED); }},
        {"seek fails", [](Sim::Machine& m) { m.Inject("SetFilePointerEx", 1, ERROR_INVALID_PARAMETER); }},
        {"read fails", [](Sim::Machine& m) { m.Inject("ReadFile", 1, ERROR_READ_FAULT); }},
    };
    for (const auto& c : cases) {
        Sim::Reset();
        pc().files.AddFile(path, std::vector<std::uint8_t>{0, 0, 0, 0, 0, 0, 5, 0});
        c.arrange(pc());
        EXPECT_EQ(ProbePakVersion(path), 0) << c.name;
        EXPECT_TRUE(pc().boxes.empty()) << c.name;
        for (const auto& [value, handle] : pc().handles)
            EXPECT_NE(handle.kind, Sim::Machine::Handle::File) << c.name << ": the probe closes its file";
    }
}

TEST_F(Probes, TheLngVersionIsTheLineAfterItsHeaderOrTheLastLine) {
    const struct {
        const char* name;
        std::string text;
        std::int32_t expected;
        bool message;
    } cases[] = {
        {"[LangVer] then 12", "[LangVer]\n12\n", 12, false},
        {"a blank before the number is skipped", "[LangVer]\n 12\n", 12, false},
        {"a blank after the number is no number", "[LangVer]\n12 \n", 0, true},
        {"CR LF line ends", "x=1\r\n[langver]\r\n33\r\nmore\r\n", 33, false},
        {"anything may follow the header", "[LANGVER] version\n-4\n", -4, false},
        {"hexadecimal", "[langver]\n$10\n", 16, false},
        {"the first header counts", "[langver]\n1\n[langver]\n2\n", 1, false},
        {"a blank before the bracket is no header", " [langver]\n12\n7", 7, false},
        {"a longer key is no header", "[langver2]\n12\n9", 9, false},
        {"no header: the last line", "[title]\nRussian\n7", 7, false},
        {"no header, last line ends in LF", "[title]\nRussian\n7\n", 7, false},
        {"no header, last line no number", "[title]\nRussian\n", 0, true},
        {"the header is the last line", "[langver]", 0, true},
        {"empty file", "", 0, true},
        {"Ctrl+Z ends the text", "[langver]\n5\x1A\n[langver]\n6", 5, false},
        {"a lone CR is dropped", "[langver]\n1\r2\n", 12, false},
    };
    for (const auto& c : cases) {
        pc().boxes.clear();
        const std::string path = Folder + "russian.lng";
        pc().files.AddFile(path, c.text);
        EXPECT_EQ(ProbeLngVersion(path), c.expected) << c.name;
        EXPECT_EQ(pc().boxes.size(), c.message ? 1u : 0u) << c.name;
        EXPECT_TRUE(pc().handles.empty()) << c.name;
    }
}

TEST_F(Probes, AnUnreadableLngFileIsReportedInTheLanguageOfTheRun) {
    const std::string path = Folder + "english.lng";
    for (const bool russian : {false, true}) {
        pc().boxes.clear();
        RussianUi = russian;
        GiveMessageSettings();
        pc().files.AddFile(path, "[langver]\n3\n");
        pc().files.HoldOpen(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
        EXPECT_EQ(ProbeLngVersion(path), 0);
        ASSERT_EQ(pc().boxes.size(), 1u);
        EXPECT_EQ(pc().boxes[0].text, russian ? "Не удаётся работать с файлом языковой поддержки " + path
                                              : "Can't handle the language support file " + path);
    }
}

TEST_F(Probes, AMissingLngFileIsZeroWithoutAMessage) {
    EXPECT_EQ(ProbeLngVersion(Folder + "none.lng"), 0);
    pc().files.AddFolder(Folder + "folder.lng");
    EXPECT_EQ(ProbeLngVersion(Folder + "folder.lng"), 0);
    EXPECT_TRUE(pc().boxes.empty());
}

TEST_F(Probes, AReadErrorInTheLngFileIsReported) {
    const std::string path = Folder + "russian.lng";
    pc().files.AddFile(path, "[langver]\n3\n");
    pc().Inject("ReadFile", 1, ERROR_READ_FAULT);
    EXPECT_EQ(ProbeLngVersion(path), 0);
    EXPECT_EQ(pc().boxes.size(), 1u);
    EXPECT_TRUE(pc().handles.empty());
}

TEST_F(Probes, FileVersionStringReadsTheFirstTranslation) {
    using VersionResource::Executable;
    using VersionResource::VersionInfo;
    const VersionInfo russian{{{"041904E3", {{"FileVersion", "1.2.3.4"}}}}, {0x04E30419}};
    const VersionInfo upper{{{"0C0A04E4", {{"FileVersion", "7.0"}}}}, {0x04E40C0A}};
    const VersionInfo secondOnly{{{"041904E3", {{"FileVersion", "1.2.3.4"}}}}, {0x04E40409, 0x04E30419}};
    const VersionInfo noTranslation{{{"041904E3", {{"FileVersion", "1.2.3.4"}}}}, {}};
    const VersionInfo noFileVersion{{{"041904E3", {{"ProductVersion", "1.2.3.4"}}}}, {0x04E30419}};
    const VersionInfo longText{{{"041904E3", {{"FileVersion", "10.0.19041.1 (WinBuild.160101.0800)"}}}}, {0x04E30419}};
    std::vector<std::uint8_t> dll = Executable(&russian);
    PeBuilder::Put16(dll, 0x80 + 4 + 18, 0x2102);  // IMAGE_FILE_DLL
    std::vector<std::uint8_t> console = Executable(&russian);
    PeBuilder::Put16(console, 0x80 + 24 + 68, 3);  // console subsystem
    const struct {
        const char* name;
        std::vector<std::uint8_t> bytes;
        std::string expected;
        bool asksForVersion;
    } cases[] = {
        {"language 0419, code page 1251", Executable(&russian), "1.2.3.4", true},
        {"the query uses upper-case hexadecimal digits", Executable(&upper), "7.0", true},
        {"a console program", console, "1.2.3.4", true},
        {"only the first translation is tried", Executable(&secondOnly), "", true},
        {"an empty translation list", Executable(&noTranslation), "", true},
        {"no FileVersion value", Executable(&noFileVersion), "", true},
        {"the text as it stands", Executable(&longText), "10.0.19041.1 (WinBuild.160101.0800)", true},
        {"no version resource", Executable(nullptr), "", true},
        {"a DLL is no executable", dll, "", false},
        {"a text file", Bytes("FileVersion 1.2.3.4\r\n"), "", false},
        {"an image", {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13}, "", false},
        {"MZ alone, cut short", Bytes("MZ"), "", false},
    };
    for (const auto& c : cases) {
        Sim::Reset();
        const std::string path = "C:\\Data\\file.exe";
        pc().files.AddFile(path, c.bytes);
        EXPECT_EQ(FileVersionString(path), c.expected) << c.name;
        EXPECT_EQ(pc().CallCount("GetFileVersionInfoSizeA"), c.asksForVersion ? 1 : 0) << c.name;
        EXPECT_TRUE(pc().boxes.empty()) << c.name;
        EXPECT_EQ(pc().CallCount("LoadLibraryExA"), pc().CallCount("FreeLibrary")) << c.name;
    }
}

TEST_F(Probes, TheStringQueryNamesTheTranslationInUpperCase) {
    const VersionResource::VersionInfo info{{{"0C0A04E4", {{"FileVersion", "7.0"}}}}, {0x04E40C0A}};
    pc().files.AddFile("C:\\Data\\file.exe", VersionResource::Executable(&info));
    ASSERT_EQ(FileVersionString("C:\\Data\\file.exe"), "7.0");
    std::vector<std::string> queries;
    for (const auto& call : pc().calls)
        if (call.function == "VerQueryValueA") queries.push_back(call.detail);
    EXPECT_EQ(queries,
              (std::vector<std::string>{"\\VarFileInfo\\Translation", "\\StringFileInfo\\0C0A04E4\\FileVersion"}));
}

TEST_F(Probes, VersionDllComesFromTheSystemFolderOnly) {
    pc().files.AddFile("C:\\Data\\file.exe", VersionResource::ExecutableWithVersion("2.5.0.0"));
    EXPECT_EQ(FileVersionString("C:\\Data\\file.exe"), "2.5.0.0");
    EXPECT_EQ(pc().loadedLibraries,
              (std::vector<std::string>{"version.dll " + std::to_string(LOAD_LIBRARY_SEARCH_SYSTEM32)}));

    // Windows 7 without the search-path update: the full system path.
    Sim::Reset();
    pc().systemSearchFlagSupported = false;
    pc().files.AddFile("C:\\Data\\file.exe", VersionResource::ExecutableWithVersion("2.5.0.0"));
    EXPECT_EQ(FileVersionString("C:\\Data\\file.exe"), "2.5.0.0");
    ASSERT_EQ(pc().loadedLibraries.size(), 2u);
    EXPECT_EQ(pc().loadedLibraries[1], "C:\\Windows\\system32\\version.dll 0");
}

TEST_F(Probes, FileVersionStringIsEmptyWhenAnyStepFails) {
    const struct {
        const char* name;
        std::function<void(Sim::Machine&)> arrange;
    } cases[] = {
        {"no file", [](Sim::Machine& m) { m.files.Remove("C:\\Data\\file.exe"); }},
        {"version.dll missing", [](Sim::Machine& m) { m.missingLibraries.insert("version.dll"); }},
        {"a function missing", [](Sim::Machine& m) { m.Inject("GetProcAddress", 3, ERROR_PROC_NOT_FOUND); }},
        {"size query fails", [](Sim::Machine& m) { m.Inject("GetFileVersionInfoSizeA", 1, ERROR_ACCESS_DENIED); }},
        {"block cannot be read", [](Sim::Machine& m) { m.Inject("GetFileVersionInfoA", 1, ERROR_ACCESS_DENIED); }},
        {"translation query fails",
         [](Sim::Machine& m) { m.Inject("VerQueryValueA", 1, ERROR_RESOURCE_TYPE_NOT_FOUND); }},
        {"string query fails", [](Sim::Machine& m) { m.Inject("VerQueryValueA", 2, ERROR_RESOURCE_TYPE_NOT_FOUND); }},
        {"held open without read sharing",
         [](Sim::Machine& m) { m.files.HoldOpen("C:\\Data\\file.exe", GENERIC_WRITE, 0); }},
    };
    for (const auto& c : cases) {
        Sim::Reset();
        pc().files.AddFile("C:\\Data\\file.exe", VersionResource::ExecutableWithVersion("2.5.0.0"));
        c.arrange(pc());
        EXPECT_EQ(FileVersionString("C:\\Data\\file.exe"), "") << c.name;
        EXPECT_TRUE(pc().boxes.empty()) << c.name;
        const bool loaded = c.name != std::string("version.dll missing");
        EXPECT_EQ(pc().CallCount("FreeLibrary"), loaded ? pc().CallCount("LoadLibraryExA") : 0) << c.name;
    }
}

}  // namespace
