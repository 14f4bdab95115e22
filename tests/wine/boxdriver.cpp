// Box driver: starts the installer, watches for its message boxes, records
// each one and answers it from a script, the way a user at the screen would.
//
//   boxdriver --out FILE --answers LIST [--timeout SEC] [--snap-dir DIR]
//             [--cwd DIR] [--wait-shell] -- PROGRAM [ARG...]
//
// With --wait-shell, before it starts PROGRAM it waits for the desktop
// shell's automation objects to answer (up to 3 s) and records how long
// that took.
//
// LIST is comma-separated: yes, no, ok, cancel, or leave (record the box and
// do not touch it); "-" or an empty list means no box is expected. Every
// visible top-level window of class #32770 is a box. The record is written
// as JSON lines; caption and text are given as hex of the raw ANSI bytes, so
// that the caller compares exact CP1251 bytes rather than whatever a
// conversion would make of them; button labels as hex of UTF-8.
//
// With --snap-dir, before answering box N the driver creates DIR\box-N.req
// and waits (up to 15 s) for DIR\box-N.done, giving the caller time to take a
// screenshot.
//
// Exit code: 0 when every scripted answer was used, no other box appeared
// and the program ended; 3 when answers were left over (an expected box
// never appeared); 4 when a box appeared that the script did not cover, or
// lacked the button to press; 5 on timeout (the program is then
// terminated); 10 when the program could not be started; 64 on bad usage.
// windows.h comes first: the other SDK headers need it.
#include <windows.h>

#include <exdisp.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Button {
    int id;
    const char* name;
};
constexpr Button Buttons[] = {{IDOK, "ok"},       {IDCANCEL, "cancel"}, {IDABORT, "abort"},
                              {IDRETRY, "retry"}, {IDIGNORE, "ignore"}, {IDYES, "yes"},
                              {IDNO, "no"},       {10, "tryagain"},     {11, "continue"}};
constexpr int TextId = 0xFFFF;  // the static text control of a message box

FILE* Output = nullptr;

std::string hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (unsigned char c : bytes) {
        s += digits[c >> 4];
        s += digits[c & 15];
    }
    return s;
}

// Only names and fixed words go into JSON unescaped; everything taken from
// the screen is hex.
void emit(const std::string& json) {
    std::fputs(json.c_str(), Output);
    std::fputc('\n', Output);
    std::fflush(Output);
}

std::string windowText(HWND w) {
    int len = GetWindowTextLengthA(w);
    std::string s(size_t(len) + 2, '\0');
    int got = GetWindowTextA(w, s.data(), len + 2);
    s.resize(got > 0 ? size_t(got) : 0);
    return s;
}

std::string dlgItemText(HWND box, int id) {
    HWND item = GetDlgItem(box, id);
    if (!item) return {};
    int len = GetWindowTextLengthA(item);
    std::string s(size_t(len) + 2, '\0');
    UINT got = GetDlgItemTextA(box, id, s.data(), len + 2);
    s.resize(got);
    return s;
}

// A window's text as Unicode, recorded as UTF-8: what the user reads,
// whatever the driver's ANSI code page can write. Button labels too: they
// come from the system's own resources in the language the box was asked
// for, which need not be the ANSI code page's.
std::string unicodeText(HWND w) {
    const int len = GetWindowTextLengthW(w);
    std::wstring wide(size_t(len) + 2, L'\0');
    const int n = GetWindowTextW(w, wide.data(), len + 2);
    if (n <= 0) return {};
    const int m = WideCharToMultiByte(CP_UTF8, 0, wide.data(), n, nullptr, 0, nullptr, nullptr);
    std::string utf8(size_t(m > 0 ? m : 0), '\0');
    if (m > 0) WideCharToMultiByte(CP_UTF8, 0, wide.data(), n, utf8.data(), m, nullptr, nullptr);
    return utf8;
}

std::string className(HWND w) {
    char name[64] = {};
    GetClassNameA(w, name, sizeof name);
    return name;
}

BOOL CALLBACK collectBoxes(HWND w, LPARAM lp) {
    if (IsWindowVisible(w) && className(w) == "#32770") reinterpret_cast<std::vector<HWND>*>(lp)->push_back(w);
    return TRUE;
}

std::vector<HWND> visibleBoxes() {
    std::vector<HWND> boxes;
    EnumWindows(collectBoxes, LPARAM(&boxes));
    return boxes;
}

std::wstring quoteArg(const std::wstring& a) {
    if (!a.empty() && a.find_first_of(L" \t\"") == std::wstring::npos) return a;
    std::wstring q = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : a) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"')
            q.append(backslashes * 2 + 1, L'\\');
        else
            q.append(backslashes, L'\\');
        backslashes = 0;
        q += c;
    }
    q.append(backslashes * 2, L'\\');
    q += L'"';
    return q;
}

bool fileExists(const std::string& p) { return GetFileAttributesA(p.c_str()) != INVALID_FILE_ATTRIBUTES; }

void touch(const std::string& p) {
    HANDLE f = CreateFileA(p.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
}

// As on a PC, the desktop shell is up before the installer runs: Wine
// starts its explorer with the first program on the desktop, and the
// shell's automation objects answer a moment later. Waits up to 3 s;
// returns the milliseconds waited, or -1 when the desktop never answered.
long waitForShell() {
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return -1;
    const DWORD start = GetTickCount();
    long waited = -1;
    while (waited < 0 && GetTickCount() - start < 3000) {
        IShellWindows* windows = nullptr;
        if (SUCCEEDED(CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows,
                                       reinterpret_cast<void**>(&windows)))) {
            VARIANT desktop = {}, none = {};
            desktop.vt = VT_I4;
            desktop.lVal = CSIDL_DESKTOP;
            long window = 0;
            IDispatch* found = nullptr;
            if (windows->FindWindowSW(&desktop, &none, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH, &found) == S_OK)
                waited = long(GetTickCount() - start);
            if (found) found->Release();
            windows->Release();
        }
        if (waited < 0) Sleep(100);
    }
    CoUninitialize();
    return waited;
}

int usage() {
    std::fprintf(stderr,
                 "usage: boxdriver --out FILE --answers LIST [--timeout SEC] [--snap-dir DIR] "
                 "[--cwd DIR] [--wait-shell] -- PROGRAM [ARG...]\n");
    return 64;
}

struct Options {
    std::string outPath, answerList, snapDir;
    double timeoutSeconds = 60;
    bool shell = false;
    int program = 0;  // the index of PROGRAM in argv
};

bool ParseOptions(int argc, char** argv, Options& o) {
    int i = 1;
    for (; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--") {
            ++i;
            break;
        }
        if (a == "--wait-shell") {
            o.shell = true;
            continue;
        }
        if (i + 1 >= argc) return false;
        if (a == "--out")
            o.outPath = argv[++i];
        else if (a == "--answers")
            o.answerList = argv[++i];
        else if (a == "--timeout")
            o.timeoutSeconds = std::atof(argv[++i]);
        else if (a == "--snap-dir")
            o.snapDir = argv[++i];
        else if (a == "--cwd")
            ++i;  // ReadLaunch takes it by its Unicode name
        else
            return false;
    }
    o.program = i;
    return !o.outPath.empty() && i < argc;
}

// The answers of LIST in order; false, having said which, on a word that is none.
bool ParseAnswers(const std::string& list, std::vector<std::string>& answers) {
    if (list == "-") return true;
    size_t start = 0;
    while (start < list.size()) {
        size_t comma = list.find(',', start);
        if (comma == std::string::npos) comma = list.size();
        std::string word = list.substr(start, comma - start);
        bool known = word == "leave";
        for (auto& b : Buttons) known = known || word == b.name;
        if (!known) {
            std::fprintf(stderr, "boxdriver: unknown answer '%s'\n", word.c_str());
            return false;
        }
        answers.push_back(word);
        start = comma + 1;
    }
    return true;
}

// The program, its command line and its folder, by their Unicode names: a
// folder such as C:\Загрузки\ has none in a 1252 locale's ANSI code page.
struct Launch {
    std::wstring program, commandLine, cwd;
};

bool ReadLaunch(int argc, char** argv, int first, Launch& launch) {
    int wideCount = 0;
    LPWSTR* wideArgv = CommandLineToArgvW(GetCommandLineW(), &wideCount);
    if (!wideArgv || wideCount != argc) return false;
    for (int k = first; k < argc; ++k) {
        if (!launch.commandLine.empty()) launch.commandLine += L' ';
        launch.commandLine += quoteArg(wideArgv[k]);
    }
    for (int k = 1; k < first; ++k)
        if (std::string(argv[k]) == "--cwd") launch.cwd = wideArgv[k + 1];
    launch.program = wideArgv[first];
    LocalFree(wideArgv);
    return true;
}

// The button that closes a box the least harmful way, so the run can end.
int LeastHarmful(HWND box) {
    for (int id : {IDNO, IDCANCEL, IDOK})
        if (GetDlgItem(box, id)) return id;
    return 0;
}

// What one run has answered so far, and what it has to answer with.
struct Session {
    std::vector<std::string> answers;
    std::string snapDir;
    DWORD programPid = 0;
    DWORD start = 0;
    size_t nextAnswer = 0;
    int boxCount = 0;
    bool unexpected = false;
};

// Records a box seen for the first time and answers it from the script.
void AnswerBox(Session& run, HWND box) {
    Sleep(50);  // let the box finish painting before it is read

    DWORD ownerPid = 0;
    GetWindowThreadProcessId(box, &ownerPid);
    std::string caption = windowText(box);
    std::string text = dlgItemText(box, TextId);
    std::string buttons, buttonTexts;
    for (auto& b : Buttons) {
        HWND item = GetDlgItem(box, b.id);
        if (!item || !IsWindowVisible(item)) continue;
        if (!buttons.empty()) {
            buttons += ',';
            buttonTexts += ',';
        }
        buttons += std::string("\"") + b.name + "\"";
        buttonTexts += "\"" + hex(unicodeText(item)) + "\"";
    }
    const int index = run.boxCount++;
    std::string answer;
    bool scripted = run.nextAnswer < run.answers.size();
    if (scripted) answer = run.answers[run.nextAnswer++];

    if (!run.snapDir.empty()) {
        std::string base = run.snapDir + "\\box-" + std::to_string(index);
        touch(base + ".req");
        for (int wait = 0; wait < 300 && !fileExists(base + ".done"); ++wait) Sleep(50);
    }

    int pressId = 0;
    const char* outcome = "pressed";
    if (!scripted) {
        // Not in the script: closed, and reported.
        run.unexpected = true;
        outcome = "unexpected";
        pressId = LeastHarmful(box);
    } else if (answer == "leave") {
        outcome = "left";
    } else {
        for (auto& b : Buttons)
            if (answer == b.name) pressId = b.id;
        HWND item = GetDlgItem(box, pressId);
        if (!item || !IsWindowVisible(item)) {
            run.unexpected = true;
            outcome = "no-such-button";
            pressId = LeastHarmful(box);
        }
    }
    std::string rec =
        "{\"event\":\"box\",\"index\":" + std::to_string(index) + ",\"owner_pid\":" + std::to_string(ownerPid) +
        ",\"owner_is_program\":" + (ownerPid == run.programPid ? "true" : "false") + ",\"caption_hex\":\"" +
        hex(caption) + "\",\"text_hex\":\"" + hex(text) + "\",\"caption_utf8_hex\":\"" + hex(unicodeText(box)) +
        "\",\"text_utf8_hex\":\"" + hex(unicodeText(GetDlgItem(box, TextId))) + "\",\"buttons\":[" + buttons +
        "],\"button_labels_utf8_hex\":[" + buttonTexts +
        "],\"style\":" + std::to_string(GetWindowLongA(box, GWL_STYLE)) +
        ",\"exstyle\":" + std::to_string(GetWindowLongA(box, GWL_EXSTYLE)) + ",\"answer\":\"" +
        (scripted ? answer : std::string()) + "\",\"outcome\":\"" + outcome +
        "\",\"ms\":" + std::to_string(GetTickCount() - run.start) + "}";
    emit(rec);
    if (pressId) SendMessageA(GetDlgItem(box, pressId), BM_CLICK, 0, 0);
}

// Answers the program's boxes until it ends (true, with its exit code) or
// the time is up (false).
bool Watch(Session& run, HANDLE process, double timeoutSeconds, DWORD& exitCode) {
    const DWORD limit = DWORD(timeoutSeconds * 1000);
    std::vector<HWND> handled;  // boxes already recorded and still on screen
    for (;;) {
        if (GetTickCount() - run.start > limit) return false;
        // Look before testing for the end, so a box that is on screen when
        // the program ends is still recorded.
        std::vector<HWND> boxes = visibleBoxes();
        std::vector<HWND> still;
        for (HWND h : handled)
            for (HWND b : boxes)
                if (b == h) still.push_back(h);
        handled.swap(still);
        for (HWND box : boxes) {
            bool seen = false;
            for (HWND h : handled) seen = seen || h == box;
            if (seen) continue;
            handled.push_back(box);
            AnswerBox(run, box);
        }
        if (WaitForSingleObject(process, 30) == WAIT_OBJECT_0) {
            GetExitCodeProcess(process, &exitCode);
            return true;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!ParseOptions(argc, argv, o)) return usage();
    Session run;
    if (!ParseAnswers(o.answerList, run.answers)) return 64;
    run.snapDir = o.snapDir;

    Output = std::fopen(o.outPath.c_str(), "wb");
    if (!Output) {
        std::fprintf(stderr, "boxdriver: cannot write %s\n", o.outPath.c_str());
        return 64;
    }
    char buf[256];
    std::snprintf(buf, sizeof buf, "{\"event\":\"driver\",\"lcid\":%lu,\"acp\":%u,\"oemcp\":%u}",
                  (unsigned long)GetUserDefaultLCID(), GetACP(), GetOEMCP());
    emit(buf);

    Launch launch;
    if (!ReadLaunch(argc, argv, o.program, launch)) return usage();
    if (o.shell) {
        std::snprintf(buf, sizeof buf, "{\"event\":\"shell\",\"waited_ms\":%ld}", waitForShell());
        emit(buf);
    }
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(launch.program.c_str(), launch.commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        launch.cwd.empty() ? nullptr : launch.cwd.c_str(), &si, &pi)) {
        std::snprintf(buf, sizeof buf, "{\"event\":\"start-failed\",\"error\":%lu}", GetLastError());
        emit(buf);
        std::fclose(Output);
        return 10;
    }
    std::snprintf(buf, sizeof buf, "{\"event\":\"started\",\"pid\":%lu}", pi.dwProcessId);
    emit(buf);

    run.programPid = pi.dwProcessId;
    run.start = GetTickCount();
    DWORD exitCode = 0;
    if (!Watch(run, pi.hProcess, o.timeoutSeconds, exitCode)) {
        std::snprintf(buf, sizeof buf, "{\"event\":\"timeout\",\"seconds\":%.1f,\"boxes\":%d}", o.timeoutSeconds,
                      run.boxCount);
        emit(buf);
        TerminateProcess(pi.hProcess, 259);
        WaitForSingleObject(pi.hProcess, 5000);
        std::fclose(Output);
        return 5;
    }
    std::snprintf(buf, sizeof buf, "{\"event\":\"exit\",\"code\":%lu,\"boxes\":%d,\"unused_answers\":%d,\"ms\":%lu}",
                  exitCode, run.boxCount, int(run.answers.size() - run.nextAnswer), GetTickCount() - run.start);
    emit(buf);
    std::fclose(Output);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    if (run.unexpected) return 4;
    if (run.nextAnswer < run.answers.size()) return 3;
    return 0;
}
