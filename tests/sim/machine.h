// Covers: platform/win32.h, host half. The simulated PC: the state behind platform/win32.h on the host.
//
// Tests set the machine up (registry, files, locale, command line, the
// module's resources, a running main application, box answers), run product
// code, and inspect what it did. Everything is modelled strictly: calls fail
// with the error codes Windows gives, and a call or argument the model does
// not cover is reported through the unmodelled handler instead of being
// guessed at.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/sha256_extensions.h"
#include "platform/win32.h"

namespace Sim {

// Case-insensitive (A-Z only) ordering, as Windows compares names here.
struct NameLess {
    bool operator()(const std::string& a, const std::string& b) const;
};
std::string UpperAscii(std::string text);

// Code pages (sim_codepage.cpp). Names on the volume, the module's file
// name and the current folder are kept in UTF-8; tests give them so.
std::wstring Widen(const std::string& bytes, UINT codePage);  // CP_ACP: the machine's
std::string Narrow(const std::wstring& text, UINT codePage);  // "?" where the page has no character
std::string Utf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);
std::string FromAnsi(const std::string& ansi);  // a name an ANSI call was given
std::string ToAnsi(const std::string& name);    // a name as an ANSI call gives it back
inline std::string U8(const char8_t* text) { return reinterpret_cast<const char*>(text); }
inline bool IsIntResource(LPCSTR name) { return IS_INTRESOURCE(name); }

// A call the model does not cover. The default handler prints and aborts;
// the test main turns it into a test failure.
using UnmodelledHandler = void (*)(const std::string& what);
void SetUnmodelledHandler(UnmodelledHandler handler);
void Unmodelled(const std::string& what);

// Copies text and its NUL where they fit; else returns the size they need (sim_core.cpp).
DWORD CopyText(const std::string& text, LPSTR buffer, DWORD size);
// A call that fails: sets the thread's last error and gives the call's
// failure value.
template <typename T>
T Fail(DWORD error, T result) {
    SetLastError(error);
    return result;
}

// Every API call is logged; a fault makes the n-th matching call fail with
// the given error, as if the system had refused it.
struct CallRecord {
    std::string function;
    std::string detail;
    bool faulted = false;
};
struct Fault {
    std::string function;  // e.g. "WriteFile"
    int occurrence = 1;    // the n-th call of that function (1-based); 0: every call
    DWORD error = ERROR_ACCESS_DENIED;
    std::string detail;  // when not empty, only calls whose detail contains it count
    int seen = 0;
};

// ---------------------------------------------------------------- registry

struct RegValue {
    DWORD type = REG_NONE;
    std::vector<std::uint8_t> data;
};

struct RegKey {
    std::string name;
    std::map<std::string, std::unique_ptr<RegKey>, NameLess> subkeys;
    std::map<std::string, std::pair<std::string, RegValue>, NameLess> values;  // upper -> (name, value)
    bool adminOnlyWrite = false;  // HKLM-like: write access needs an administrator
    bool denyOpen = false;        // opening fails with access denied for everyone
    bool failReads = false;       // value data reads fail (size queries still work)
};

class Registry {
public:
    Registry();
    // Paths are physical, as a 64-bit tool sees them (Wow6432Node spelt out).
    RegKey& Key(HKEY root, const std::string& path);  // created when missing
    RegKey* FindKey(HKEY root, const std::string& path);
    void SetValue(HKEY root, const std::string& path, const std::string& name, DWORD type,
                  std::vector<std::uint8_t> data);
    void SetString(HKEY root, const std::string& path, const std::string& name, const std::string& text,
                   DWORD type = REG_SZ);
    void SetDword(HKEY root, const std::string& path, const std::string& name, DWORD value);
    std::optional<RegValue> Value(HKEY root, const std::string& path, const std::string& name);
    std::optional<DWORD> Dword(HKEY root, const std::string& path, const std::string& name);
    bool KeyExists(HKEY root, const std::string& path) { return FindKey(root, path) != nullptr; }
    void DenyOpen(HKEY root, const std::string& path) { Key(root, path).denyOpen = true; }

    RegKey* Root(HKEY root);

private:
    RegKey hklm_, hkcu_;
};

// ------------------------------------------------------------------- files

struct FileNode {
    std::string name;  // as created (original case)
    bool directory = false;
    std::vector<std::uint8_t> data;
    DWORD attributes = FILE_ATTRIBUTE_ARCHIVE;
    std::uint64_t reportedSize = 0;  // when not 0, the size listings report (large files)
    bool unlistable = false;         // FindFirstFileA inside fails with access denied
    std::string linkTarget;          // a junction or symbolic link: names below (or the file) are there
    int linkGroup = 0;               // hard links of one file share a group (0: the only name)
    std::uint64_t id = 0;            // the file index: the file's own, whatever its name
    // Deleted while others still hold it open, where the volume keeps the
    // name until they let go: every open and delete is then refused.
    bool deletePending = false;
};

// Another process holding a file open; its process as the Restart Manager names it (id 0: one of the open's own).
struct ExternalOpen {
    std::string path;
    DWORD access = GENERIC_READ;
    DWORD share = 0;
    std::string program = "Search Indexer";  // UTF-8
    DWORD processId = 0, session = 0;
};

class FileSystem {
public:
    // Tests use full paths ("C:\\Program Files\\Lexomir\\lxn.cok").
    void AddFolder(const std::string& path);  // and every missing parent
    void AddFile(const std::string& path, std::vector<std::uint8_t> data, DWORD attributes = FILE_ATTRIBUTE_ARCHIVE);
    void AddFile(const std::string& path, const std::string& text) {
        AddFile(path, std::vector<std::uint8_t>(text.begin(), text.end()));
    }
    void AddLink(const std::string& path, const std::string& target);      // a directory junction
    void AddFileLink(const std::string& path, const std::string& target);  // a file symbolic link
    void AddHardLink(const std::string& path, const std::string& existing);
    int LinkCount(const std::string& normalized) const;  // names of the file at this name
    void Sync(const std::string& normalized);            // a change through one name shows through all
    bool Exists(const std::string& path) const;
    bool IsFolder(const std::string& path) const;
    std::optional<std::vector<std::uint8_t>> Read(const std::string& path) const;
    FileNode* Node(const std::string& path);
    void Remove(const std::string& path);
    std::vector<std::string> List(const std::string& folder) const;    // names, listing order
    int HoldOpen(const std::string& path, DWORD access, DWORD share);  // returns a token
    void Release(int token);
    // Writes to this path succeed for `bytes` bytes in all, then fail with `error`.
    void FailWritesAfter(const std::string& path, std::uint64_t bytes, DWORD error = ERROR_DISK_FULL);
    std::uint64_t capacity = UINT64_MAX;  // bytes all files together may hold
    // A deleted name goes at once even while others hold the file (NTFS on
    // Windows 10 1903 and later); otherwise it stays until the last of them
    // lets go (Windows 7 and 8.1, FAT, exFAT, network volumes).
    bool posixDelete = false;
    std::uint64_t nextId = 1;
    // The name was closed or deleted: a pending delete is carried out when
    // nobody holds the file any more.
    void Settle(const std::string& normalized);
    std::uint64_t UsedBytes() const;

    // The model behind the API, shared by the implementation files.
    std::string Normalize(const std::string& path, const std::string& cwd) const;
    static std::string Parent(const std::string& normalized);
    std::map<std::string, FileNode, NameLess> nodes;  // key: normalized full path
    std::map<int, ExternalOpen> external;
    int nextToken = 1;
    struct WriteFault {
        std::uint64_t allowed;
        DWORD error;
    };
    std::map<std::string, WriteFault, NameLess> writeFaults;   // key: normalized path
    std::string Resolve(const std::string& normalized) const;  // through links
    // Symbolic links of the object manager ("\RPC Control\x" -> "C:\..."),
    // which anyone may make, reached through a junction to their directory.
    std::map<std::string, std::string, NameLess> objectLinks;
    // Another process renames a folder, as Windows lets it: 0, or the error.
    DWORD RenameAsOther(const std::string& from, const std::string& to);
    // Renames registered for the next start (PendingFileRenameOperations),
    // in order: from, to, whether to replace. Restart() ends every holder
    // and makes them, each where its file is still there.
    struct PendingRename {
        std::string from, to;
        bool replace;
    };
    std::vector<PendingRename> pendingRenames;
    void Restart();
    // Through links in the folders only: the calls that act on a link itself.
    std::string ResolveParent(const std::string& normalized) const;
    int nextLinkGroup = 1;
};

// ------------------------------------------------------- boxes and windows

struct BoxRecord {
    std::string function;  // "MessageBoxA", "MessageBoxExA", "MessageBoxW" or "MessageBoxExW"
    HWND owner = nullptr;
    // What the box shows, written in code page 1251 to compare with the
    // program's texts ("?" for what 1251 cannot write). An ANSI box shows
    // its bytes as the machine's ANSI code page reads them.
    std::string text;
    std::string caption;
    std::wstring shownText, shownCaption;  // the same, exactly
    UINT style = 0;
    std::optional<WORD> language;
    int result = 0;
};

struct WindowState {
    std::string className;
    int showState = SW_SHOWNORMAL;
    bool foreground = false;
    bool alive = true;

    // Windows of the installer's own process (sim_windowing.cpp); a window
    // of another process has no procedure.
    WNDPROC procedure = nullptr;
    int thread = -1;  // the simulated thread that created it and handles its messages
    std::string text;
    DWORD style = 0, exStyle = 0;  // as created
    int x = 0, y = 0, width = 0, height = 0;
    HWND parent = nullptr;
    HMENU menu = nullptr;
    HINSTANCE instance = nullptr;
    bool topmost = false;
    UINT dpi = USER_DEFAULT_SCREEN_DPI;  // of its monitor; a child's is its parent's
    HFONT font = nullptr;                // a control's, from WM_SETFONT; none: the system font
    std::vector<UINT> received;          // messages its procedure was given, in order
    std::vector<int> receivedOn;         // the thread that ran the procedure for each
};

// A class registered with RegisterClassExA, as it was given.
struct WindowClass {
    WNDCLASSEXA record{};
    std::string name, menuName;
    ATOM atom = 0;
};

// The application the installer updates, as a running program: it holds
// its running marker and main window while it runs and ends on WM_QUIT.
struct MainApp {
    std::string exePath;      // what ShellExecuteA must be given to start it
    std::string markerName;   // the named file mapping it holds
    std::string windowClass;  // its main window's class
    bool startsWhenLaunched = true;
    DWORD markerDelayMs = 250;  // launch -> marker exists
    DWORD windowDelayMs = 250;  // marker -> window exists
    bool quitsOnWmQuit = true;
    DWORD quitDelayMs = 300;  // WM_QUIT -> marker and window gone
    bool startMinimized = false;
    bool hung = false;  // its window's thread takes no messages: what is sent waits, what is posted stays
    std::vector<std::string> holdsFiles;  // data files it keeps open (no sharing) while running

    bool running = false;
    HWND window = nullptr;
    std::vector<std::string> history;  // "started", "quit", "shown normal", "second instance", ...
    std::vector<int> heldTokens;
};

// One start of a program by the installer: ShellExecuteA,
// CreateProcessWithTokenW with the desktop user's token, or the desktop
// shell's IShellDispatch2::ShellExecute (sim_shell.cpp), which starts it
// with the shell's token.
struct ShellExecuteRecord {
    std::string verb, file, parameters, directory, currentFolder;
    int show = 0;
    DWORD at = 0;
    std::string function = "ShellExecuteA";
    bool elevated = false;  // the token the program runs with
};

// The desktop shell the user logged on to (sim_security.cpp): its window,
// its process, and whether its token is elevated (UAC off, or the shell
// restarted as administrator). Another user's shell (an administrator
// elevated the installer for a standard user) does not let the installer
// open its process; its automation objects still answer (sim_shell.cpp).
struct DesktopShell {
    bool running = true;
    bool elevated = false;
    bool otherUser = false;
    bool hung = false;  // answers no COM call until it recovers
    DWORD processId = 0x0B70;
    HWND window = nullptr;  // made on first use
};

// ------------------------------------- console commands (sim_process.cpp)

// What one command does when the command interpreter runs it as
// `cmd.exe /c COMMAND > "FILE"`: the interpreter creates FILE (relative to
// the current folder), writes the command's output into it, holds it open
// while it runs, and ends after runMs, or only when terminated.
struct ConsoleCommand {
    std::string output;  // what the command prints, in the OEM code page
    DWORD runMs = 60;
    bool neverEnds = false;
    DWORD exitCode = 0;
    // What someone else does to the redirect file (its full path) while
    // the command runs, just before it ends.
    std::function<void(const std::string&)> meanwhile;
};

// A command interpreter: its file must exist on the volume as well. A
// command it does not know prints only to the error stream, so its
// redirect file stays empty, and it exits with 1. Before the command it
// runs the AutoRun commands of HKLM and HKCU "Software\Microsoft\Command
// Processor" unless given /d, and it expands %NAME% on its command line.
struct ConsoleInterpreter {
    std::map<std::string, ConsoleCommand, NameLess> commands;  // by command text
};

// One CreateProcessA call, whether or not a process started.
struct ProcessRecord {
    std::string commandLine;
    std::string program;  // the file that was started; empty when none was
    DWORD error = 0;      // why nothing started
    DWORD creationFlags = 0;
    BOOL inheritHandles = FALSE;
    STARTUPINFOA startup{};
    std::string command;               // what the interpreter was told to run, expanded
    std::vector<std::string> autoRun;  // the AutoRun commands it ran first
    std::string redirect;              // full path of the file its output went to; empty: none
    DWORD id = 0;
    DWORD startedAt = 0;
    std::optional<DWORD> endedAt;
    bool terminated = false;
    DWORD exitCode = STILL_ACTIVE;
    int holdToken = 0;  // the redirect file, held open while it runs
};

// ------------------------------------------------------------ the machine

class Machine {
public:
    Machine();
    ~Machine();  // ends the simulated threads still waiting (sim_threads.cpp)
    // Ends them now, while this is still the machine pc() gives them.
    void EndThreads();

    // Environment of the process.
    std::string commandLine = "\"C:\\Users\\User\\Downloads\\LexomirUpdate.exe\"";
    LCID userLocale = 0x0409;
    bool userIsAdmin = true;
    // The installer's token: an administrator's full, elevated one; without
    // UAC or for a standard user it is not elevated. Before Vista tokens
    // have no elevation to ask about.
    bool elevated = true;
    bool impersonatePrivilege = true;   // SeImpersonatePrivilege, held by elevated administrators
    bool secondaryLogonRunning = true;  // the service behind CreateProcessWithTokenW; false: disabled
    DesktopShell shell;
    // The window station of the process can be seen: false for a service or
    // a program run as SYSTEM by a deployment tool (session 0), where a box
    // waits for an answer nobody can give.
    bool windowStationVisible = true;
    // Session 0 holds services and what runs as SYSTEM; no user logs on to it.
    DWORD sessionId = 1;
    // COM on the installer's thread (sim_shell.cpp): its initialisations
    // not yet undone, the objects and strings handed out and not yet
    // released.
    int comInitialized = 0;
    std::set<const void*> comObjects, strings;
    bool wow64 = true;  // a 32-bit process on 64-bit Windows
    OSVERSIONINFOEXA version{};
    std::map<std::string, std::string, NameLess> environment;  // set here: what the test gives
    // A variable as the process sees it: the test's, else the system's
    // (the Program Files folders follow the bitness of Windows and of the process).
    std::optional<std::string> Variable(const std::string& name) const;
    std::string currentFolder = "C:\\Users\\User\\Downloads";
    std::string systemFolder = "C:\\Windows\\system32";
    std::string windowsFolder = "C:\\Windows";
    bool performanceCounterWorks = true;
    LONGLONG performanceCount = 0x123456789ALL;

    // The own module.
    std::string moduleFileName = "C:\\Users\\User\\Downloads\\LexomirUpdate.exe";
    struct Resource {
        std::string type, name;  // upper case, "#10" for integer ids
        WORD language = 0;
        std::vector<std::uint8_t> data;
    };
    std::vector<Resource> resources;
    // The files written straight from a resource's bytes (the buffer given
    // to WriteFile lay inside one), in order.
    std::vector<std::string> writesFromResources;
    void AddResource(const std::string& type, const std::string& name, WORD language, std::vector<std::uint8_t> data);
    std::set<std::string, NameLess> missingLibraries;  // system DLLs that fail to load
    bool systemSearchFlagSupported = true;             // LOAD_LIBRARY_SEARCH_SYSTEM32 (Windows 7 needs an update)
    // kernel32 exports SetDefaultDllDirectories (same update); what the
    // process set with it, and with SetDllDirectoryA.
    bool defaultDllDirectoriesExported = true;
    DWORD defaultDllDirectories = 0;
    std::optional<std::string> dllDirectory;
    std::vector<std::string> loadedLibraries;  // as LoadLibraryExA was asked, with its flags
    // The GUI libraries (user32, gdi32, comctl32, shell32) are delay-loaded:
    // each comes in at the first call of one of its functions
    // (sim_delay_load.cpp), with the library search as it stood then.
    struct DelayLoad {
        std::string library;
        bool searchRestricted;  // SetDefaultDllDirectories or SetDllDirectoryA("") came first
    };
    std::vector<DelayLoad> delayLoads;
    void NoteDelayLoad(const std::string& function);
    std::set<std::uintptr_t> sids;  // from AllocateAndInitializeSid, not yet freed (sim_security.cpp)

    Registry registry;
    FileSystem files;

    // The Application event log: the records reported, by source. (The
    // service stopped is a fault the sweep injects: RPC_S_SERVER_UNAVAILABLE.)
    struct EventRecord {
        std::wstring source;
        WORD type = 0;
        DWORD id = 0;
        std::vector<std::wstring> strings;
        std::vector<BYTE> user;  // its user's SID; none: no user
    };
    std::vector<EventRecord> eventLog;
    // The user the installer runs as: S-1-5-21-1001, a user's SID shortened.
    std::vector<BYTE> userSid{1, 2, 0, 0, 0, 0, 0, 5, 21, 0, 0, 0, 0xE9, 3, 0, 0};
    // The local time the clock starts from (tests see it advance with Sleep).
    SYSTEMTIME localTime{2026, 12, 4, 10, 9, 30, 0, 0};

    // Boxes: answers are taken in order for question boxes; a box that only
    // has an OK button is answered IDOK when no answer is queued.
    std::deque<int> boxAnswers;
    std::vector<BoxRecord> boxes;

    // Virtual time: Sleep advances it and runs what is due.
    DWORD now = 0;
    DWORD tickBase = 1000000;
    std::vector<DWORD> sleeps;
    void At(DWORD time, std::function<void()> action);
    void RunDue();

    // Processes and windows.
    MainApp app;
    void StartMainApp();  // running now, as before the installer started
    std::map<HWND, WindowState> windows;
    std::vector<ShellExecuteRecord> launches;
    std::map<std::string, int, NameLess> namedObjects;  // name -> open handles

    // Console commands and the system's facts (sim_process.cpp).
    std::map<std::string, ConsoleInterpreter, NameLess> interpreters;  // by full path of the program
    // Puts a command interpreter on the volume (default: cmd.exe in the
    // system folder) whose "ver" prints as Windows 10 does.
    ConsoleInterpreter& AddInterpreter(const std::string& path = "");
    std::vector<ProcessRecord> processes;  // every CreateProcessA call, in order
    DWORD nextProcessId = 0x1A4;
    DWORD terminationMs = 5;  // TerminateProcess -> the process has ended
    // GetSystemInfo always reports the x86 of this 32-bit process;
    // GetNativeSystemInfo reports nativeArchitecture when wow64 is set.
    WORD nativeArchitecture = PROCESSOR_ARCHITECTURE_AMD64;
    bool nativeSystemInfoExported = true;  // kernel32 has GetNativeSystemInfo (XP and later)
    // Private namespaces and the mutexes in them (sim_namespace.cpp), whose
    // calls kernel32 exports from Vista on (not XP, not Wine 8). One exists
    // while a handle to it is open; a mutex is owned by the handle a wait
    // succeeded through (one process each).
    bool privateNamespacesExported = true;
    struct NamedObject {
        std::wstring boundary;            // a namespace's boundary's name
        bool administratorsOnly = false;  // its DACL
        int handles = 0, count = 0;
        std::uintptr_t owner = 0;
        bool abandoned = false;
    };
    std::map<std::wstring, NamedObject> objects;    // by name: a namespace's prefix, a mutex's "PREFIX\NAME"
    int openToStandardUsers = 0;                    // made so that a standard user may open them
    std::set<std::uintptr_t> adminOnlyDescriptors;  // from SDDL, not yet freed
    // Restart Manager sessions, files registered in each, and rstrtmgr.dll's loads (sim_restart_manager.cpp).
    std::map<DWORD, std::vector<std::string>> rmSessions;
    DWORD nextRmSession = 0;
    int rmLoads = 0;
    DWORD processorCount = 2;
    std::map<int, int> systemMetrics{{SM_TABLETPC, 0}, {SM_MEDIACENTER, 0}, {SM_STARTER, 0},
                                     {SM_SERVERR2, 0}, {SM_CXSCREEN, 1024}, {SM_CYSCREEN, 768}};
    UINT oemCodePage = 866;
    // What CPUID answers (sim_cpu.cpp): by default a processor without the
    // SHA extensions, so the self-check goes through CNG. A test that sets
    // them needs a host processor that has them: the hash really runs.
    CpuIdentity cpu{.maxLeaf = 0x16, .leaf1Ecx = 0x7FFAFBBF, .leaf7Ebx = 0x029C6FBF};
    UINT ansiCodePage = 1251;
    // A virus scanner that opens each file written for this long after it
    // is closed, without letting others delete or rename it.
    DWORD scanHoldMs = 0;

    // Threads, events and window classes of the installer's own process
    // (sim_threads.cpp, sim_windowing.cpp). A simulated thread is a real
    // thread that runs only while every other one waits: they take turns
    // at their waits, so a run is as deterministic as one without threads.
    std::map<std::string, WindowClass, NameLess> windowClasses;
    bool commonControls = false;  // InitCommonControls has registered its classes
    // The system DPI (the screen's at logon: GetDeviceCaps, the size of the
    // stock system font) and the DPI of the monitor the installer's windows
    // open on. The installer is per-monitor aware, so a window's DPI is its
    // monitor's; user32 of Windows 10 version 1607 and later tells it.
    UINT systemDpi = USER_DEFAULT_SCREEN_DPI;
    UINT monitorDpi = USER_DEFAULT_SCREEN_DPI;
    bool dpiForWindowExported = true;
    int screenDcs = 0;                // GetDC(nullptr) not yet released
    std::map<HFONT, LOGFONTA> fonts;  // made by CreateFontIndirectA and not deleted
    struct Threading;
    std::shared_ptr<Threading> threading;

    // Calls and faults.
    std::vector<CallRecord> calls;
    // Someone else at work on the machine: called as each call begins,
    // before the call looks at anything.
    std::function<void(const CallRecord&)> meanwhile;
    std::vector<Fault> faults;
    void Inject(const std::string& function, int occurrence, DWORD error, const std::string& detail = "") {
        faults.push_back({function, occurrence, error, detail, 0});
    }
    int CallCount(const std::string& function) const;

    // Implementation details shared by the API files.
    struct Handle {
        enum Kind { File, Find, Mapping, Process, Thread, Event, Token, EventSource, Boundary, Namespace, Mutex } kind;
        std::string path;  // file: normalized path; mapping, namespace, mutex: object name; process: program
        DWORD access = 0, share = 0;
        std::uint64_t position = 0;
        std::vector<WIN32_FIND_DATAA> listing;
        std::size_t next = 0;
        DWORD processId = 0;                    // process, thread: the process it belongs to
        bool elevated = false, primary = true;  // token
        bool deleteOnClose = false;             // file: FILE_FLAG_DELETE_ON_CLOSE
    };
    std::map<std::uintptr_t, Handle> handles;
    struct RegHandle {
        HKEY root;
        std::string path;  // physical path below the root
        REGSAM access;
    };
    std::map<std::uintptr_t, RegHandle> regHandles;
    std::uintptr_t nextHandle = 0x100;
    // Releases a handle of that kind: a failing release (a close) still
    // releases, as on Windows.
    BOOL Release(const std::string& function, HANDLE handle, Handle::Kind kind);
    HANDLE NewHandle(Handle handle);
    // A process started: the handles of it and its thread, and their ids.
    void Started(const std::string& program, DWORD id, LPPROCESS_INFORMATION information);
    Handle* FindHandle(HANDLE handle, Handle::Kind kind);
    std::optional<DWORD> Enter(const std::string& function, const std::string& detail);
    std::multimap<DWORD, std::function<void()>> timeline;
    std::uintptr_t nextWindow = 0x10010;
    // The full name on the volume of a path an ANSI call was given.
    std::string FullPath(const std::string& path) const { return files.Normalize(FromAnsi(path), currentFolder); }
    bool FileOpenConflicts(const std::string& path, DWORD access, DWORD share) const;
};

Machine& pc();
void Reset();  // a new machine: every test starts from here

// TerminateProcess on the installer's own process throws this: nothing after it runs.
struct ProcessEnded {
    UINT exitCode;
};
int RunToEnd(int (*entry)());  // the exit code the entry returned or ended its process with
// The environment's %NAME% references expanded, as Windows expands them.
std::string ExpandVariables(const std::string& text);

// The delay-loaded library a function belongs to; empty for the others.
std::string DelayLoadedLibrary(const std::string& function);

// What GetModuleHandleA(nullptr) gives: the installer's own module.
inline HMODULE OwnModuleHandle() { return reinterpret_cast<HMODULE>(std::uintptr_t(0x400000)); }
// A program was started from this full path: the main application starts
// when it is the one (sim_user.cpp).
void StartMainAppIfItIs(const std::string& path);
// WaitForSingleObject on an event or a thread handle (sim_threads.cpp), a
// mutex (sim_namespace.cpp); a mutex or namespace handle closes.
DWORD WaitForEvent(HANDLE event, DWORD milliseconds);
DWORD WaitForThread(HANDLE thread, DWORD milliseconds);
DWORD WaitForMutex(HANDLE mutex, DWORD milliseconds);
void CloseNamed(std::uintptr_t handle);
// A window of the installer moves to a monitor of another DPI (or its
// monitor's DPI changes): it and its children take the DPI, and its thread
// is sent WM_DPICHANGED with the place Windows suggests (sim_windowing.cpp).
void ChangeDpi(HWND window, UINT dpi, RECT suggested);

}  // namespace Sim
