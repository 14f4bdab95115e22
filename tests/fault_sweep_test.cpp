// Every call the installer makes during a whole run is made to fail, one at
// a time, and the run must still lose nothing: the installed data file is
// the old one or the complete new one, no temporary file stays behind, no
// handle is left open, the boxes are the installer's own, and the exit code
// says what happened. The points come from the simulated PC's call log, so
// a new call in the product is swept without anyone listing it.
#include <gtest/gtest.h>

#include <iostream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "driver/program_entry.h"
#include "tests/demo_pc.h"

namespace {

using demo::kDataFile;

const std::string kTemp = demo::kFolder + "~lxn.cok";

struct Scenario {
    const char* name;
    const char* arguments;
    bool appRunning;
    std::vector<int> answers;
};

const Scenario kScenarios[] = {
    {"interactive, application running, Yes and Yes", "", true, {IDYES, IDYES}},
    {"quiet with runapp, application running", "modest runapp", true, {}},
};

void Arrange(const Scenario& s, const std::vector<std::uint8_t>& payload) {
    sim::Reset();
    demo::Setup(sim::pc(), payload);
    sim::pc().commandLine = "LexomirUpdate.exe " + std::string(s.arguments);
    if (s.appRunning) sim::pc().StartMainApp();
    // Answers beyond those the run asks for are harmless; a run that asks
    // more than the scenario expects answers No.
    sim::pc().boxAnswers.assign(s.answers.begin(), s.answers.end());
    for (int i = 0; i < 4; ++i) sim::pc().boxAnswers.push_back(IDNO);
}

// The texts the installer may show, English and Russian, by their start.
const std::vector<std::string> kKnownTexts = {
    "Would you like to setup", "Вы действительно хотите установить", "На Ваш компьютер установлено",
    "Can't install file ", "Не удается установить файл ", "No access to system registry",
    "Нет доступа к системному реестру", "You have no right", "У Вас нет права",
    "Failed to check up the package file!", "Не удаётся проверить файл пакета",
    "The package file has been distorted!", "Файл пакета установки искажён!", "There's no subject of update",
    "Нет предмета обновления",
};

bool Known(const sim::BoxRecord& box) {
    if (box.caption == "Application Error") return true;
    for (const std::string& t : kKnownTexts)
        if (box.text.rfind(t, 0) == 0) return true;
    return false;
}

bool Shows(const std::string& start) {
    for (const sim::BoxRecord& b : sim::pc().boxes)
        if (b.text.rfind(start, 0) == 0 || b.caption == start) return true;
    return false;
}

// What must hold after any run, faulted or not. Returns the problems found.
std::vector<std::string> Check(int exitCode, const std::vector<std::uint8_t>& payload) {
    std::vector<std::string> problems;
    sim::Machine& m = sim::pc();
    const auto data = m.files.Read(kDataFile);
    const bool old = data == demo::Bytes("old data");
    const bool complete = data == payload;
    if (!old && !complete) problems.push_back("the data file is neither the old one nor the new one");
    if (m.files.Exists(kTemp)) problems.push_back("the temporary file was left behind");
    if (!m.handles.empty()) problems.push_back(std::to_string(m.handles.size()) + " handle(s) left open");
    if (!m.regHandles.empty()) problems.push_back("a registry key was left open");
    for (const sim::BoxRecord& b : m.boxes)
        if (!Known(b)) problems.push_back("unknown box: " + b.text);
    switch (exitCode) {
    case 0:
        if (!complete) problems.push_back("exit 0 without the new file");
        break;
    case 1:
        if (!Shows("Application Error")) problems.push_back("exit 1 without the Application Error box");
        break;
    case 2:
        if (!old) problems.push_back("exit 2 but the file was written");
        if (m.boxes.empty()) problems.push_back("exit 2 without a message");
        break;
    case 3:
        if (!old) problems.push_back("exit 3 but the file was written");
        break;
    case 4:
        if (!old) problems.push_back("exit 4 but the file changed");
        if (!Shows("Can't install file ") && !Shows("Не удается установить файл "))
            problems.push_back("exit 4 without the install message");
        break;
    default:
        problems.push_back("undocumented exit code " + std::to_string(exitCode));
    }
    return problems;
}

// The error a failing call gives; writes fail for want of space.
DWORD ErrorFor(const std::string& function) {
    if (function == "WriteFile") return ERROR_DISK_FULL;
    if (function == "ReadFile") return ERROR_READ_FAULT;
    if (function == "CreateFileA") return ERROR_SHARING_VIOLATION;
    if (function.rfind("Reg", 0) == 0) return ERROR_ACCESS_DENIED;
    return ERROR_ACCESS_DENIED;
}

struct Point {
    std::string function;
    int occurrence;
};

std::vector<Point> PointsOf(const std::vector<sim::CallRecord>& calls) {
    std::vector<Point> points;
    std::map<std::string, int> seen;
    for (const sim::CallRecord& c : calls) points.push_back({c.function, ++seen[c.function]});
    return points;
}

// Runs the sweep over `run`; returns one line for each point that failed.
std::vector<std::string> Sweep(const Scenario& s, int (*run)(), int& tried, std::set<std::string>& functions) {
    const std::vector<std::uint8_t> payload = demo::Payload(6000);
    Arrange(s, payload);
    const int baseline = run();
    EXPECT_EQ(Check(baseline, payload), std::vector<std::string>{}) << "the unfaulted run";
    const std::vector<Point> points = PointsOf(sim::pc().calls);
    std::vector<std::string> failures;
    for (const Point& p : points) {
        Arrange(s, payload);
        sim::pc().Inject(p.function, p.occurrence, ErrorFor(p.function));
        const int code = run();
        ++tried;
        functions.insert(p.function);
        const std::vector<std::string> problems = Check(code, payload);
        if (problems.empty()) continue;
        std::string line = std::string(s.name) + ": " + p.function + " #" + std::to_string(p.occurrence) +
                           " failing (exit " + std::to_string(code) + "):";
        for (const std::string& pr : problems) line += "\n  " + pr;
        failures.push_back(line);
    }
    return failures;
}

TEST(FaultSweep, EverySingleFailingCallLosesNothing) {
    int tried = 0;
    std::set<std::string> functions;
    for (const Scenario& s : kScenarios)
        for (const std::string& failure : Sweep(s, RunInstaller, tried, functions)) ADD_FAILURE() << failure;
    std::cout << "[ sweep    ] " << tried << " fault points over " << functions.size() << " functions, "
              << std::size(kScenarios) << " scenarios\n";
    EXPECT_GT(tried, 100);
    for (const char* f : {"CreateFileA", "WriteFile", "FlushFileBuffers", "CloseHandle", "MoveFileExA",
                          "RegOpenKeyExA", "RegQueryValueExA", "RegCreateKeyExA", "RegSetValueExA", "FindResourceA",
                          "CreateProcessWithTokenW", "CreateFileMappingA", "BCryptHashData", "FindFirstFileA"})
        EXPECT_TRUE(functions.count(f)) << f << " was never swept";
}

// The same checks on a writer that truncates the installed file and writes
// into it directly, as an installer must not: the sweep catches it.
int NaiveRun() {
    sim::Machine& m = sim::pc();
    const int code = RunInstaller();
    if (code != 0) return code;
    // Overwrite in place, the way that loses data when the write fails.
    HANDLE f = CreateFileA(kDataFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return 4;
    const auto& payload = m.resources[0].data;
    DWORD written = 0;
    const bool ok = WriteFile(f, payload.data(), DWORD(payload.size()), &written, nullptr);
    CloseHandle(f);
    return ok ? 0 : 4;
}

TEST(FaultSweep, CatchesAnInPlaceOverwrite) {
    int tried = 0;
    std::set<std::string> functions;
    const std::vector<std::string> failures = Sweep({"quiet", "modest", false, {}}, NaiveRun, tried, functions);
    bool partial = false;
    for (const std::string& f : failures) partial |= f.find("neither the old one nor the new one") != std::string::npos;
    EXPECT_TRUE(partial) << "a half-written data file must be reported";
}

}  // namespace
