// Covers: driver/app_instance.cpp. The running application: its marker, the quit request, and the restart
// with its waits, timed on the simulated PC's virtual clock.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/app_instance.h"
#include "driver/update_package.h"
#include "driver/update_sequence.h"
#include "environment/install_target.h"
#include "tests/demo_pc.h"

namespace {

class AppInstance : public DemoPc::SimTest {
protected:
    void SetUp() override {
        DemoPc::SimTest::SetUp();
        DemoPc::Setup(pc());
        UpdatePackage = TUpdatePackage{};
        FillPackageConstants();
        InstallEnvironment.AppFolder = DemoPc::Folder;
    }
    bool MarkerExists() { return pc().namedObjects.count("lexomir_memfile") != 0; }
    std::vector<DWORD> Sleeps(DWORD ms, int n, std::vector<DWORD> before = {}) {
        before.insert(before.end(), std::size_t(n), ms);
        return before;
    }
};

TEST_F(AppInstance, ProbeLeavesNoMarkerBehindWhenTheApplicationIsNotRunning) {
    EXPECT_TRUE(InstanceMarkerAbsent());
    EXPECT_FALSE(MarkerExists());
    EXPECT_TRUE(pc().handles.empty());
}

TEST_F(AppInstance, ProbeFindsARunningApplicationAndKeepsNoHandle) {
    pc().StartMainApp();
    EXPECT_FALSE(InstanceMarkerAbsent());
    EXPECT_EQ(pc().namedObjects["lexomir_memfile"], 1) << "only the application holds its marker";
    EXPECT_TRUE(pc().handles.empty());
    ASSERT_EQ(pc().CallCount("OpenFileMappingA"), 1);
}

TEST_F(AppInstance, QuitRequestPostsWmQuitToTheMainWindowOnly) {
    RequestAppQuit();
    EXPECT_EQ(pc().CallCount("PostMessageA"), 0) << "no window, nothing posted";
    pc().StartMainApp();
    RequestAppQuit();
    EXPECT_EQ(pc().CallCount("PostMessageA"), 1);
    EXPECT_EQ(pc().app.history.back(), "quit requested");
    EXPECT_TRUE(pc().sleeps.empty()) << "the request itself does not wait";
}

TEST_F(AppInstance, WaitForQuitProbesEvery512msUpToEightTimes) {
    const struct {
        const char* name;
        bool quits;
        DWORD delay;
        bool gone;
        int probes;
    } cases[] = {
        {"quits at once", true, 0, true, 1},
        {"quits after 2 s", true, 2000, true, 4},
        {"quits just in time", true, 8 * 512, true, 8},
        {"too slow", true, 8 * 512 + 1, false, 8},
        {"never quits", false, 0, false, 8},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        pc().app.quitsOnWmQuit = c.quits;
        pc().app.quitDelayMs = c.delay;
        pc().StartMainApp();
        RequestAppQuit();
        EXPECT_EQ(WaitForAppToQuit(), c.gone);
        EXPECT_EQ(pc().sleeps, Sleeps(512, c.probes));
    }
}

// From an elevated installer the application starts as the desktop user:
// with the shell's token, or else by the shell itself through its
// automation objects. The plain way only where it raises nothing, and
// nothing at all where no route is left.
TEST_F(AppInstance, StartRunsTheExecutableFromItsFolderAsTheDesktopUser) {
    const std::string token = "CreateProcessWithTokenW", shell = "IShellDispatch2::ShellExecute",
                      plain = "ShellExecuteA", none;
    const struct {
        const char* what;
        void (*arrange)(Sim::Machine&);
        const std::string& function;
    } cases[] = {
        {"elevated installer, unelevated shell", [](Sim::Machine&) {}, token},
        {"the shell runs elevated (UAC off)", [](Sim::Machine& m) { m.shell.elevated = true; }, plain},
        {"the installer is not elevated", [](Sim::Machine& m) { m.elevated = false; }, plain},
        {"Windows XP: no elevation at all", [](Sim::Machine& m) { m.version.dwMajorVersion = 5; }, plain},
        {"its own elevation cannot be asked: taken as elevated",
         [](Sim::Machine& m) { m.Inject("GetTokenInformation", 1, ERROR_ACCESS_DENIED); }, token},
        {"no shell", [](Sim::Machine& m) { m.shell.running = false; }, none},
        {"another user's shell", [](Sim::Machine& m) { m.shell.otherUser = true; }, shell},
        {"the secondary logon service is disabled", [](Sim::Machine& m) { m.secondaryLogonRunning = false; }, shell},
        {"no impersonation privilege", [](Sim::Machine& m) { m.impersonatePrivilege = false; }, shell},
        {"the shell's token cannot be opened",
         [](Sim::Machine& m) { m.Inject("OpenProcessToken", 2, ERROR_ACCESS_DENIED); }, shell},
        {"its token cannot be copied",
         [](Sim::Machine& m) { m.Inject("DuplicateTokenEx", 1, ERROR_NOT_ENOUGH_MEMORY); }, shell},
        {"another user's shell, whose objects cannot be reached",
         [](Sim::Machine& m) {
             m.shell.otherUser = true;
             m.Inject("CoCreateInstance", 1, ERROR_ACCESS_DENIED);
         },
         none},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        c.arrange(pc());
        StartApp();
        EXPECT_TRUE(pc().handles.empty() && pc().comObjects.empty() && pc().strings.empty() && !pc().comInitialized)
            << "a handle, COM object, string or apartment left behind";
        EXPECT_EQ(pc().launches.size(), c.function.empty() ? 0u : 1u);
        if (c.function.empty() || pc().launches.size() != 1) continue;
        const Sim::ShellExecuteRecord& l = pc().launches[0];
        EXPECT_EQ(l.function, c.function);
        EXPECT_EQ(l.file, DemoPc::Folder + "Lexomir.exe");
        EXPECT_EQ(l.parameters, c.function == token ? "\"" + l.file + "\"" : "") << "the program's name, nothing else";
        EXPECT_EQ(l.directory, c.function == plain ? "" : DemoPc::Folder);
        EXPECT_EQ(l.elevated, c.function == plain && pc().elevated);
        EXPECT_EQ(l.show, SW_SHOWNORMAL);
        EXPECT_EQ(l.currentFolder, "C:\\Program Files (x86)\\Lexomir");
    }
}

TEST_F(AppInstance, StartAndActivateWaitsForTheMarkerThenTheWindow) {
    const struct {
        const char* name;
        bool starts;
        DWORD markerDelay, windowDelay;
        std::vector<DWORD> sleeps;
        bool activated;
    } cases[] = {
        {"quick start", true, 250, 250, {512, 1024}, true},
        {"marker at the 8th probe", true, 7 * 512 + 1, 0, Sleeps(1024, 1, Sleeps(512, 8)), true},
        {"window at the 11th search", true, 250, 263 + 10 * 1024, Sleeps(1024, 11, {512}), true},
        {"never starts", false, 0, 0, Sleeps(512, 8), false},
        {"marker too late", true, 8 * 512 + 1, 0, Sleeps(512, 8), false},
        {"window too late", true, 250, 263 + 11 * 1024, Sleeps(1024, 11, {512}), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        pc().app.startsWhenLaunched = c.starts;
        pc().app.markerDelayMs = c.markerDelay;
        pc().app.windowDelayMs = c.windowDelay;
        StartAppAndActivate();
        const std::vector<DWORD>& expected = c.sleeps;
        EXPECT_EQ(pc().sleeps, expected);
        EXPECT_EQ(pc().CallCount("SetForegroundWindow"), c.activated ? 1 : 0);
        if (c.activated) {
            EXPECT_TRUE(pc().windows.at(pc().app.window).foreground);
            EXPECT_EQ(pc().app.history.back(), "brought to front");
        }
        if (!c.starts) {
            EXPECT_EQ(pc().CallCount("FindWindowA"), 0);
        }
    }
}

TEST_F(AppInstance, MinimizedWindowIsRestoredBeforeItIsBroughtToTheFront) {
    pc().app.startMinimized = true;
    StartAppAndActivate();
    const std::vector<std::string> tail(pc().app.history.end() - 2, pc().app.history.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"restored", "brought to front"}));
}

TEST_F(AppInstance, MissingExecutableEndsQuietlyAfterTheMarkerWait) {
    pc().files.Remove(DemoPc::Folder + "Lexomir.exe");
    StartAppAndActivate();
    EXPECT_EQ(pc().sleeps, Sleeps(512, 8));
    EXPECT_EQ(pc().now, 4096u);
    EXPECT_TRUE(pc().boxes.empty());
}

TEST_F(AppInstance, RestartAfterAQuitFindsTheNewInstanceNotTheInstallersHandle) {
    pc().app.quitDelayMs = 100;
    pc().StartMainApp();
    EXPECT_FALSE(InstanceMarkerAbsent());
    RequestAppQuit();
    EXPECT_TRUE(WaitForAppToQuit());
    pc().sleeps.clear();
    pc().app.markerDelayMs = 3000;
    StartAppAndActivate();
    // The marker shows up only once the new instance makes it: 6 probes.
    EXPECT_EQ(std::vector<DWORD>(pc().sleeps.begin(), pc().sleeps.begin() + 6), Sleeps(512, 6));
    EXPECT_TRUE(pc().app.running);
}

}  // namespace
