// Covers: osinfo/console_command.cpp. Running a console command hidden: which interpreter starts and how, where
// its output goes, how the capture is read back, and that nothing is left
// behind: no file, no handle, no process still running.
#include "osinfo/console_command.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "environment/process_environment.h"
#include "runtime/random.h"
#include "tests/demo_pc.h"

namespace {

const std::string Temp = "C:\\Users\\User\\AppData\\Local\\Temp";
const std::string Cmd = "C:\\Windows\\system32\\cmd.exe";
constexpr std::uint32_t Seed = 0x5EED1234;

// The names the process's generator gives from Seed, in order.
std::vector<std::string> DrawnNames(int count) {
    SeedRandom(Seed);
    std::vector<std::string> names;
    for (int n = 0; n < count; ++n) {
        std::string name;
        for (int i = 0; i < 8; ++i) name += char('a' + RandomBelow(26));
        names.push_back(name);
    }
    SeedRandom(Seed);
    return names;
}

class ConsoleCommand : public DemoPc::SimTest {
protected:
    void SetUp() override {
        DemoPc::SimTest::SetUp();
        SeedRandom(Seed);
    }
    Sim::ConsoleCommand& Ver() { return pc().AddInterpreter().commands["ver"]; }

    // Nothing of the run may outlive it.
    void ExpectNothingLeft() {
        for (const auto& [value, h] : pc().handles)
            ADD_FAILURE() << "handle left open: kind " << h.kind << " " << h.path;
        for (const Sim::ProcessRecord& p : pc().processes) {
            if (p.program.empty()) continue;
            EXPECT_TRUE(p.endedAt.has_value()) << "still running: " << p.commandLine;
            if (!p.redirect.empty()) {
                EXPECT_FALSE(pc().files.Exists(p.redirect)) << "left behind: " << p.redirect;
            }
        }
        EXPECT_TRUE(pc().files.external.empty()) << "a capture file is still held open";
    }
};

// ------------------------------------------------------------------ output

struct CaptureCase {
    const char* what;
    std::string output;  // what the command writes, OEM code page
    std::string result;  // what the caller gets, ANSI code page
};

const CaptureCase Captures[] = {
    {"an empty line, then the version line", "\r\nMicrosoft Windows [Version 10.0.19045.3693]\r\n",
     "\r\nMicrosoft Windows [Version 10.0.19045.3693]\r\n"},
    {"no break after the last line", "abc", "abc\r\n"},
    {"an empty file", "", "\r\n"},
    {"a single break", "\r\n", "\r\n"},
    {"line feeds only", "one\ntwo\n", "one\r\ntwo\r\n"},
    {"mixed breaks, no final one", "one\r\ntwo\nthree", "one\r\ntwo\r\nthree\r\n"},
    {"empty lines at the end", "x\r\n\r\n\n", "x\r\n\r\n\r\n"},
    {"a carriage return alone stays inside its line", "a\rb\r\n", "a\rb\r\n"},
    {"a line longer than one read", std::string(10000, 'v') + "\r\nw", std::string(10000, 'v') + "\r\nw\r\n"},
    {"OEM 866 capital A becomes 1251 capital A", "\x80", "\xC0\r\n"},
    // The whole Cyrillic alphabet: А-Я, а-п, р-я, Ё, ё in 866 order.
    {"the Cyrillic alphabet", std::string("\x80\x81\x82\x8F\x90\x9F\xA0\xAF\xE0\xEF\xF0\xF1"),
     std::string("\xC0\xC1\xC2\xCF\xD0\xDF\xE0\xEF\xF0\xFF\xA8\xB8") + "\r\n"},
    // Box drawing has no place in 1251: it takes the nearest shape.
    {"box drawing", "\xB3\xC4\xDA", "\xA6\x2D\x2D\r\n"},
    {"Russian ver output",
     "\r\n\x8C\xA0\xA9\xAA\xE0\xAE\xE1\xAE\xE4\xE2 Windows [\x82\xA5\xE0\xE1\xA8\xEF 10.0.19045.3693]\r\n",
     "\r\n\xCC\xE0\xE9\xEA\xF0\xEE\xF1\xEE\xF4\xF2 Windows [\xC2\xE5\xF0\xF1\xE8\xFF 10.0.19045.3693]\r\n"},
};

class Capture : public ConsoleCommand, public ::testing::WithParamInterface<CaptureCase> {};

TEST_P(Capture, ReadsTheRedirectFileLineByLine) {
    Ver().output = GetParam().output;
    EXPECT_EQ(RunConsoleCommand("ver"), GetParam().result);
    ASSERT_EQ(pc().processes.size(), 1u);
    EXPECT_EQ(pc().processes[0].command, "ver");
    ExpectNothingLeft();
}

INSTANTIATE_TEST_SUITE_P(Cases, Capture, ::testing::ValuesIn(Captures));

// The conversion goes through Unicode with kernel32 alone; where a step
// fails the text comes back as the command wrote it, and still no GUI
// library is loaded for it.
TEST_F(ConsoleCommand, AFailedConversionKeepsTheOemTextAndLoadsNoGuiLibrary) {
    const std::string oem = "\x82\xA5\xE0\xE1\xA8\xEF 10.0";
    const struct {
        const char* function;
        int occurrence;
        DWORD error;
    } steps[] = {
        {"MultiByteToWideChar", 1, ERROR_INVALID_PARAMETER},
        {"MultiByteToWideChar", 2, ERROR_INSUFFICIENT_BUFFER},
        {"WideCharToMultiByte", 1, ERROR_INVALID_PARAMETER},
        {"WideCharToMultiByte", 2, ERROR_INSUFFICIENT_BUFFER},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(std::string(step.function) + " call " + std::to_string(step.occurrence));
        Sim::Reset();
        SetUp();
        Ver().output = oem;
        pc().Inject(step.function, step.occurrence, step.error);
        EXPECT_EQ(RunConsoleCommand("ver"), oem + "\r\n");
        EXPECT_EQ(pc().CallCount(step.function), step.occurrence);
        EXPECT_TRUE(pc().delayLoads.empty());
    }
    Sim::Reset();
    SetUp();
    Ver().output = oem;
    EXPECT_EQ(RunConsoleCommand("ver"), "\xC2\xE5\xF0\xF1\xE8\xFF 10.0\r\n");
    EXPECT_TRUE(pc().delayLoads.empty());
}

// ------------------------------------------------------------ command line

TEST_F(ConsoleCommand, StartsTheSystemInterpreterHiddenWithItsOutputInAFreshTempFile) {
    Ver();
    const std::string name = DrawnNames(1)[0];
    RunConsoleCommand("ver");
    ASSERT_EQ(pc().processes.size(), 1u);
    const Sim::ProcessRecord& p = pc().processes[0];
    EXPECT_EQ(p.commandLine, Cmd + " /d /c ver > \"" + Temp + "\\" + name + "\"");
    EXPECT_EQ(p.program, Cmd);
    EXPECT_EQ(p.creationFlags, DWORD(0x210));
    EXPECT_FALSE(p.inheritHandles);
    EXPECT_EQ(p.startup.cb, DWORD(sizeof(STARTUPINFOA)));
    EXPECT_EQ(p.startup.dwFlags, DWORD(STARTF_USESHOWWINDOW));
    EXPECT_EQ(p.startup.wShowWindow, WORD(SW_HIDE));
    EXPECT_EQ(p.startup.lpReserved, nullptr);
    EXPECT_EQ(p.startup.cbReserved2, 0);
    EXPECT_EQ(p.redirect, Temp + "\\" + name);
    for (char c : name) EXPECT_TRUE(c >= 'a' && c <= 'z') << name;
}

struct PlacementCase {
    const char* what;
    const char* systemFolder;
    std::optional<std::string> temp;  // nullopt: the variable is not set
    std::string folder;               // where the capture file goes
    std::string interpreterInLine;    // how the command line names the interpreter
};

const PlacementCase Placements[] = {
    {"the usual folders", "C:\\Windows\\system32", Temp, Temp + "\\", Cmd},
    {"Temp with its own backslash", "C:\\Windows\\system32", Temp + "\\", Temp + "\\", Cmd},
    {"Temp unset: the current folder", "C:\\Windows\\system32", std::nullopt, "", Cmd},
    {"Temp empty: the current folder", "C:\\Windows\\system32", std::string(), "", Cmd},
    {"a system folder with a blank is quoted", "C:\\Win Dows\\system32", Temp, Temp + "\\",
     "\"C:\\Win Dows\\system32\\cmd.exe\""},
};

class Placement : public ConsoleCommand, public ::testing::WithParamInterface<PlacementCase> {};

TEST_P(Placement, NamesTheInterpreterAndTheCaptureFile) {
    const PlacementCase& c = GetParam();
    pc().systemFolder = c.systemFolder;
    pc().files.AddFolder(c.systemFolder);
    // Unquoted, "C:\Win Dows\..." would start this one; it has no script,
    // so starting it fails the test.
    pc().files.AddFile("C:\\Win.exe", "MZ");
    if (c.temp)
        pc().environment["Temp"] = *c.temp;
    else
        pc().environment.erase("Temp");
    pc().AddInterpreter().commands["ver"].output = "Microsoft Windows [Version 10.0.19045.3693]\r\n";
    const std::string name = DrawnNames(1)[0];

    EXPECT_EQ(RunConsoleCommand("ver"), "Microsoft Windows [Version 10.0.19045.3693]\r\n");
    ASSERT_EQ(pc().processes.size(), 1u);
    const Sim::ProcessRecord& p = pc().processes[0];
    EXPECT_EQ(p.program, std::string(c.systemFolder) + "\\cmd.exe");
    EXPECT_EQ(p.commandLine, c.interpreterInLine + " /d /c ver > \"" + c.folder + name + "\"");
    EXPECT_EQ(p.redirect, pc().FullPath(c.folder + name));
    ExpectNothingLeft();
}

INSTANTIATE_TEST_SUITE_P(Cases, Placement, ::testing::ValuesIn(Placements));

// Any program can set ComSpec for a process it starts; the elevated
// installer must not run what it names.
TEST_F(ConsoleCommand, NeverRunsTheProgramComSpecNames) {
    for (const char* comspec : {"C:\\Users\\User\\Downloads\\canary.exe", "C:\\Users\\User\\Downloads\\cmd.exe", ""}) {
        SCOPED_TRACE(comspec);
        Sim::Reset();
        SeedRandom(Seed);
        pc().files.AddFile("C:\\Users\\User\\Downloads\\canary.exe", "MZ");
        pc().AddInterpreter("C:\\Users\\User\\Downloads\\cmd.exe").commands["ver"].output = "canary\r\n";
        pc().environment["ComSpec"] = comspec;
        Ver();
        EXPECT_EQ(RunConsoleCommand("ver"), "\r\nMicrosoft Windows [Version 10.0.19045.3693]\r\n");
        ASSERT_EQ(pc().processes.size(), 1u);
        EXPECT_EQ(pc().processes[0].program, Cmd);
    }
}

// ------------------------------------------------------- the capture file

TEST_F(ConsoleCommand, NeverOverwritesAFileItDidNotCreate) {
    Ver();
    const std::vector<std::string> names = DrawnNames(4);
    pc().files.AddFile(Temp + "\\" + names[0], "someone else's");
    pc().files.AddFolder(Temp + "\\" + names[1]);
    pc().files.AddFileLink(Temp + "\\" + names[2], "C:\\Windows\\system32\\planted.dll");  // to nothing yet
    EXPECT_EQ(RunConsoleCommand("ver"), "\r\nMicrosoft Windows [Version 10.0.19045.3693]\r\n");
    ASSERT_EQ(pc().processes.size(), 1u);
    EXPECT_EQ(pc().processes[0].redirect, Temp + "\\" + names[3]);
    EXPECT_FALSE(pc().files.Exists("C:\\Windows\\system32\\planted.dll"));
    EXPECT_EQ(pc().files.Read(Temp + "\\" + names[0]), DemoPc::Bytes("someone else's"));
    EXPECT_TRUE(pc().files.IsFolder(Temp + "\\" + names[1]));
    ExpectNothingLeft();
}

TEST_F(ConsoleCommand, GivesUpAfterAnImplausibleRunOfTakenNames) {
    Ver();
    for (const std::string& name : DrawnNames(40)) pc().files.AddFile(Temp + "\\" + name, "taken");
    EXPECT_EQ(RunConsoleCommand("ver"), "\r\n");
    EXPECT_TRUE(pc().processes.empty());
    for (const std::string& name : DrawnNames(40))
        EXPECT_EQ(pc().files.Read(Temp + "\\" + name), DemoPc::Bytes("taken"));
}

// ------------------------------------------------------------ what can fail

struct FailureCase {
    const char* what;
    std::function<void(Sim::Machine&)> arrange;
    bool attempted;  // CreateProcessA was called
    std::string result;
};

const FailureCase Failures[] = {
    {"the interpreter is missing", [](Sim::Machine& m) { m.files.Remove(Cmd); }, true, "\r\n"},
    {"the interpreter does not start", [](Sim::Machine& m) { m.Inject("CreateProcessA", 1, ERROR_BAD_EXE_FORMAT); },
     true, "\r\n"},
    {"the Temp folder does not exist", [](Sim::Machine& m) { m.environment["Temp"] = "C:\\Nowhere"; }, false, "\r\n"},
    {"the Temp folder denies creating files",
     [](Sim::Machine& m) { m.Inject("CreateFileA", 0, ERROR_ACCESS_DENIED, Temp); }, false, "\r\n"},
    {"an unknown command prints nothing to its output",
     [](Sim::Machine& m) { m.interpreters.begin()->second.commands.clear(); }, true, "\r\n"},
    {"the capture cannot be read back", [](Sim::Machine& m) { m.Inject("ReadFile", 1, ERROR_READ_FAULT); }, true,
     "\r\n"},
    {"the capture cannot be deleted", [](Sim::Machine& m) { m.Inject("DeleteFileA", 1, ERROR_ACCESS_DENIED); }, true,
     "\r\nMicrosoft Windows [Version 10.0.19045.3693]\r\n"},
};

class Failure : public ConsoleCommand, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(Failure, ReportsNothingAndLeavesNothingRunning) {
    Ver();
    GetParam().arrange(pc());
    EXPECT_EQ(RunConsoleCommand("ver"), GetParam().result);
    EXPECT_EQ(pc().CallCount("CreateProcessA"), GetParam().attempted ? 1 : 0);
    for (const auto& [value, h] : pc().handles) ADD_FAILURE() << "handle left open: kind " << h.kind;
    for (const Sim::ProcessRecord& p : pc().processes) {
        if (!p.program.empty()) {
            EXPECT_TRUE(p.endedAt.has_value());
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, Failure, ::testing::ValuesIn(Failures));

// --------------------------------------------------------- the time limit

struct TimingCase {
    const char* what;
    DWORD runMs;
    bool neverEnds;
    bool terminated;
};

const TimingCase Timings[] = {
    {"a quick command", 80, false, false},
    {"a command that ends just in time", ConsoleCommandTimeoutMs, false, false},
    {"a command that would end just too late", ConsoleCommandTimeoutMs + 1, false, true},
    {"a command that never ends", 0, true, true},
};

class Timing : public ConsoleCommand, public ::testing::WithParamInterface<TimingCase> {};

TEST_P(Timing, WaitsAtMostTheLimitThenEndsTheCommandAndUsesWhatItWrote) {
    const TimingCase& c = GetParam();
    Sim::ConsoleCommand& ver = Ver();
    ver.output = "partial\r\n";
    ver.runMs = c.runMs;
    ver.neverEnds = c.neverEnds;
    EXPECT_EQ(RunConsoleCommand("ver"), "partial\r\n");
    ASSERT_EQ(pc().processes.size(), 1u);
    const Sim::ProcessRecord& p = pc().processes[0];
    EXPECT_EQ(p.terminated, c.terminated);
    EXPECT_EQ(pc().CallCount("TerminateProcess"), c.terminated ? 1 : 0);
    if (c.terminated)
        EXPECT_GE(pc().now, ConsoleCommandTimeoutMs);
    else
        EXPECT_EQ(pc().now, c.runMs);
    // The terminated interpreter let go of the file before it was deleted.
    ExpectNothingLeft();
}

INSTANTIATE_TEST_SUITE_P(Cases, Timing, ::testing::ValuesIn(Timings));

}  // namespace

// ------------------------------------------- what the user's environment may steer

namespace {

const std::string VerLine = "\r\nMicrosoft Windows [Version 10.0.19045.3693]\r\n";

// AutoRun runs with the interpreter's rights, that is elevated, before the
// command: a user's setting must not get that far.
TEST_F(ConsoleCommand, TheInterpreterSkipsItsAutoRunCommands) {
    Ver();
    pc().registry.SetString(HKEY_CURRENT_USER, "Software\\Microsoft\\Command Processor", "AutoRun",
                            "C:\\Users\\User\\autorun.cmd");
    pc().registry.SetString(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Command Processor", "AutoRun", "echo hi");
    EXPECT_EQ(RunConsoleCommand("ver"), VerLine);
    ASSERT_EQ(pc().processes.size(), 1u);
    EXPECT_EQ(pc().processes[0].autoRun, std::vector<std::string>{});
    ExpectNothingLeft();
}

// A Temp value with what the interpreter expands or interprets would steer
// where the elevated interpreter writes: the system's own Temp folder is
// used instead, and the value never reaches the command line.
TEST_F(ConsoleCommand, ATempValueTheInterpreterWouldInterpretIsNotUsed) {
    for (const std::string temp : {"C:\\Users\\User\\%Elsewhere%", "C:\\Users\\A&B", "C:\\Users\\A^B", "C:\\Users\\A|B",
                                   "C:\\Users\\A<B", "C:\\Users\\A>B", "C:\\Users\\A\"B", "C:\\Users\\100%"}) {
        SCOPED_TRACE(temp);
        Sim::Reset();
        Ver();
        pc().environment["Elsewhere"] = "..\\..\\Windows\\system32\\drivers";
        pc().environment["Temp"] = temp;
        if (temp.find_first_of("|<>\"") == std::string::npos) pc().files.AddFolder(temp);  // a name Windows allows
        const std::string name = DrawnNames(1)[0];
        EXPECT_EQ(RunConsoleCommand("ver"), VerLine);
        ASSERT_EQ(pc().processes.size(), 1u);
        EXPECT_EQ(pc().processes[0].redirect, "C:\\Windows\\Temp\\" + name);
        EXPECT_EQ(pc().processes[0].commandLine.find(temp), std::string::npos);
        EXPECT_FALSE(pc().files.Exists("C:\\Windows\\system32\\" + name));
        ExpectNothingLeft();
    }
}

// Between the command's end and the read, the capture file can be swapped
// for a link to another file; what that file holds must not be taken for
// the command's output, and the other file must stay.
TEST_F(ConsoleCommand, AnExchangedCaptureFileIsNotReadThrough) {
    const struct {
        const char* what;
        void (*swap)(const std::string& capture);
    } cases[] = {
        {"symbolic link",
         [](const std::string& capture) {
             Sim::pc().files.Remove(capture);
             Sim::pc().files.AddFileLink(capture, "C:\\secret.txt");
         }},
        {"hard link",
         [](const std::string& capture) {
             Sim::pc().files.Remove(capture);
             Sim::pc().files.AddHardLink(capture, "C:\\secret.txt");
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Sim::Reset();
        SeedRandom(Seed);
        Ver().meanwhile = c.swap;
        pc().files.AddFile("C:\\secret.txt", "Microsoft Windows [Version 99]\r\n");
        EXPECT_EQ(RunConsoleCommand("ver"), "\r\n");
        EXPECT_EQ(pc().files.Read("C:\\secret.txt"), DemoPc::Bytes("Microsoft Windows [Version 99]\r\n"));
        ExpectNothingLeft();
    }
}

}  // namespace
