// Covers: driver/program_entry.cpp, tests/sim/sim_delay_load.cpp.
// The GUI libraries are delay-loaded: a run that shows nothing must not
// bring any of them in, and whatever loads must load after the library
// search has been restricted to the system folder.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "driver/program_entry.h"
#include "tests/demo_pc.h"

namespace {

std::vector<std::string> Loaded() {
    std::vector<std::string> names;
    for (const auto& load : Sim::pc().delayLoads) names.push_back(load.library);
    return names;
}

class GuiLibraries : public DemoPc::SimTest {
protected:
    void SetUp() override {
        DemoPc::SimTest::SetUp();
        DemoPc::Setup(pc());
    }
};

void Args(const std::string& args) {
    Sim::pc().commandLine = "\"C:\\Users\\User\\Downloads\\LexomirUpdate.exe\" " + args;
}

TEST_F(GuiLibraries, LoadedOnlyByRunsThatShowOrStartSomething) {
    using Libraries = std::vector<std::string>;
    const struct {
        const char* what;
        std::function<void()> arrange;
        int exitCode;
        Libraries loaded;
    } cases[] = {
        {"quiet run", [] { Args("modest"); }, 0, {}},
        {"quiet run where \"ver\" is asked (Windows 8 and later)",
         [] {
             Args("modest");
             Sim::pc().AddInterpreter();
             Sim::pc().environment["ComSpec"] = "C:\\Windows\\system32\\cmd.exe";
         },
         0,
         {}},
        {"quiet run where \"ver\" prints letters beyond ASCII: kernel32 converts it",
         [] {
             Args("modest");
             Sim::pc().AddInterpreter().commands["ver"].output =
                 "\r\n\x8C\xA0\xA9\xAA\xE0\xAE\xE1\xAE\xE4\xE2 Windows [10.0]\r\n";
             Sim::pc().environment["ComSpec"] = "C:\\Windows\\system32\\cmd.exe";
         },
         0,
         {}},
        {"quiet run, the application running: it is found and told to quit",
         [] {
             Args("modest");
             Sim::pc().StartMainApp();
         },
         0,
         {"user32.dll"}},
        {"quiet run that starts the application as the desktop user: the shell's window, no shell32",
         [] { Args("modest runapp"); },
         0,
         {"user32.dll"}},
        {"quiet run that has another user's shell start the application: COM's libraries, no shell32",
         [] {
             Args("modest runapp");
             Sim::pc().shell.otherUser = true;
         },
         0,
         {"user32.dll", "ole32.dll", "oleaut32.dll"}},
        {"quiet run that starts the application the plain way, the shell elevated too",
         [] {
             Args("modest runapp");
             Sim::pc().shell.elevated = true;
         },
         0,
         {"user32.dll", "shell32.dll"}},
        {"confirmation refused", [] { Sim::pc().boxAnswers = {IDNO}; }, 3, {"user32.dll"}},
        {"no rights",
         [] {
             Args("modest");
             Sim::pc().userIsAdmin = false;
         },
         5,
         {"user32.dll"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Sim::Reset();
        DemoPc::Setup(pc());
        c.arrange();
        EXPECT_EQ(RunInstaller(), c.exitCode);
        EXPECT_EQ(Loaded(), c.loaded);
        for (const auto& load : pc().delayLoads) EXPECT_TRUE(load.searchRestricted) << load.library;
    }
}

// The simulated PC can only tell a delay load when it knows the library of
// every delay-loaded function the seam declares: a function added to
// win32.h under user32, gdi32, comctl32, shell32, ole32 or oleaut32 must be
// added to its table too.
TEST(GuiLibrariesTable, EveryGuiFunctionOfTheSeamIsKnown) {
    std::string header = __FILE__;
    header = header.substr(0, header.rfind("tests/")) + "platform/win32.h";
    std::ifstream in(header);
    ASSERT_TRUE(in) << header;
    const std::regex section(R"(^// [a-z])");
    const std::regex delayed(R"(^// (user32|gdi32|comctl32|shell32|ole32|oleaut32)\b)");
    const std::regex declaration(R"(WINAPI (\w+)\()");
    std::string line, libraries;
    bool inSimulatedPart = false;
    int checked = 0;
    while (std::getline(in, line)) {
        if (line.rfind("#else", 0) == 0) inSimulatedPart = true;  // the host's declarations
        std::smatch m;
        if (std::regex_search(line, m, section)) libraries = line;
        if (!inSimulatedPart || !std::regex_search(line, m, declaration)) continue;
        const bool gui = std::regex_search(libraries, delayed);
        const std::string library = Sim::DelayLoadedLibrary(m[1]);
        if (gui) {
            ++checked;
            EXPECT_FALSE(library.empty()) << m[1] << " (" << libraries << ")";
            if (!library.empty()) {
                EXPECT_NE(libraries.find(library.substr(0, library.find('.'))), std::string::npos) << m[1];
            }
        } else {
            EXPECT_TRUE(library.empty()) << m[1] << " is not a GUI library's (" << libraries << ")";
        }
    }
    EXPECT_GT(checked, 20);
}

}  // namespace
