// Covers: install/file_holders.cpp.
// The programs holding the data file open, named through the Restart Manager, or why they cannot be.
#include "install/file_holders.h"

#include <gtest/gtest.h>

#include "tests/demo_pc.h"

namespace {

using M = Sim::Machine;
void Hold(M& m, int n, const char* program, DWORD id, DWORD session, const std::string& path = DemoPc::DataFile) {
    for (int i = 0; i < n; ++i) {
        Sim::ExternalOpen& open = m.files.external[m.files.HoldOpen(path, GENERIC_READ, FILE_SHARE_READ)];
        open = {open.path, open.access, open.share, program + (n > 1 ? std::to_string(i + 1) : ""), id + i, session};
    }
}
void Backup(M& m) { Hold(m, 1, "Backup Agent", 4242, 0); }
std::string Ps() {  // P1 ... P8 of Hold(m, 9, "P", 11, 1), and the 11 more
    std::string text;
    for (int i = 1; i <= 8; ++i)
        text += "P" + std::to_string(i) + " (process " + std::to_string(10 + i) + ", session 1), ";
    return text + "and 11 more";
}

TEST(FileHoldersTest, NamesTheHoldersOrWhyNotAndLeavesNoSessionOrLibrary) {
    const std::string Agent = "Backup Agent (process 4242, session 0)";
    // clang-format off
    std::vector<std::tuple<std::string, std::function<void(M&)>, std::string>> cases = {
        {"nobody", [](M& m) { Hold(m, 1, "Shell", 9, 1, DemoPc::Folder + "Lexomir.exe"); },
         "nobody the Restart Manager knows of"},
        {"one, and its session's end fails", [](M& m) { m.Inject("RmEndSession", 1, 5), Backup(m); }, Agent},
        {"sessions", [](M& m) { Backup(m), Backup(m), Hold(m, 1, "Lexomir", 77, 2), Hold(m, 1, "Indexer", 0, -1); },
         Agent + ", Lexomir (process 77, session 2), Indexer (process 8208, session unknown)"},
        {"more again", [](M& m) {
             Hold(m, 9, "P", 11, 1);  // and 10 more come between the first answer and the next
             m.meanwhile = [&m](auto& c) { if (c.function == "RmGetList" && m.CallCount("RmGetList") == 1)
                 Hold(m, 10, "Q", 50, 3); };
         }, Ps()},
        {"absent", [](M& m) { m.missingLibraries.insert("rstrtmgr.dll"), m.systemSearchFlagSupported = false; },
         "unknown: the Restart Manager is missing"},
        {"load refused", [](M& m) { m.Inject("LoadLibraryExA", 1, 5); },
         "unknown: rstrtmgr.dll could not be loaded, error 5"},
        {"call not found", [](M& m) { m.Inject("GetProcAddress", 1, 5, "RmGetList"); },
         "unknown: its calls could not be found, error 5"},
        {"asked again", [](M& m) { m.Inject("RmGetList", 2, 5), Hold(m, 9, "P", 11, 1); },
         "unknown: RmGetList failed, error 5"}};
    // clang-format on
    for (std::string call : {"RmStartSession", "RmRegisterResources"})
        cases.push_back(
            {call, [=](M& m) { m.Inject(call, 1, 5), Backup(m); }, "unknown: " + call + " failed, error 5"});
    for (const auto& [name, arrange, text] : cases) {
        Sim::Reset();
        DemoPc::Setup(Sim::pc(), DemoPc::Payload(10));
        arrange(Sim::pc());
        EXPECT_EQ(DescribeFileHolders(DemoPc::DataFile), text) << name;
        int started = 0;  // RmEndSession follows each session started, and the library goes
        for (const Sim::CallRecord& r : Sim::pc().calls) started += r.function == "RmStartSession" && !r.faulted;
        EXPECT_EQ(Sim::pc().CallCount("RmEndSession"), started) << name;
        EXPECT_TRUE(Sim::pc().rmSessions.empty() && Sim::pc().rmLoads == 0) << name;
    }
}

}  // namespace
