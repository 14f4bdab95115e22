// Covers: messages/support_log.cpp. The support log: what a run leaves in the Application event log for
// whoever must find out afterwards why it failed, and the runs where
// nobody can see a box (a deployment tool running the installer as SYSTEM).
#include "messages/support_log.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "driver/program_entry.h"
#include "tests/demo_pc.h"

namespace {

class SupportLogTest : public DemoPc::SimTest {
protected:
    void SetUp() override {
        DemoPc::SimTest::SetUp();
        DemoPc::Setup(pc(), payload_);
    }
    std::vector<std::string> Record() {
        EXPECT_EQ(pc().eventLog.size(), 1u);
        if (pc().eventLog.empty()) return {};
        std::vector<std::string> lines;
        for (const std::wstring& line : pc().eventLog.back().strings) lines.push_back(Sim::Narrow(line, 1251));
        return lines;
    }
    std::vector<std::uint8_t> payload_ = DemoPc::Payload(3000);
};

TEST_F(SupportLogTest, AQuietRunLeavesOneRecordOfEveryStage) {
    pc().commandLine = "\"C:\\Users\\User\\Downloads\\LexomirUpdate.exe\" modest runapp";
    pc().StartMainApp();
    ASSERT_EQ(RunInstaller(), 0);
    const Sim::Machine::EventRecord& event = pc().eventLog.back();
    EXPECT_EQ(event.source, L"LexomirUpdate");
    EXPECT_EQ(event.type, EVENTLOG_INFORMATION_TYPE);
    EXPECT_EQ(event.id, 1000u);
    const std::string folder = DemoPc::Folder;
    EXPECT_EQ(Record(), (std::vector<std::string>{
                            "Lexomir update, package version 1001, 2026-12-10 09:30:00",
                            "command line: modest runapp",
                            "Windows: Microsoft Windows   64-bit",
                            "application folder: " + folder +
                                " (uninstall entry "
                                "HKLM\\Software\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Lexomir)",
                            "self-check: the installer's file is intact",
                            "running application: asked to quit, and it did",
                            "data file: " + folder + "lxn.cok written, 3000 bytes",
                            "installed size: 5 KiB",
                            "detection values: version 1001, SHA-256 "
                            "88F261152388022FE1448BBBC10BC3A104F1FB067E82462CAB8D8ECF33AA81E7",
                            "application start: running, its window brought to the front",
                            "exit code 0",
                        }));
}

// Each way a run ends leaves a record that says why, and where nobody can
// see a box (session 0) none is shown: a question counts as No.
TEST_F(SupportLogTest, EveryEndingIsRecordedAndNoBoxWaitsWhereNobodyCanAnswer) {
    const struct {
        const char* what;
        std::function<void(Sim::Machine&)> arrange;
        int exitCode;
        WORD type;
        std::string line;  // the record holds a line that starts so (in code page 1251)
    } cases[] = {
        {"the write fails",
         [](Sim::Machine& m) {
             m.commandLine = "LexomirUpdate.exe modest";
             m.files.FailWritesAfter(DemoPc::Folder + "~lxn.cok", 100);
         },
         4, EVENTLOG_ERROR_TYPE, "data file: " + DemoPc::Folder + "lxn.cok not written, error 112"},
        {"nobody can answer the confirmation", [](Sim::Machine& m) { m.windowStationVisible = false; }, 3,
         EVENTLOG_WARNING_TYPE,
         "box \"Sound question\": Would you like to setup Lexomir update - \"\xD2\xE8\xF0\xE2\xE5\xED\xE0\" "
         "\xE2\xE5\xF0\xF1\xE8\xE8 1001? - not shown: nobody can answer it here (the window station cannot be "
         "seen), so it counts as No; \"modest\" runs without questions"},
        {"nobody can see that the application is missing",
         [](Sim::Machine& m) {
             m.windowStationVisible = false;
             m.files.Remove(DemoPc::Folder + "Lexomir.exe");
         },
         2, EVENTLOG_ERROR_TYPE, "box \"Lexomir update\": There's no subject of update"},
        {"nobody can see an unexpected error",
         [](Sim::Machine& m) {
             m.windowStationVisible = false;
             m.registry.SetDword(HKEY_LOCAL_MACHINE, DemoPc::Entry32, "UninstallString", 7);
         },
         1, EVENTLOG_ERROR_TYPE, "unexpected error: ERegistryException: Invalid data type for 'UninstallString'"},
        {"where nobody can see a box a quiet run installs as ever",
         [](Sim::Machine& m) {
             m.windowStationVisible = false;
             m.commandLine = "LexomirUpdate.exe modest";
         },
         0, EVENTLOG_INFORMATION_TYPE, "data file: " + DemoPc::Folder + "lxn.cok written"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Sim::Reset();
        DemoPc::Setup(pc(), payload_);
        pc().boxAnswers = {IDYES, IDYES};
        c.arrange(pc());
        EXPECT_EQ(RunInstaller(), c.exitCode);
        EXPECT_EQ(pc().boxes.empty(), !pc().windowStationVisible);
        const std::vector<std::string> lines = Record();
        if (lines.empty()) continue;
        EXPECT_EQ(pc().eventLog.back().type, c.type);
        EXPECT_EQ(lines.back(), "exit code " + std::to_string(c.exitCode));
        bool found = false;
        for (const std::string& line : lines) found |= line.rfind(c.line, 0) == 0;
        EXPECT_TRUE(found) << "no line starts with: " << c.line << "\nin:\n" << ::testing::PrintToString(lines);
    }
}

// A record stays short however much a run has to say. (That one which
// cannot be written changes nothing else is an invariant of the fault sweep.)
TEST_F(SupportLogTest, IsBounded) {
    SupportLog::Begin("first");
    for (int i = 0; i < 100; ++i) SupportLog::Note("line " + std::to_string(i) + " " + std::string(600, 'x'));
    SupportLog::Write(4);
    const std::vector<std::string> lines = Record();
    ASSERT_EQ(lines.size(), 48u);
    EXPECT_EQ(lines[46], "55 more lines left out");
    EXPECT_EQ(lines[47], "exit code 4");
    EXPECT_EQ(lines[1].size(), 400u);
}

}  // namespace
