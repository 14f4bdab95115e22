// Covers: driver/program_entry.cpp and every stage it runs.
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
#include "tests/second_run.h"

namespace {

using DemoPc::DataFile;

const std::string Temp = DemoPc::Folder + "~lxn.cok";
const std::string Guard = DemoPc::Folder + "~LexomirUpdate.lock";

struct Scenario {
    const char* name;
    const char* arguments;
    bool appRunning;
    std::vector<int> answers;
    void (*arrange)(Sim::Machine&) = nullptr;
    bool secondRun = false;  // another run of the installer takes part (SecondExit)
    bool altered = false;    // the installer's own file fails its check
};

// The exit code of the second run of a scenario that has one; -1: it did not run.
int SecondExit = -1;

// Which folder someone else swapped, and where they moved it, when they
// could; and everything outside the application's folder before the run.
const std::string Folder = DemoPc::Folder.substr(0, DemoPc::Folder.size() - 1);
std::string Swapped, Moved;
std::map<std::string, std::string> OutsideBefore;
std::string Real(const std::string& path) { return Moved.empty() ? path : Moved + path.substr(Swapped.size()); }
// (A console command's capture file, new in a temporary folder, may stay
// where its delete failed.)
std::map<std::string, std::string> OutsideNow(bool all = true) {
    std::map<std::string, std::string> seen;
    for (const auto& [path, node] : Sim::pc().files.nodes) {
        const std::string key = Sim::UpperAscii(path) + "\\";
        auto in = [&](const std::string& f) { return !f.empty() && key.rfind(Sim::UpperAscii(f + "\\"), 0) == 0; };
        if (!in(Folder) && !in(Moved) && key != Sim::UpperAscii(Swapped + "\\") &&
            (all || OutsideBefore.count(key) || !Sim::FileSystem::Parent(Sim::UpperAscii(path)).ends_with("\\TEMP")))
            seen[key] = std::string(node.data.begin(), node.data.end()) + char(node.attributes) + node.linkTarget;
    }
    return seen;
}

// A standard user swaps `folder` (the application's, or the one above
// it), as the run makes its call number `at`, for a junction into an
// object directory whose links name system files.
void SwapAt(Sim::Machine& m, std::size_t at, const std::string& folder) {
    m.files.AddFile("C:\\Windows\\System32\\victim.dll", "system file");
    for (const char* name : {"~LexomirUpdate.lock", "lxn.cok", "~lxn.cok"})
        m.files.objectLinks[std::string("\\RPC Control\\") + name] = "C:\\Windows\\System32\\victim.dll";
    m.files.objectLinks["\\RPC Control\\Lexomir"] = "C:\\Windows\\System32";
    OutsideBefore = OutsideNow();
    m.meanwhile = [&m, at, folder, n = std::size_t(0)](const Sim::CallRecord&) mutable {
        if (n++ != at || m.files.RenameAsOther(folder, folder + ".old") != ERROR_SUCCESS) return;
        Swapped = folder, Moved = folder + ".old";
        m.files.AddLink(folder, "\\RPC Control");
    };
}

const std::vector<std::uint8_t> Stale = DemoPc::Bytes("stale, from a failed run");
const std::string StagedEarlier = DemoPc::Folder + "~lxn.cok.0BADF00D";

// A run with these arguments, the application running or not, on a PC
// arranged so; the commonest, quiet with runapp while the application runs.
Scenario On(const char* name, const char* arguments, bool appRunning, void (*arrange)(Sim::Machine&),
            std::vector<int> answers = {}) {
    return {name, arguments, appRunning, answers, arrange};
}
Scenario Runapp(const char* name, void (*arrange)(Sim::Machine&)) { return On(name, "modest runapp", true, arrange); }

const Scenario Scenarios[] = {
    {"interactive, application running, Yes and Yes", "", true, {IDYES, IDYES}},
    {"quiet with runapp, application running", "modest runapp", true, {}},
    {"quiet, application running", "modest", true, {}},
    {"interactive, application not running, Yes and No", "", false, {IDYES, IDNO}},
    {"quiet with runapp, application not running", "modest runapp", false, {}},
    On("quiet, a read-only hidden ~lxn.cok left behind", "modest", false,
       [](Sim::Machine& m) { m.files.AddFile(Temp, Stale, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN); }),
    Runapp("quiet with runapp, a read-only lxn.cok",
           [](Sim::Machine& m) { m.files.Node(DemoPc::DataFile)->attributes |= FILE_ATTRIBUTE_READONLY; }),
    On("interactive, where nobody can see a box (session 0)", "", true,
       [](Sim::Machine& m) { m.windowStationVisible = false; }, {IDYES, IDYES}),
    On("interactive, in session 0 with its station visible", "", true, [](Sim::Machine& m) { m.sessionId = 0; },
       {IDYES, IDYES}),
    Runapp("quiet with runapp, the shell elevated too", [](Sim::Machine& m) { m.shell.elevated = true; }),
    // The second run goes first, as the first is about to take the guard:
    // whatever the second leaves when its calls fail, the first copes.
    {"quiet, another quiet run just before this one takes the guard",
     "modest",
     false,
     {},
     [](Sim::Machine& m) {
         m.meanwhile = [started = false](const Sim::CallRecord& c) mutable {
             if (started || c.function != "OpenPrivateNamespaceW") return;
             started = true;
             SecondExit = SecondRun::Run("LexomirUpdate.exe modest");
         };
     },
     true},
    Runapp("quiet with runapp, another user's shell", [](Sim::Machine& m) { m.shell.otherUser = true; }),
    Runapp("quiet with runapp, no shell", [](Sim::Machine& m) { m.shell.running = false; }),
    Runapp("quiet with runapp, the shell hung, no secondary logon",
           [](Sim::Machine& m) { m.shell.hung = true, m.secondaryLogonRunning = false; }),
    Runapp("quiet with runapp, the application hung (not holding lxn.cok)",
           [](Sim::Machine& m) {
               m.app.hung = true;
               for (int token : m.app.heldTokens) m.files.Release(token);
               m.app.heldTokens.clear(), m.app.holdsFiles.clear();
           }),
    On("quiet with runapp, the secondary logon service disabled", "modest runapp", false,
       [](Sim::Machine& m) { m.secondaryLogonRunning = false; }),
    On("quiet, no private namespaces (XP, Wine)", "modest", true,
       [](Sim::Machine& m) { m.privateNamespacesExported = false; }),
    On("quiet, a file an earlier run staged for the restart", "modest", false,
       [](Sim::Machine& m) {
           m.files.AddFile(StagedEarlier, "staged by an earlier run");
           m.files.pendingRenames.push_back({StagedEarlier, DataFile, true});
       }),
    {"quiet with runapp, the installer's file altered",
     "modest runapp",
     true,
     {},
     [](Sim::Machine& m) { m.files.Node(m.moduleFileName)->data.back() ^= 0x20; },
     false,
     true},
    Runapp("quiet with runapp, a user holds lxn.cok",
           [](Sim::Machine& m) { m.files.HoldOpen(DataFile, GENERIC_READ, FILE_SHARE_READ); }),
};

void Arrange(const Scenario& s, const std::vector<std::uint8_t>& payload) {
    Sim::Reset();
    DemoPc::Setup(Sim::pc(), payload);
    Sim::pc().commandLine = "LexomirUpdate.exe " + std::string(s.arguments);
    if (s.appRunning) Sim::pc().StartMainApp();
    SecondExit = -1;
    if (s.arrange) s.arrange(Sim::pc());
    // Answers beyond those the run asks for are harmless; a run that asks
    // more than the scenario expects answers No.
    Sim::pc().boxAnswers.assign(s.answers.begin(), s.answers.end());
    for (int i = 0; i < 4; ++i) Sim::pc().boxAnswers.push_back(IDNO);
    Swapped = Moved = "";
    OutsideBefore = OutsideNow();
}

// The texts the installer may show, English and Russian, by their start.
// The message each exit code comes with, English and Russian (3: none).
const std::map<int, std::pair<std::string, std::string>> Because{
    {2, {"There's no subject of update", "Нет предмета обновления"}},
    {3, {"", ""}},
    {4, {"Can't install file ", "Не удается установить файл "}},
    {5, {"You have no right", "У Вас нет права"}},
    {6, {"No access to system registry", "Нет доступа к системному реестру"}},
    {7, {"The package file has been distorted", "Файл пакета установки искажён"}},
    {8, {"Failed to check up the package file", "Не удаётся проверить файл пакета установки"}},
    {1618, {"Can't install file ", "Не удается установить файл "}},
    {3010, {"File ", "Файл "}}};

// The installer's own boxes: the questions, and the messages of the exit codes.
bool Known(const Sim::BoxRecord& box) {
    auto starts = [&](const std::string& t) { return !t.empty() && box.text.rfind(t, 0) == 0; };
    if (box.caption == "Application Error") return true;
    for (const char* t :
         {"Would you like to setup", "Вы действительно хотите установить", "На Ваш компьютер установлено"})
        if (starts(t)) return true;
    for (const auto& [code, texts] : Because)
        if (starts(texts.first) || starts(texts.second)) return true;
    return false;
}

// A message the user saw, or, where nobody could, that the support log
// records as not shown.
bool Shows(const std::string& start) {
    for (const Sim::BoxRecord& b : Sim::pc().boxes)
        if (b.text.rfind(start, 0) == 0 || b.caption == start) return true;
    for (const Sim::Machine::EventRecord& r : Sim::pc().eventLog)
        for (const std::wstring& line : r.strings) {
            const std::string narrow = Sim::Narrow(line, 1251);
            if (narrow.find("\": " + start) != std::string::npos ||
                narrow.find("\"" + start + "\"") != std::string::npos)
                return true;
        }
    return false;
}

// One of these calls (by function, or by what it acted on) was made to fail in this run.
bool Faulted(std::initializer_list<std::string> which) {
    for (const Sim::CallRecord& c : Sim::pc().calls)
        for (const std::string& f : which)
            if (c.faulted && (c.function == f || c.detail == f)) return true;
    return false;
}

// What must hold after any run, faulted or not. Returns the problems found.
std::vector<std::string> Check(const Scenario& s, int exitCode, const std::vector<std::uint8_t>& payload) {
    std::vector<std::string> problems;
    Sim::Machine& m = Sim::pc();
    const std::string DataFile = Real(DemoPc::DataFile), Temp = Real(::Temp), Guard = Real(::Guard);
    const auto data = m.files.Read(DataFile);
    std::map<std::string, std::string> before = OutsideBefore;
    before.erase(Sim::UpperAscii(Swapped + "\\"));  // a junction now, someone else's
    if (OutsideNow(false) != before)
        problems.push_back("something outside the application's folder was created, changed or deleted");
    const bool old = data == DemoPc::Bytes("old data");
    const bool complete = data == payload;
    if (!old && !complete) problems.push_back("the data file is neither the old one nor the new one");
    // A file left by an earlier run may stay as it was when it could not
    // be cleared; this run leaves nothing of its own, unless the system
    // refused to show it or delete it (the next run clears it).
    if (m.files.Exists(Temp) && m.files.Read(Temp) != Stale &&
        !Faulted({m.FullPath(Temp), "delete " + m.FullPath(Temp)}))
        problems.push_back("the temporary file was left behind");
    if (m.files.Exists(Guard)) problems.push_back("the guard was left behind");
    if (m.openToStandardUsers) problems.push_back("a standard user could open the guard, or take it first");
    if (m.now > 75000) problems.push_back("the run waited " + std::to_string(m.now) + " ms in all");
    if (old && m.files.Node(DataFile)->attributes != Sim::FileNode{}.attributes &&
        !(m.files.Node(DataFile)->attributes & FILE_ATTRIBUTE_READONLY))
        problems.push_back("the old read-only data file lost its attribute");
    // "runapp": the caller gets its application back whenever the run
    // got as far as writing, whether or not the file could be written;
    // unless no route to the desktop user's unelevated token was left: the
    // last one, the shell's automation objects, found no shell, failed or
    // did not answer in time.
    const bool runapp = std::string(s.arguments) == "modest runapp";
    const bool startAttempted = m.CallCount("CreateProcessWithTokenW") || m.CallCount("ShellExecuteA") ||
                                m.CallCount("IShellDispatch2::ShellExecute");
    bool lastRouteFailed = false, throughShell = false, placed = false;
    const bool quiet = std::string(s.arguments).rfind("modest", 0) == 0;
    for (const Sim::CallRecord& c : m.calls) {
        throughShell |= c.function == "CreateThread";  // the thread that calls the shell
        lastRouteFailed |= throughShell && (c.faulted || !m.shell.running || m.shell.hung);
        placed |= c.function == "SetFileInformationByHandle" && c.detail.rfind("rename ", 0) == 0;
    }
    // (A run that could not take the guard changes nothing, the
    // application included: it never reaches the resource.)
    bool quitRequested = false, closed = false, fronted = false;
    for (const std::string& e : m.app.history) {
        quitRequested |= e == "quit requested";
        closed |= quitRequested && e == "ended";
        fronted |= e == "brought to front";
        if (e == "second instance") problems.push_back("a second instance of the running application was started");
    }
    // A running application, whoever's, is asked to quit before the new
    // data is put in place; and never by a run whose own file failed its check.
    if (s.appRunning && placed && m.CallCount("PostMessageA") == 0 && !Faulted({"FindWindowA", "OpenFileMappingA"}))
        problems.push_back("the running application was not asked to quit before the new data was put in place");
    if ((s.altered || exitCode == 7 || exitCode == 8) && !s.secondRun && (placed || quitRequested))
        problems.push_back("a run whose own file failed its check put data in place or asked the application to quit");
    const bool wrote = (exitCode == 0 || exitCode == 4 || exitCode == 3010) && m.CallCount("FindResourceA") > 0;
    if (runapp && wrote && !m.app.running && !startAttempted && !lastRouteFailed)
        problems.push_back("runapp, and the application was not started again");
    if (runapp && wrote && s.appRunning && !closed && !fronted && !Faulted({"FindWindowA", "SetForegroundWindow"}))
        problems.push_back("runapp, and the application that did not quit was not brought to the front");
    // Nothing runs elevated that the user at the desktop does not run so.
    for (const Sim::ShellExecuteRecord& l : m.launches)
        if (l.elevated && !m.shell.elevated) problems.push_back("the application was started elevated: " + l.function);
    // The application is asked to quit only by a run about to write, and
    // what a run closed it starts again, however it ends.
    if (quitRequested && exitCode != 0 && exitCode != 1 && exitCode != 4 && exitCode != 3010)
        problems.push_back("the application was closed by a run that wrote nothing");
    if (closed && !m.app.running && !startAttempted && !lastRouteFailed)
        problems.push_back("the application was closed by this run and not started again");
    if (!runapp && startAttempted && exitCode != 0 && !closed)
        problems.push_back("the application was started after a failure");
    // What a run starts is started once, and runs; after a failed write
    // nobody is asked whether to start it.
    const std::size_t runs = SecondExit == -1 ? 1 : 2;
    if (m.launches.size() > runs) problems.push_back(std::to_string(m.launches.size()) + " starts of the application");
    if (!m.launches.empty() && !m.app.running) problems.push_back("the application was started and is not running");
    if (exitCode == 4 && Shows("На Ваш компьютер установлено"))
        problems.push_back("asked whether to start the application after a failed write");
    // Nobody sees a box in session 0, nor where the window station is
    // invisible. (Where neither can be asked about, a box is shown.)
    if ((!m.windowStationVisible || m.sessionId == 0) && !m.boxes.empty() &&
        !Faulted({"GetProcessWindowStation", "GetUserObjectInformationW", "ProcessIdToSessionId"}))
        problems.push_back("a box was shown where nobody can answer it");
    // Each run leaves one record in the event log, ending with its exit
    // code, unless the log itself failed.
    const bool logFailed = Faulted({"RegisterEventSourceW", "ReportEventW"});
    if (!logFailed && m.eventLog.size() != runs)
        problems.push_back(std::to_string(m.eventLog.size()) + " event log records for " + std::to_string(runs) +
                           " run(s)");
    // Each opens with its own run's first lines, whatever ran between, and
    // names the user that ran the installer, unless a token could not be asked.
    for (const Sim::Machine::EventRecord& r : m.eventLog) {
        if (r.strings.size() < 2 || !r.strings[0].starts_with(L"Lexomir update, package version ") ||
            !r.strings[1].starts_with(L"command line:"))
            problems.push_back("an event log record without its first lines");
        if (r.user != m.userSid && !Faulted({"OpenProcessToken", "GetTokenInformation"}))
            problems.push_back("an event log record without the installer's user");
    }
    if (!m.eventLog.empty()) {
        const Sim::Machine::EventRecord& record = m.eventLog.back();
        if (!logFailed && (record.id != DWORD(1000 + exitCode) || record.strings.empty() ||
                           record.strings.back() != L"exit code " + std::to_wstring(exitCode)))
            problems.push_back("the event log record does not end with this run's exit code");
        std::size_t longest = 0;
        for (const std::wstring& line : record.strings) longest = std::max(longest, line.size());
        if (record.source != L"LexomirUpdate" || record.strings.size() > 48 || longest > 400)
            problems.push_back("the event log record is not the installer's, or too long");
    }
    if (!m.handles.empty()) problems.push_back(std::to_string(m.handles.size()) + " handle(s) left open");
    // (The thread left waiting for a hung shell holds its apartment until
    // the process ends.)
    if ((!m.comObjects.empty() || !m.strings.empty() || m.comInitialized) && !m.shell.hung)
        problems.push_back("a COM object, string or apartment was left behind");
    // (A SID or descriptor whose release failed stays allocated, as on Windows.)
    if (!m.regHandles.empty() || !m.rmSessions.empty() || m.rmLoads || m.screenDcs || !m.fonts.empty() ||
        ((!m.sids.empty() || !m.adminOnlyDescriptors.empty()) && !Faulted({"FreeSid", "LocalFree"})))
        problems.push_back("a key, Restart Manager session or DLL, SID, descriptor, screen DC or font was left");
    for (const Sim::BoxRecord& b : m.boxes)
        if (!Known(b)) problems.push_back("unknown box: " + b.text);
    // A run that wrote nothing finds the old file, or the other run's; each
    // code of such a run has its one message, English or Russian.
    auto checkExit = [&](int code, const std::string& run, bool otherInstalled) {
        const auto because = Because.find(code);
        if (code == 0 && !complete) problems.push_back(run + "exit 0 without the new file");
        if (code == 1 && !Shows("Application Error")) problems.push_back(run + "exit 1 without its box");
        if (code == 0 || code == 1) return;  // (an unexpected error can end a run after its write)
        if (because == Because.end()) return problems.push_back(run + "undocumented exit code " + std::to_string(code));
        if (!old && !((otherInstalled || code == 3010) && complete))
            problems.push_back(run + "exit " + std::to_string(code) + " but the file changed");
        if (code != 3 && !(code == 3010 && quiet) && !Shows(because->second.first) && !Shows(because->second.second))
            problems.push_back(run + "exit " + std::to_string(code) + " without its message");
    };
    auto wroteAll = [](int code) { return code == 0 || code == 1 || code == 3010; };
    checkExit(exitCode, "", wroteAll(SecondExit));
    if (SecondExit != -1) checkExit(SecondExit, "the second run: ", wroteAll(exitCode));
    // After a restart, lxn.cok is the newest data a run installed, whole:
    // a staged file that an older one could replace never is.
    const bool installed = exitCode == 0 || exitCode == 3010 || SecondExit == 0 || SecondExit == 3010;
    const auto staged = m.files.Read(StagedEarlier);
    m.files.Restart();
    const auto restarted = m.files.Read(DataFile);
    if (installed ? restarted != payload
                  : restarted != payload && restarted != data && !(staged && restarted == staged))
        problems.push_back("after a restart, lxn.cok is not the newest data a run installed");
    return problems;
}

// The errors a failing call gives, each in turn: the ways it fails.
std::vector<DWORD> ErrorsFor(const std::string& function) {
    if (function == "WriteFile") return {ERROR_DISK_FULL, ERROR_WRITE_FAULT};
    if (function == "ReadFile") return {ERROR_READ_FAULT};
    if (function == "CreateFileA" || function == "CreateFileW")
        return {ERROR_SHARING_VIOLATION, ERROR_ACCESS_DENIED, ERROR_FILE_EXISTS, ERROR_PATH_NOT_FOUND};
    if (function == "MoveFileExA" || function == "DeleteFileA" || function == "RemoveDirectoryA" ||
        function == "SetFileInformationByHandle")
        return {ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION, ERROR_NOT_ENOUGH_MEMORY};
    if (function == "GetFileAttributesA") return {ERROR_ACCESS_DENIED, ERROR_FILE_NOT_FOUND};
    // Access denied needs a marker that exists: another user's, a scenario of its own.
    if (function == "OpenFileMappingA") return {ERROR_NOT_ENOUGH_MEMORY};
    if (function == "CreatePrivateNamespaceW") return {ERROR_ACCESS_DENIED, ERROR_ALREADY_EXISTS};
    // The event log service stopped, or the source not allowed.
    if (function == "RegisterEventSourceW") return {RPC_S_SERVER_UNAVAILABLE, ERROR_ACCESS_DENIED};
    if (function.rfind("Reg", 0) == 0) return {ERROR_ACCESS_DENIED, ERROR_FILE_NOT_FOUND};
    return {ERROR_ACCESS_DENIED};
}

// The calls that clean up after a failure, or take another way: made to
// fail as well, while the first failure is being handled.
bool CleansUp(const std::string& function) {
    for (const char* f :
         {"DeleteFileA", "RemoveDirectoryA", "SetFileAttributesA", "SetFileInformationByHandle", "CloseHandle",
          "RegCloseKey", "FindClose", "GetFileAttributesA", "ReleaseMutex", "ClosePrivateNamespace", "ShellExecuteA",
          "CoCreateInstance", "IShellDispatch2::ShellExecute"})
        if (function == f) return true;
    return false;
}

struct Point {
    std::string function;
    int occurrence;
};

std::vector<Point> PointsOf(const std::vector<Sim::CallRecord>& calls) {
    std::vector<Point> points;
    std::map<std::string, int> seen;
    for (const Sim::CallRecord& c : calls) points.push_back({c.function, ++seen[c.function]});
    return points;
}

struct Tally {
    int single = 0, second = 0;
    std::set<std::string> functions;
};

std::string Describe(const Scenario& s, const std::string& faults, int code, const std::vector<std::string>& problems) {
    std::string line = std::string(s.name) + ": " + faults + " failing (exit " + std::to_string(code) + "):";
    for (const std::string& pr : problems) line += "\n  " + pr;
    return line;
}

// Runs the sweep over `run`; returns one line for each point that failed.
// Every logged call fails in turn with each of its errors; then, for the
// first error, every cleanup call made after it fails too.
std::vector<std::string> Sweep(const Scenario& s, int (*run)(), Tally& tally, bool secondFaults = true) {
    const std::vector<std::uint8_t> payload = DemoPc::Payload(6000);
    Arrange(s, payload);
    const int baseline = Sim::RunToEnd(run);
    EXPECT_EQ(Check(s, baseline, payload), std::vector<std::string>{}) << s.name << ": the unfaulted run";
    const auto baselineData = Sim::pc().files.Read(DataFile);
    const std::vector<Sim::CallRecord> unfaulted = Sim::pc().calls;
    const std::vector<Point> points = PointsOf(unfaulted);
    std::vector<std::string> failures;
    for (const Point& p : points) {
        const std::vector<DWORD> errors = ErrorsFor(p.function);
        for (std::size_t e = 0; e < errors.size(); ++e) {
            Arrange(s, payload);
            Sim::pc().Inject(p.function, p.occurrence, errors[e]);
            const int code = Sim::RunToEnd(run);
            ++tally.single;
            tally.functions.insert(p.function);
            const std::string first =
                p.function + " #" + std::to_string(p.occurrence) + " (" + std::to_string(errors[e]) + ")";
            std::vector<std::string> problems = Check(s, code, payload);
            // The support log is for afterwards: where it cannot be written,
            // the run ends as it would have.
            const bool logCall = p.function == "RegisterEventSourceW" || p.function == "ReportEventW" ||
                                 p.function == "DeregisterEventSource";
            if (logCall && (code != baseline || Sim::pc().files.Read(DataFile) != baselineData))
                problems.push_back("a failing support log changed how the run ended");
            if (!problems.empty()) failures.push_back(Describe(s, first, code, problems));
            if (e != 0 || !secondFaults) continue;
            // The handling of this failure: from where the run leaves the
            // unfaulted one's path on. (Where it never does, the failure
            // was absorbed, and the single faults have covered the rest.)
            const std::vector<Sim::CallRecord> calls = Sim::pc().calls;
            std::size_t apart = 0;
            while (apart < calls.size() && !calls[apart].faulted) ++apart;
            ++apart;
            while (apart < calls.size() && apart < unfaulted.size() &&
                   calls[apart].function == unfaulted[apart].function && calls[apart].detail == unfaulted[apart].detail)
                ++apart;
            std::map<std::string, int> seen;
            for (std::size_t j = 0; j < calls.size(); ++j) {
                const int occurrence = ++seen[calls[j].function];
                if (j < apart || !CleansUp(calls[j].function)) continue;
                Arrange(s, payload);
                Sim::pc().Inject(p.function, p.occurrence, errors[e]);
                Sim::pc().Inject(calls[j].function, occurrence, ErrorsFor(calls[j].function)[0]);
                const int second = Sim::RunToEnd(run);
                ++tally.second;
                problems = Check(s, second, payload);
                if (!problems.empty())
                    failures.push_back(
                        Describe(s, first + ", then " + calls[j].function + " #" + std::to_string(occurrence), second,
                                 problems));
            }
        }
    }
    return failures;
}

TEST(FaultSweep, EveryFailingCallAndItsCleanupLoseNothing) {
    Tally tally;
    for (const Scenario& s : Scenarios)
        for (const std::string& failure : Sweep(s, RunInstaller, tally)) ADD_FAILURE() << failure;
    std::cout << "[ sweep    ] " << tally.single << " fault points and " << tally.second
              << " second faults in cleanup, over " << tally.functions.size() << " functions, " << std::size(Scenarios)
              << " scenarios\n";
    EXPECT_GT(tally.single, 100);
    EXPECT_GT(tally.second, 100);
    for (const char* f :
         {"CreateFileA", "WriteFile", "FlushFileBuffers", "CloseHandle", "SetFileInformationByHandle", "CreateFileW",
          "RegOpenKeyExA", "RegQueryValueExA", "RegCreateKeyExA", "RegSetValueExA", "FindResourceA",
          "CreateProcessWithTokenW", "ShellExecuteA", "SetFileAttributesA", "OpenFileMappingA", "BCryptHashData",
          "FindFirstFileA", "CoCreateInstance", "IShellDispatch2::ShellExecute",
          // (The support log's own invariant holds only where its calls are swept.)
          "RegisterEventSourceW", "ReportEventW"})
        EXPECT_TRUE(tally.functions.count(f)) << f << " was never swept";
}

// Someone swaps the folder at each point of a run in turn: nothing outside
// it is ever touched, and the run still ends as it should.
TEST(FaultSweep, AFolderSwappedAtAnyPointLeavesEverythingOutsideAlone) {
    const Scenario s{"quiet, the folder swapped for a junction", "modest", false, {}};
    const std::vector<std::uint8_t> payload = DemoPc::Payload(6000);
    Arrange(s, payload);
    const std::size_t points = (Sim::RunToEnd(RunInstaller), Sim::pc().calls.size());
    int swapped = 0;
    for (const std::string& folder : {Folder, Sim::FileSystem::Parent(Folder)})
        for (std::size_t at = 0; at < points; ++at) {
            Arrange(s, payload);
            SwapAt(Sim::pc(), at, folder);
            const int code = Sim::RunToEnd(RunInstaller);
            swapped += !Moved.empty();
            for (const std::string& p : Check(s, code, payload))
                ADD_FAILURE() << folder << " swapped at call " << at << ": " << p;
        }
    std::cout << "[ swap     ] " << points << " points for each of 2 folders, swapped at " << swapped << "\n";
    EXPECT_GT(swapped, 0);
}

// The same checks on a writer that truncates the installed file and writes
// into it directly, as an installer must not: the sweep catches it.
int NaiveRun() {
    Sim::Machine& m = Sim::pc();
    const int code = RunInstaller();
    if (code != 0) return code;
    // Overwrite in place, the way that loses data when the write fails.
    HANDLE f = CreateFileA(DataFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return 4;
    const auto& payload = m.resources[0].data;
    DWORD written = 0;
    const bool ok = WriteFile(f, payload.data(), DWORD(payload.size()), &written, nullptr);
    CloseHandle(f);
    return ok ? 0 : 4;
}

TEST(FaultSweep, CatchesAnInPlaceOverwrite) {
    Tally tally;
    const std::vector<std::string> failures = Sweep({"quiet", "modest", false, {}}, NaiveRun, tally, false);
    bool partial = false;
    for (const std::string& f : failures) partial |= f.find("neither the old one nor the new one") != std::string::npos;
    EXPECT_TRUE(partial) << "a half-written data file must be reported";
}

}  // namespace
