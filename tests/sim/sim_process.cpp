// Covers: platform/win32.h, host half. Console commands run as child processes, and the machine facts the OS
// description reads: system info, metrics, and the OEM-to-ANSI conversion.
#include <algorithm>
#include <cstring>

#include "tests/sim/machine.h"

namespace Sim {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsFullPath(const std::string& path) {
    return path.size() >= 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/');
}

bool HasExtension(const std::string& path) {
    const std::size_t dot = path.rfind('.');
    const std::size_t slash = path.find_last_of("\\/");
    return dot != std::string::npos && (slash == std::string::npos || dot > slash);
}

bool IsFile(const std::string& path) {
    const FileNode* node = pc().files.Node(path);
    return node && !node->directory;
}

// Which program a command line without an application name starts, as
// Windows finds it: a quoted first word is taken whole; otherwise each
// blank in turn may end the name ("C:\Program Files\x" tries
// "C:\Program.exe" first), ".exe" is added to a name without extension,
// and the first candidate that is a file wins. `rest` gets what follows
// the program's name.
std::string FindProgram(const std::string& line, std::string& rest) {
    std::vector<std::pair<std::string, std::size_t>> candidates;  // name, where the rest begins
    if (!line.empty() && line[0] == '"') {
        const std::size_t close = std::min(line.find('"', 1), line.size());
        candidates.push_back({line.substr(1, close - 1), std::min(close + 1, line.size())});
    } else {
        for (std::size_t i = 0; i <= line.size(); ++i)
            if (i == line.size() || IsBlank(line[i])) candidates.push_back({line.substr(0, i), i});
    }
    for (auto& [name, end] : candidates) {
        if (name.empty()) continue;
        if (!IsFullPath(name)) Unmodelled("CreateProcessA searching for a program: " + name);
        const std::string file = HasExtension(name) ? name : name + ".exe";
        if (IsFile(file)) {
            rest = line.substr(end);
            return pc().files.Normalize(file, "C:");
        }
    }
    return "";
}

ProcessRecord* ProcessOf(HANDLE handle, Machine::Handle::Kind kind = Machine::Handle::Process) {
    Machine::Handle* h = pc().FindHandle(handle, kind);
    if (!h) return nullptr;
    for (ProcessRecord& p : pc().processes)
        if (p.id == h->processId) return &p;
    return nullptr;
}

void EndProcess(DWORD id, DWORD exitCode) {
    for (ProcessRecord& p : pc().processes) {
        if (p.id != id || p.endedAt) continue;
        p.endedAt = pc().now;
        p.exitCode = exitCode;
        if (p.holdToken) pc().files.Release(p.holdToken);
        p.holdToken = 0;
    }
}

// The interpreter at work: `/c COMMAND > "FILE"`. The redirect file is
// created (or emptied) before the command runs; when it cannot be created
// the command does not run and the interpreter exits with 1.
bool SwitchAt(const std::string& text, std::size_t i, char letter) {
    return text.size() >= i + 3 && text[i] == '/' && (text[i + 1] | 0x20) == letter && IsBlank(text[i + 2]);
}

void RunInterpreter(ProcessRecord& p, const ConsoleInterpreter& interpreter, const std::string& arguments) {
    std::size_t i = 0;
    while (i < arguments.size() && IsBlank(arguments[i])) ++i;
    bool noAutoRun = false;
    if (SwitchAt(arguments, i, 'd')) {
        noAutoRun = true;
        i += 3;
        while (i < arguments.size() && IsBlank(arguments[i])) ++i;
    }
    if (!SwitchAt(arguments, i, 'c')) Unmodelled("command interpreter arguments: " + arguments);
    if (!noAutoRun) {
        // Run before anything else, with the interpreter's rights.
        for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
            auto value = pc().registry.Value(root, "Software\\Microsoft\\Command Processor", "AutoRun");
            if (value && (value->type == REG_SZ || value->type == REG_EXPAND_SZ) && !value->data.empty())
                p.autoRun.push_back(std::string(reinterpret_cast<const char*>(value->data.data())));
        }
    }
    // Variables are expanded when the line is read, inside quotes too,
    // before redirections are taken apart.
    std::string command = ExpandVariables(arguments.substr(i + 3));
    std::string target;
    const std::size_t redirect = command.rfind(" > \"");
    if (redirect != std::string::npos && command.size() > redirect + 4 && command.back() == '"' &&
        command.find('"', redirect + 4) == command.size() - 1) {
        target = command.substr(redirect + 4, command.size() - redirect - 5);
        command.erase(redirect);
    } else if (command.find_first_of("<>|&") != std::string::npos) {
        Unmodelled("command interpreter syntax: " + command);
    }
    while (!command.empty() && IsBlank(command.back())) command.pop_back();
    p.command = command;

    const ConsoleCommand* script = nullptr;
    auto known = interpreter.commands.find(command);
    if (known != interpreter.commands.end()) script = &known->second;
    const DWORD runMs = script ? script->runMs : 30;
    DWORD exitCode = script ? script->exitCode : 1;

    if (!target.empty()) {
        Machine& m = pc();
        const std::string full = m.files.Resolve(m.FullPath(target));
        auto parent = m.files.nodes.find(FileSystem::Parent(full));
        auto existing = m.files.nodes.find(full);
        const bool creatable =
            !full.empty() && parent != m.files.nodes.end() && parent->second.directory &&
            (existing == m.files.nodes.end() ||
             (!existing->second.directory && !(existing->second.attributes & FILE_ATTRIBUTE_READONLY))) &&
            !m.FileOpenConflicts(full, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
        if (!creatable) {
            // "The system cannot find the path specified." goes to the
            // error stream; the command itself never runs.
            script = nullptr;
            exitCode = 1;
        } else {
            FileNode& node = m.files.nodes[full];
            const std::size_t cut = full.rfind('\\');
            node.name = cut == std::string::npos ? full : full.substr(cut + 1);
            node.directory = false;
            node.attributes = FILE_ATTRIBUTE_ARCHIVE;
            node.reportedSize = 0;
            node.data.clear();
            if (script) node.data.assign(script->output.begin(), script->output.end());
            p.redirect = full;
            p.holdToken = m.files.HoldOpen(full, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
        }
    }
    if (script && script->meanwhile && !p.redirect.empty()) {
        const std::string redirect = p.redirect;
        auto meanwhile = script->meanwhile;
        const DWORD at = pc().now + (runMs ? runMs - 1 : 0);
        pc().At(at, [redirect, meanwhile] { meanwhile(redirect); });
    }
    if (script && script->neverEnds) return;
    const DWORD id = p.id;
    pc().At(pc().now + runMs, [id, exitCode] { EndProcess(id, exitCode); });
}

void FillSystemInfo(LPSYSTEM_INFO info, WORD architecture) {
    std::memset(info, 0, sizeof *info);
    info->wProcessorArchitecture = architecture;
    info->dwPageSize = 4096;
    info->lpMinimumApplicationAddress = reinterpret_cast<LPVOID>(std::uintptr_t(0x00010000));
    info->lpMaximumApplicationAddress = reinterpret_cast<LPVOID>(std::uintptr_t(0x7FFEFFFF));
    const DWORD n = pc().processorCount;
    info->dwActiveProcessorMask = n >= 32 ? DWORD_PTR(0xFFFFFFFF) : (DWORD_PTR(1) << n) - 1;
    info->dwNumberOfProcessors = n;
    info->dwProcessorType = architecture == PROCESSOR_ARCHITECTURE_INTEL   ? PROCESSOR_INTEL_PENTIUM
                            : architecture == PROCESSOR_ARCHITECTURE_AMD64 ? PROCESSOR_AMD_X8664
                            : architecture == PROCESSOR_ARCHITECTURE_IA64  ? 2200  // PROCESSOR_INTEL_IA64
                                                                           : 0;
    info->dwAllocationGranularity = 65536;
    info->wProcessorLevel = 6;
    info->wProcessorRevision = 0x9E0A;
}

}  // namespace

ConsoleInterpreter& Machine::AddInterpreter(const std::string& path) {
    const std::string file = path.empty() ? systemFolder + "\\cmd.exe" : path;
    files.AddFile(file, std::vector<std::uint8_t>(4096, 0x4D));
    ConsoleInterpreter& interpreter = interpreters[files.Normalize(file, "C:")];
    interpreter.commands["ver"].output = "\r\nMicrosoft Windows [Version 10.0.19045.3693]\r\n";
    return interpreter;
}

}  // namespace Sim

using Sim::pc;

BOOL WINAPI CreateProcessA(LPCSTR applicationName, LPSTR commandLine, LPSECURITY_ATTRIBUTES processAttributes,
                           LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles, DWORD creationFlags,
                           LPVOID environment, LPCSTR currentDirectory, LPSTARTUPINFOA startupInfo,
                           LPPROCESS_INFORMATION processInformation) {
    Sim::Machine& m = pc();
    const std::string line = Sim::FromAnsi(commandLine ? commandLine : "");
    Sim::ProcessRecord record;
    record.commandLine = line;
    record.creationFlags = creationFlags;
    record.inheritHandles = inheritHandles;
    if (startupInfo) record.startup = *startupInfo;
    record.startedAt = m.now;
    auto refused = [&](DWORD error) {  // recorded as a process that did not start
        record.error = error;
        m.processes.push_back(record);
        return Sim::Fail(error, FALSE);
    };
    if (auto e = m.Enter("CreateProcessA", line)) return refused(*e);
    if (applicationName || processAttributes || threadAttributes || environment || currentDirectory)
        Sim::Unmodelled("CreateProcessA with an application name, attributes, environment or folder");
    if (!commandLine || !startupInfo || !processInformation)
        Sim::Unmodelled("CreateProcessA without command line, start record or process record");
    if (creationFlags & ~DWORD(CREATE_NEW_CONSOLE | CREATE_NEW_PROCESS_GROUP))
        Sim::Unmodelled("CreateProcessA creation flags " + std::to_string(creationFlags));
    if (startupInfo &&
        ((startupInfo->dwFlags & ~DWORD(STARTF_USESHOWWINDOW)) || startupInfo->lpDesktop || startupInfo->lpTitle ||
         startupInfo->hStdInput || startupInfo->hStdOutput || startupInfo->hStdError))
        Sim::Unmodelled("CreateProcessA start record beyond the show state");

    std::string arguments;
    const std::string program = Sim::FindProgram(line, arguments);
    if (program.empty()) return refused(ERROR_FILE_NOT_FOUND);
    auto interpreter = m.interpreters.find(program);
    if (interpreter == m.interpreters.end()) {
        Sim::Unmodelled("CreateProcessA of a program without a script: " + program);
        return refused(ERROR_BAD_EXE_FORMAT);
    }
    record.program = program;
    record.id = std::exchange(m.nextProcessId, m.nextProcessId + 4);
    m.processes.push_back(record);
    Sim::RunInterpreter(m.processes.back(), interpreter->second, arguments);

    m.Started(program, record.id, processInformation);
    return TRUE;
}

void Sim::Machine::Started(const std::string& program, DWORD id, LPPROCESS_INFORMATION information) {
    information->hProcess = NewHandle({.kind = Handle::Process, .path = program, .processId = id});
    information->hThread = NewHandle({.kind = Handle::Thread, .path = program, .processId = id});
    information->dwProcessId = id;
    information->dwThreadId = id + 4;
}

DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    Sim::Machine& m = pc();
    if (auto e = m.Enter("WaitForSingleObject", std::to_string(milliseconds))) return Sim::Fail(*e, WAIT_FAILED);
    if (m.FindHandle(handle, Sim::Machine::Handle::Event)) return Sim::WaitForEvent(handle, milliseconds);
    if (m.FindHandle(handle, Sim::Machine::Handle::Thread)) return Sim::WaitForThread(handle, milliseconds);
    if (m.FindHandle(handle, Sim::Machine::Handle::Mutex)) return Sim::WaitForMutex(handle, milliseconds);
    Sim::ProcessRecord* p = Sim::ProcessOf(handle);
    if (!p) {
        if (m.FindHandle(handle, Sim::Machine::Handle::File) || m.FindHandle(handle, Sim::Machine::Handle::Mapping))
            Sim::Unmodelled("WaitForSingleObject on a file or mapping");
        return Sim::Fail(ERROR_INVALID_HANDLE, WAIT_FAILED);
    }
    const DWORD id = p->id;
    auto ended = [&] {
        for (const Sim::ProcessRecord& r : m.processes)
            if (r.id == id) return r.endedAt.has_value();
        return false;
    };
    const bool forever = milliseconds == INFINITE;
    const DWORD deadline = forever ? 0 : m.now + milliseconds;
    while (!ended()) {
        if (m.timeline.empty() || (!forever && m.timeline.begin()->first > deadline)) {
            if (forever) {
                Sim::Unmodelled("WaitForSingleObject(INFINITE) on a process that never ends");
                return Sim::Fail(ERROR_INVALID_HANDLE, WAIT_FAILED);
            }
            m.now = deadline;
            return WAIT_TIMEOUT;
        }
        if (m.timeline.begin()->first > m.now) m.now = m.timeline.begin()->first;
        m.RunDue();
    }
    return WAIT_OBJECT_0;
}

BOOL WINAPI TerminateProcess(HANDLE process, UINT exitCode) {
    Sim::Machine& m = pc();
    if (auto e = m.Enter("TerminateProcess", std::to_string(exitCode))) return Sim::Fail(*e, FALSE);
    if (process == GetCurrentProcess()) throw Sim::ProcessEnded{exitCode};
    Sim::ProcessRecord* p = Sim::ProcessOf(process);
    if (!p) return Sim::Fail(ERROR_INVALID_HANDLE, FALSE);
    // Windows refuses to terminate a process that has already ended.
    if (p->endedAt) return Sim::Fail(ERROR_ACCESS_DENIED, FALSE);
    // Termination is asynchronous: the process is gone, and lets go of its
    // files, only a moment later.
    p->terminated = true;
    const DWORD id = p->id;
    m.At(m.now + m.terminationMs, [id, exitCode] { Sim::EndProcess(id, exitCode); });
    return TRUE;
}

BOOL WINAPI GetExitCodeProcess(HANDLE process, LPDWORD exitCode) {
    if (auto e = pc().Enter("GetExitCodeProcess", "")) return Sim::Fail(*e, FALSE);
    Sim::ProcessRecord* p = Sim::ProcessOf(process);
    if (!p) return Sim::Fail(ERROR_INVALID_HANDLE, FALSE);
    if (!exitCode) Sim::Unmodelled("GetExitCodeProcess without a result");
    *exitCode = p->endedAt ? p->exitCode : DWORD(STILL_ACTIVE);
    return TRUE;
}

void WINAPI GetSystemInfo(LPSYSTEM_INFO info) {
    pc().Enter("GetSystemInfo", "");
    if (!info) Sim::Unmodelled("GetSystemInfo without a record");
    Sim::FillSystemInfo(info, PROCESSOR_ARCHITECTURE_INTEL);
}

void WINAPI GetNativeSystemInfo(LPSYSTEM_INFO info) {
    pc().Enter("GetNativeSystemInfo", "");
    if (!info) Sim::Unmodelled("GetNativeSystemInfo without a record");
    if (!pc().nativeSystemInfoExported) Sim::Unmodelled("GetNativeSystemInfo on a system that lacks it");
    Sim::FillSystemInfo(info, pc().wow64 ? pc().nativeArchitecture : WORD(PROCESSOR_ARCHITECTURE_INTEL));
}

int WINAPI GetSystemMetrics(int index) {
    pc().Enter("GetSystemMetrics", std::to_string(index));
    auto it = pc().systemMetrics.find(index);
    if (it == pc().systemMetrics.end()) {
        Sim::Unmodelled("GetSystemMetrics index " + std::to_string(index));
        return 0;
    }
    return it->second;
}

int Sim::RunToEnd(int (*entry)()) try { return entry(); } catch (const ProcessEnded& ended) {
    return int(ended.exitCode);
}
