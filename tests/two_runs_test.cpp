// Covers: install/install_guard.cpp, driver/process_state.cpp.
// Two runs of the installer for one installation at once: the
// application's own updater and the user, say. The second run starts at
// every point of the first where both reach the same things, and runs to
// its end there; whatever the order, the data is complete, nothing of
// either run is left behind, and neither reports a failure, unless it gave
// up after a minute of waiting for the other.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "tests/demo_pc.h"
#include "tests/second_run.h"

namespace {

const std::string Temp = DemoPc::Folder + "~lxn.cok";
const std::string Guard = DemoPc::Folder + "~LexomirUpdate.lock";

// The calls where the order of two runs can matter: what touches the
// folder, the registry, the application or the clock.
bool Shared(const std::string& function) {
    if (function.find("PrivateNamespace") != std::string::npos || function.find("Mutex") != std::string::npos ||
        function == "WaitForSingleObject")
        return true;
    for (const char* f :
         {"CreateFileA", "CreateFileW", "DeleteFileA", "SetFileInformationByHandle", "GetFileAttributesA",
          "SetFileAttributesA", "RemoveDirectoryA", "WriteFile", "FlushFileBuffers", "CloseHandle", "RegCreateKeyExA",
          "RegSetValueExA", "FindFirstFileA", "OpenFileMappingA", "PostMessageA", "Sleep"})
        if (function == f) return true;
    return false;
}

void Arrange(const std::vector<std::uint8_t>& payload) {
    Sim::Reset();
    DemoPc::Setup(Sim::pc(), payload);
    Sim::pc().commandLine = "LexomirUpdate.exe modest runapp";
    Sim::pc().StartMainApp();
}

TEST(TwoRuns, WhereverTheSecondStartsBothFinishAndNothingIsLost) {
    const std::vector<std::uint8_t> payload = DemoPc::Payload(6000);
    Arrange(payload);
    ASSERT_EQ(RunInstaller(), 0);
    const std::vector<Sim::CallRecord> alone = Sim::pc().calls;

    int points = 0, waited = 0;
    for (std::size_t k = 0; k < alone.size(); ++k) {
        if (!Shared(alone[k].function)) continue;
        ++points;
        SCOPED_TRACE("the second run starts at call " + std::to_string(k + 1) + ", " + alone[k].function + " " +
                     alone[k].detail);
        Arrange(payload);
        Sim::Machine& m = Sim::pc();
        std::size_t seen = 0;
        int second = -1;
        bool guardHeld = false;
        m.meanwhile = [&](const Sim::CallRecord&) {
            if (seen++ != k) return;
            guardHeld =
                std::any_of(m.objects.begin(), m.objects.end(), [](const auto& o) { return o.second.owner != 0; });
            second = SecondRun::Run("LexomirUpdate.exe modest runapp");
        };
        const int first = RunInstaller();

        EXPECT_EQ(first, 0);
        // Kept waiting for as long as the first holds the guard, here for
        // ever: the second gives up after a minute, having changed nothing.
        EXPECT_EQ(second, guardHeld ? 1618 : 0);
        waited += guardHeld;
        EXPECT_EQ(m.files.Read(DemoPc::DataFile), payload);
        EXPECT_FALSE(m.files.Exists(Temp));
        EXPECT_FALSE(m.files.Exists(Guard));
        EXPECT_TRUE(m.handles.empty() && m.objects.empty());
        EXPECT_EQ(m.boxes.size(), guardHeld ? 1u : 0u);
        EXPECT_TRUE(m.app.running);
    }
    std::cout << "[ two runs ] the second started at " << points << " points, " << waited
              << " of them while the first held the guard\n";
    EXPECT_GT(waited, 0);
    EXPECT_LT(waited, points);
}

}  // namespace

namespace {

// The guard against what else may stand at its name, or hold it: another
// run (another process, here), one that ended without cleaning up, a link,
// where the system has no private namespaces; where it has, the lock file
// is no guard, and a standard user holding it open keeps no run waiting.
TEST(TwoRuns, TheGuardWaitsAboutAMinuteAndIsNeverFollowed) {
    const std::vector<std::uint8_t> payload = DemoPc::Payload(3000);
    const std::string elsewhere = "C:\\Windows\\win.ini";
    const struct {
        const char* what;
        std::function<void(Sim::Machine&)> arrange;
        int exitCode;
        bool lockFile = true;
    } cases[] = {
        {"a standard user holding the old lock file open for its attributes",
         [](Sim::Machine& m) { m.files.HoldOpen((m.files.AddFile(Guard, ""), Guard), FILE_READ_ATTRIBUTES, 0); }, 0,
         false},
        {"held by another run for 5 s",
         [](Sim::Machine& m) {
             m.files.AddFile(Guard, "");
             const int token = m.files.HoldOpen(Guard, DELETE, 0);
             m.At(5000, [token] { Sim::pc().files.Release(token); });
         },
         0},
        {"held by another run for longer than a minute",
         [](Sim::Machine& m) {
             m.files.AddFile(Guard, "");
             m.files.HoldOpen(Guard, DELETE, 0);
         },
         1618},
        {"left behind by a run that ended without closing it", [](Sim::Machine& m) { m.files.AddFile(Guard, ""); }, 0},
        {"a link to another file planted at its name",
         [elsewhere](Sim::Machine& m) {
             m.files.AddFile(elsewhere, "[fonts]");
             m.files.AddFileLink(Guard, elsewhere);
         },
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Arrange(payload);
        Sim::Machine& m = Sim::pc();
        m.privateNamespacesExported = !c.lockFile;
        c.arrange(m);
        EXPECT_EQ(RunInstaller(), c.exitCode);
        EXPECT_EQ(m.files.Read(DemoPc::DataFile), c.exitCode == 0 ? payload : DemoPc::Bytes("old data"));
        EXPECT_TRUE(m.app.running) << "started again, or never asked to quit";
        if (c.exitCode == 1618) {
            DWORD waited = 0;
            for (DWORD s : m.sleeps) waited += s;
            EXPECT_GE(waited, 60000u);
            EXPECT_LE(waited, 62000u);
            ASSERT_EQ(m.boxes.size(), 1u);
            EXPECT_EQ(m.boxes[0].text, "Can't install file " + DemoPc::DataFile);
            EXPECT_TRUE(m.launches.empty());
        }
        EXPECT_EQ(m.files.Read(elsewhere).value_or(DemoPc::Bytes("[fonts]")), DemoPc::Bytes("[fonts]"));
    }
}

// A deleted name that a scanner still holds stays for a moment where the
// volume keeps it (Windows 7 and 8.1, FAT, network volumes): creating the
// temporary file again is refused until the scanner lets go.
TEST(TwoRuns, ALeftoverTemporaryFileAScannerHoldsIsReplacedOnceItLetsGo) {
    const std::vector<std::uint8_t> payload = DemoPc::Payload(3000);
    const struct {
        bool posixDelete;
        DWORD scanMs;
        int exitCode;
    } cases[] = {{false, 300, 0}, {false, 1200, 0}, {true, 60000, 0}, {false, 60000, 4}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.scanMs) + (c.posixDelete ? " ms, the name goes at once" : " ms"));
        Arrange(payload);
        Sim::Machine& m = Sim::pc();
        m.files.posixDelete = c.posixDelete;
        m.files.AddFile(Temp, DemoPc::Bytes("left by a run that was killed"));
        const int token = m.files.HoldOpen(Temp, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
        m.At(c.scanMs, [token] { Sim::pc().files.Release(token); });
        EXPECT_EQ(RunInstaller(), c.exitCode);
        EXPECT_EQ(m.files.Read(DemoPc::DataFile), c.exitCode == 0 ? payload : DemoPc::Bytes("old data"));
    }
}

}  // namespace
