// Covers: environment/process_environment.cpp, runtime/random.cpp, runtime/command_line.cpp.
// The start-up facts: language from the locale, the first command-line word,
// the generator seed, and the shared registry accessor's life.
#include "environment/process_environment.h"
#include "runtime/random.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "driver/update_sequence.h"
#include "runtime/command_line.h"
#include "tests/demo_pc.h"

namespace {

const std::string Program = "\"C:\\Users\\User\\Downloads\\LexomirUpdate.exe\"";

class ProcessEnvironmentTest : public DemoPc::SimTest {};

TEST_F(ProcessEnvironmentTest, RussianOnlyForTheListedLocales) {
    const struct {
        LCID locale;
        bool russian;
    } cases[] = {
        {0x0402, true},    // Bulgarian
        {0x0419, true},    // Russian
        {0x0422, true},    // Ukrainian
        {0x0423, true},    // Belarusian
        {0x043F, true},    // Kazakh
        {0x0444, true},    // Tatar
        {0x0819, true},    // Russian (Moldova)
        {0x0409, false},   // English (United States)
        {0x0418, false},   // Romanian
        {0x0843, false},   // Uzbek (Cyrillic)
        {0x0019, false},   // Russian without a country
        {0x0C19, false},   // another sublanguage of Russian
        {0x10419, false},  // Russian with another sort order
        {0x10402, false},  // Bulgarian with another sort order
        {0x80419, false},  // the same bits higher up
        {0x0420, false},   // Urdu, between the Cyrillic ones
        {0x0440, false},   // Kyrgyz, a Cyrillic script not listed
        {0x0000, false},  {0xFFFFFFFF, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "locale 0x" << std::hex << c.locale);
        Sim::Reset();
        pc().userLocale = c.locale;
        StartProcess();
        EXPECT_EQ(RussianUi, c.russian);
        EXPECT_TRUE(pc().boxes.empty());
    }
}

TEST_F(ProcessEnvironmentTest, TheFirstTwoWordsAreKeptLoweredInAsciiOnly) {
    const struct {
        const char* what;
        std::string commandLine;
        std::string first, second;
    } cases[] = {
        {"MODEST", Program + " MODEST", "modest", ""},
        {"MODEST quoted", Program + " \"MODEST\"", "modest", ""},
        {"modest and a blank quoted", Program + " \"modest \"", "modest ", ""},
        {"mixed case", Program + " MoDeSt RunApp", "modest", "runapp"},
        {"runapp before modest", Program + " runapp modest", "runapp", "modest"},
        {"RUNAPP lowered too", Program + " RUNAPP", "runapp", ""},
        {"no arguments", Program, "", ""},
        {"only blanks after the program", Program + "   \t ", "", ""},
        {"empty quoted argument", Program + " \"\" modest", "", "modest"},
        {"a third word is not kept", Program + " modest \"run app\" runapp", "modest", "run app"},
        {"unquoted program name", "LexomirUpdate.exe modest", "modest", ""},
        {"program path with blanks", "\"C:\\Program Files\\Update\\LexomirUpdate.exe\"", "", ""},
        {"program path with blanks, an argument", "\"C:\\Program Files\\LexomirUpdate.exe\" Modest", "modest", ""},
        {"no blank after the quoted program", Program + "modest", "", ""},
        {"tab separated", Program + "\tMODEST", "modest", ""},
        // Cyrillic letters (CP1251) are not lowered: МОДЕСТ stays capital.
        {"Cyrillic capitals", Program + " \xCC\xCE\xC4\xC5\xD1\xD2", "\xCC\xCE\xC4\xC5\xD1\xD2", ""},
        {"Cyrillic after Latin", Program + " AbC\xC0\xDF\xA8", "abc\xC0\xDF\xA8", ""},
        {"digits and signs", Program + " /X-1_Z", "/x-1_z", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Sim::Reset();
        pc().commandLine = c.commandLine;
        StartProcess();
        EXPECT_EQ(FirstArgument, c.first);
        EXPECT_EQ(SecondArgument, c.second);
        EXPECT_FALSE(QuietMode);  // decided later, by the update sequence
    }
}

TEST_F(ProcessEnvironmentTest, SplittingTheCommandLine) {
    using Words = std::vector<std::string>;
    const struct {
        const char* what;
        std::string line;
        Words words;
    } cases[] = {
        {"program and two words", "prog a b", {"prog", "a", "b"}},
        {"runs of blanks", "  prog   a    b  ", {"prog", "a", "b"}},
        {"empty line", "", {}},
        {"only blanks", " \t \r\n", {}},
        {"quotes in the middle of a word", "prog ab\"c d\"ef g", {"prog", "abc def", "g"}},
        {"quotes end a word only at a blank", "prog \"a b\"c d", {"prog", "a bc", "d"}},
        {"two quoted stretches", "prog \"a\"\" b\"", {"prog", "a b"}},
        {"unclosed quote runs to the end", "prog \"a b  c", {"prog", "a b  c"}},
        {"empty quoted word", "prog \"\" x", {"prog", "", "x"}},
        {"empty quoted word at the end", "prog \"\"", {"prog", ""}},
        {"quoted program path with blanks",
         "\"C:\\Program Files\\Lexomir\\u.exe\" /x",
         {"C:\\Program Files\\Lexomir\\u.exe", "/x"}},
        {"tab, CR and LF separate", "prog\ta\rb\nc", {"prog", "a", "b", "c"}},
        {"control characters separate",
         std::string("prog\x01"
                     "a\x1F"
                     "b\x7"
                     "c"),
         {"prog", "a", "b", "c"}},
        {"control characters inside quotes stay", "prog \"a\tb\"", {"prog", "a\tb"}},
        {"bytes from 0x80 are not separators", "prog \x80\xA0x\xFF y\xC0", {"prog", "\x80\xA0x\xFF", "y\xC0"}},
        {"NBSP (0xA0) joins",
         "prog a\xA0"
         "b",
         {"prog",
          "a\xA0"
          "b"}},
        {"backslashes taken literally", "prog C:\\dir\\ \"D:\\\"", {"prog", "C:\\dir\\", "D:\\"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(SplitCommandLine(c.line), c.words);
    }
}

TEST_F(ProcessEnvironmentTest, SeedFromThePerformanceCounterOrElseTheTickCount) {
    const struct {
        const char* what;
        bool counterWorks;
        bool counterFaulted;
        LONGLONG count;
        DWORD ticks;
        std::uint32_t seed;
        bool ticksRead;
    } cases[] = {
        {"counter: its low 32 bits", true, false, 0x123456789ALL, 5000, 0x3456789Au, false},
        {"counter above 32 bits only", true, false, 0x700000000LL, 5000, 0u, false},
        {"counter with the top bit", true, false, 0x1FFFFFFFELL, 5000, 0xFFFFFFFEu, false},
        {"counter not implemented", false, false, 0x123456789ALL, 777, 777u, true},
        {"counter call fails", true, true, 0x123456789ALL, 0xFFFFFFF0u, 0xFFFFFFF0u, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Sim::Reset();
        pc().performanceCounterWorks = c.counterWorks;
        pc().performanceCount = c.count;
        pc().tickBase = c.ticks;
        // Windows 7 reports its own version, so describing the OS runs no
        // console command and draws nothing: the generator still holds the seed.
        pc().version.dwMinorVersion = 1;
        pc().version.dwBuildNumber = 7601;
        if (c.counterFaulted) pc().Inject("QueryPerformanceCounter", 1, ERROR_ACCESS_DENIED);
        SeedRandom(0xDEADBEEF);
        StartProcess();
        EXPECT_EQ(RandomSeed(), c.seed);
        EXPECT_EQ(pc().CallCount("GetTickCount") > 0, c.ticksRead);
    }
}

TEST_F(ProcessEnvironmentTest, DrawsStayBelowTheirRangeAndFollowTheSeed) {
    for (std::uint32_t range : {1u, 2u, 7u, 1000u, 0x80000000u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(range);
        SeedRandom(12345);
        for (int i = 0; i < 200; ++i) ASSERT_LT(RandomBelow(range), range);
    }
    // The same seed gives the same draws, and the draws are not constant.
    auto draws = [](std::uint32_t seed) {
        SeedRandom(seed);
        std::vector<std::uint32_t> out;
        for (int i = 0; i < 16; ++i) out.push_back(RandomBelow(100000));
        return out;
    };
    EXPECT_EQ(draws(42), draws(42));
    EXPECT_NE(draws(42), draws(43));
    const auto sample = draws(7);
    EXPECT_GT(std::set<std::uint32_t>(sample.begin(), sample.end()).size(), 8u);
}

TEST_F(ProcessEnvironmentTest, SharedRegistryOnA32BitWindows) {
    pc().wow64 = false;
    StartProcess();
    ASSERT_NE(SharedRegistry, nullptr);
    EXPECT_FALSE(Is64BitOs);
    EXPECT_EQ(SharedRegistry->Access(), REGSAM(0xF003F));
    EXPECT_EQ(SharedRegistry->Root(), HKEY_CURRENT_USER);
    EXPECT_FALSE(SharedRegistry->HasOpenKey());
}

TEST_F(ProcessEnvironmentTest, ARepeatedInitDoesNothing) {
    pc().userLocale = 0x0409;
    pc().commandLine = Program + " runapp";
    InitProcessEnvironment(SplitCommandLine(pc().commandLine));
    TRegistry* const registry = SharedRegistry.get();
    ASSERT_NE(registry, nullptr);
    ASSERT_TRUE(registry->OpenPath("Software", true));
    const std::vector<Sim::CallRecord> callsBefore = pc().calls;

    pc().userLocale = 0x0419;
    pc().commandLine = Program + " modest";
    pc().performanceCount = 99;
    InitProcessEnvironment(SplitCommandLine(pc().commandLine));

    EXPECT_FALSE(RussianUi);
    EXPECT_EQ(FirstArgument, "runapp");
    EXPECT_EQ(SharedRegistry.get(), registry);
    EXPECT_TRUE(SharedRegistry->HasOpenKey());
    EXPECT_EQ(pc().calls.size(), callsBefore.size());
}

TEST_F(ProcessEnvironmentTest, ReleaseDestroysTheSharedRegistryAndEndsThatLife) {
    pc().userLocale = 0x0419;
    pc().commandLine = Program + " MODEST";
    InitProcessEnvironment(SplitCommandLine(pc().commandLine));
    ASSERT_NE(SharedRegistry, nullptr);
    SharedRegistry->SelectRoot(HKEY_CURRENT_USER);
    ASSERT_TRUE(SharedRegistry->OpenPath("Software\\Lexomir", true));
    ASSERT_EQ(pc().regHandles.size(), 1u);

    ReleaseProcessEnvironment();

    EXPECT_EQ(SharedRegistry, nullptr);
    EXPECT_TRUE(pc().regHandles.empty());
    EXPECT_EQ(pc().CallCount("RegCloseKey"), 1);

    // A new life reads the machine again.
    pc().userLocale = 0x0409;
    pc().commandLine = Program;
    InitProcessEnvironment(SplitCommandLine(pc().commandLine));
    EXPECT_FALSE(RussianUi);
    EXPECT_EQ(FirstArgument, "");
    ASSERT_NE(SharedRegistry, nullptr);
    EXPECT_FALSE(SharedRegistry->HasOpenKey());
}

}  // namespace
