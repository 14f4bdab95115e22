// The GUI libraries are delay-loaded: a run that shows nothing must not
// bring any of them in, and whatever loads must load after the library
// search has been restricted to the system folder.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "driver/program_entry.h"
#include "tests/demo_pc.h"

namespace {

std::vector<std::string> Loaded() {
    std::vector<std::string> names;
    for (const auto& load : sim::pc().delayLoads) names.push_back(load.library);
    return names;
}

class GuiLibraries : public demo::SimTest {
protected:
    void SetUp() override {
        demo::SimTest::SetUp();
        demo::Setup(pc());
    }
};

void Args(const std::string& args) {
    sim::pc().commandLine = "\"C:\\Users\\User\\Downloads\\LexomirUpdate.exe\" " + args;
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
             sim::pc().AddInterpreter();
             sim::pc().environment["ComSpec"] = "C:\\Windows\\system32\\cmd.exe";
         },
         0, {}},
        {"quiet run where \"ver\" prints letters beyond ASCII: they are converted",
         [] {
             Args("modest");
             sim::pc().AddInterpreter().commands["ver"].output = "\r\n\x8C\xA0\xA9\xAA\xE0\xAE\xE1\xAE\xE4\xE2 Windows [10.0]\r\n";
             sim::pc().environment["ComSpec"] = "C:\\Windows\\system32\\cmd.exe";
         },
         0, {"user32.dll"}},
        {"quiet run, the application running: it is found and told to quit",
         [] {
             Args("modest");
             sim::pc().StartMainApp();
         },
         0, {"user32.dll"}},
        {"quiet run that starts the application",
         [] { Args("modest runapp"); }, 0, {"shell32.dll", "user32.dll"}},
        {"confirmation refused", [] { sim::pc().boxAnswers = {IDNO}; }, 3, {"user32.dll"}},
        {"no rights", [] {
             Args("modest");
             sim::pc().userIsAdmin = false;
         }, 2, {"user32.dll"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        sim::Reset();
        demo::Setup(pc());
        c.arrange();
        EXPECT_EQ(RunInstaller(), c.exitCode);
        EXPECT_EQ(Loaded(), c.loaded);
        for (const auto& load : pc().delayLoads) EXPECT_TRUE(load.searchRestricted) << load.library;
    }
}

}  // namespace
