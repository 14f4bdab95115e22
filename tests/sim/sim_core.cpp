// Covers: platform/win32.h, host half. The simulated PC's core: machine state, call log, faults, virtual time,
// and the process-level calls (command line, locale, errors, time).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tests/sim/machine.h"

namespace Sim {

namespace {
thread_local DWORD lastError = 0;
std::unique_ptr<Machine> machine;

void DefaultUnmodelled(const std::string& what) {
    std::fprintf(stderr, "simulated PC: not modelled: %s\n", what.c_str());
    std::abort();
}
UnmodelledHandler unmodelledHandler = DefaultUnmodelled;
}  // namespace

bool NameLess::operator()(const std::string& a, const std::string& b) const {
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 32);
        if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 32);
        if (x != y) return x < y;
    }
    return a.size() < b.size();
}

std::string UpperAscii(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return text;
}

void SetUnmodelledHandler(UnmodelledHandler handler) { unmodelledHandler = handler ? handler : DefaultUnmodelled; }
void Unmodelled(const std::string& what) { unmodelledHandler(what); }

Machine::Machine() {
    version.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXA);
    version.dwMajorVersion = 6;
    version.dwMinorVersion = 2;
    version.dwBuildNumber = 9200;
    version.dwPlatformId = VER_PLATFORM_WIN32_NT;
    version.wProductType = 1;
    environment["Temp"] = "C:\\Users\\User\\AppData\\Local\\Temp";
    environment["ComSpec"] = "C:\\Windows\\system32\\cmd.exe";
    files.AddFolder("C:\\Windows\\system32");
    files.AddFolder("C:\\Windows\\Temp");
    files.AddFolder("C:\\Users\\User\\Downloads");
    files.AddFolder("C:\\Users\\User\\AppData\\Local\\Temp");
}

// The Program Files family as the system sets it for this 32-bit process:
// on 64-bit Windows the plain names are the "(x86)" folders, and the
// 64-bit ones have names of their own from Windows 7 on.
std::optional<std::string> Machine::Variable(const std::string& name) const {
    if (auto it = environment.find(name); it != environment.end()) return it->second;
    const std::string native = "C:\\Program Files", x86 = "C:\\Program Files (x86)", common = "\\Common Files";
    std::map<std::string, std::string, NameLess> system{{"ProgramFiles", native},
                                                        {"CommonProgramFiles", native + common}};
    if (wow64) {
        system = {{"ProgramFiles", x86},
                  {"ProgramFiles(x86)", x86},
                  {"CommonProgramFiles", x86 + common},
                  {"CommonProgramFiles(x86)", x86 + common}};
        if (version.dwMajorVersion > 6 || (version.dwMajorVersion == 6 && version.dwMinorVersion >= 1)) {
            system["ProgramW6432"] = native;
            system["CommonProgramW6432"] = native + common;
        }
    }
    if (auto it = system.find(name); it != system.end()) return it->second;
    return std::nullopt;
}

Machine& pc() {
    if (!machine) machine = std::make_unique<Machine>();
    return *machine;
}

void Reset() {
    if (machine) machine->EndThreads();  // their last calls still reach their own machine
    machine = std::make_unique<Machine>();
    lastError = 0;
}

std::string ExpandVariables(const std::string& text) {
    std::string out;
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t open = text.find('%', i);
        const std::size_t close = open == std::string::npos ? open : text.find('%', open + 1);
        if (close == std::string::npos) {
            out += text.substr(i);
            break;
        }
        out += text.substr(i, open - i);
        const std::optional<std::string> value = pc().Variable(text.substr(open + 1, close - open - 1));
        if (close > open + 1 && value) {
            out += *value;
            i = close + 1;
        } else {
            out += '%';  // the second % may open a name that is set
            i = open + 1;
        }
    }
    return out;
}

void Machine::AddResource(const std::string& type, const std::string& name, WORD language,
                          std::vector<std::uint8_t> data) {
    resources.push_back({UpperAscii(type), UpperAscii(name), language, std::move(data)});
}

std::optional<DWORD> Machine::Enter(const std::string& function, const std::string& detail) {
    RunDue();
    NoteDelayLoad(function);
    // What someone else does comes first, in the log too: another run of
    // the installer may make calls of its own meanwhile.
    if (meanwhile) meanwhile(CallRecord{function, detail, false});
    calls.push_back({function, detail, false});
    for (Fault& f : faults) {
        if (f.function != function) continue;
        if (!f.detail.empty() && detail.find(f.detail) == std::string::npos) continue;
        ++f.seen;
        if (f.occurrence == 0 || f.seen == f.occurrence) {
            calls.back().faulted = true;
            return f.error;
        }
    }
    return std::nullopt;
}

int Machine::CallCount(const std::string& function) const {
    return int(std::count_if(calls.begin(), calls.end(), [&](const CallRecord& c) { return c.function == function; }));
}

BOOL Machine::Release(const std::string& function, HANDLE handle, Handle::Kind kind) {
    const std::optional<DWORD> fault = Enter(function, "");
    if (!FindHandle(handle, kind)) return Fail(ERROR_INVALID_HANDLE, FALSE);
    handles.erase(reinterpret_cast<std::uintptr_t>(handle));
    return fault ? Fail(*fault, FALSE) : TRUE;
}

HANDLE Machine::NewHandle(Handle handle) {
    const std::uintptr_t value = std::exchange(nextHandle, nextHandle + 4);
    handles.emplace(value, std::move(handle));
    return reinterpret_cast<HANDLE>(value);
}

Machine::Handle* Machine::FindHandle(HANDLE handle, Handle::Kind kind) {
    auto it = handles.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == handles.end() || it->second.kind != kind) return nullptr;
    return &it->second;
}

DWORD CopyText(const std::string& text, LPSTR buffer, DWORD size) {
    if (!buffer || size <= text.size()) return DWORD(text.size() + 1);
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return DWORD(text.size());
}

void Machine::At(DWORD time, std::function<void()> action) { timeline.emplace(time, std::move(action)); }

void Machine::RunDue() {
    while (!timeline.empty() && timeline.begin()->first <= now) {
        auto action = std::move(timeline.begin()->second);
        timeline.erase(timeline.begin());
        action();
    }
}

}  // namespace Sim

using Sim::pc;

LPSTR WINAPI GetCommandLineA() {
    pc().Enter("GetCommandLineA", "");
    return pc().commandLine.data();
}

DWORD WINAPI GetLastError() { return Sim::lastError; }
void WINAPI SetLastError(DWORD error) { Sim::lastError = error; }

LCID WINAPI GetUserDefaultLCID() {
    pc().Enter("GetUserDefaultLCID", "");
    return pc().userLocale;
}

BOOL WINAPI QueryPerformanceCounter(LARGE_INTEGER* count) {
    if (auto e = pc().Enter("QueryPerformanceCounter", "")) return Sim::Fail(*e, FALSE);
    if (!count) return Sim::Fail(ERROR_INVALID_PARAMETER, FALSE);
    if (!pc().performanceCounterWorks) return Sim::Fail(ERROR_CALL_NOT_IMPLEMENTED, FALSE);
    count->QuadPart = pc().performanceCount + LONGLONG(pc().now) * 10000;
    return TRUE;
}

DWORD WINAPI GetTickCount() {
    pc().Enter("GetTickCount", "");
    return pc().tickBase + pc().now;
}

// Rounds half away from zero; -1 for a zero divisor or a result beyond 32 bits.
int WINAPI MulDiv(int number, int numerator, int denominator) {
    pc().Enter("MulDiv", "");
    if (denominator == 0) return -1;
    const long long product = static_cast<long long>(number) * numerator * (denominator < 0 ? -1 : 1);
    const long long divisor = denominator < 0 ? -static_cast<long long>(denominator) : denominator;
    const long long result = (product + (product < 0 ? -1 : 1) * (divisor / 2)) / divisor;
    return result > 2147483647LL || result < -2147483647LL ? -1 : static_cast<int>(result);
}

void WINAPI Sleep(DWORD milliseconds) {
    Sim::Machine& m = pc();
    m.Enter("Sleep", std::to_string(milliseconds));
    if (milliseconds == INFINITE) return Sim::Unmodelled("Sleep(INFINITE) would never return");
    m.sleeps.push_back(milliseconds);
    const DWORD end = m.now + milliseconds;
    // Step through what falls due inside the pause, in time order.
    while (!m.timeline.empty() && m.timeline.begin()->first <= end) {
        if (m.timeline.begin()->first > m.now) m.now = m.timeline.begin()->first;
        m.RunDue();
    }
    m.now = end;
}

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info) {
    if (auto e = pc().Enter("GetVersionExA", "")) return Sim::Fail(*e, FALSE);
    if (!info) return Sim::Fail(ERROR_INVALID_PARAMETER, FALSE);
    const DWORD size = info->dwOSVersionInfoSize;
    if (size != sizeof(OSVERSIONINFOA) && size != sizeof(OSVERSIONINFOEXA))
        return Sim::Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
    std::memcpy(info, &pc().version, size);
    info->dwOSVersionInfoSize = size;
    return TRUE;
}

DWORD WINAPI GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size) {
    pc().Enter("GetEnvironmentVariableA", name ? name : "");
    const std::optional<std::string> variable = pc().Variable(name ? name : "");
    if (!variable) return Sim::Fail(203, 0);  // ERROR_ENVVAR_NOT_FOUND
    return Sim::CopyText(*variable, buffer, size);
}

UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size) {
    pc().Enter("GetSystemDirectoryA", "");
    return Sim::CopyText(Sim::ToAnsi(pc().systemFolder), buffer, size);
}

UINT WINAPI GetWindowsDirectoryA(LPSTR buffer, UINT size) {
    if (auto e = pc().Enter("GetWindowsDirectoryA", "")) return Sim::Fail(*e, UINT(0));
    return Sim::CopyText(Sim::ToAnsi(pc().windowsFolder), buffer, size);
}

// %NAME% becomes the variable's value; a name that is not set, and a
// lone %, stay as written. The size counts the NUL, in both outcomes.
DWORD WINAPI ExpandEnvironmentStringsA(LPCSTR source, LPSTR destination, DWORD size) {
    if (auto e = pc().Enter("ExpandEnvironmentStringsA", source ? source : "")) return Sim::Fail(*e, DWORD(0));
    if (!source) return Sim::Fail(ERROR_INVALID_PARAMETER, DWORD(0));
    const std::string expanded = Sim::ExpandVariables(source);
    const DWORD needed = DWORD(expanded.size() + 1);
    if (destination && size >= needed) std::memcpy(destination, expanded.c_str(), needed);
    return needed;
}
