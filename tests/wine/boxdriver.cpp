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
#include <cstring>
#include <cwchar>
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
// whatever the driver's ANSI code page can write.
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

// Button labels come from the system's own resources in the language the
// box was asked for, which need not be the ANSI code page's; read them as
// Unicode and record UTF-8.
std::string labelUtf8(HWND w) {
    wchar_t wide[128] = {};
    int n = GetWindowTextW(w, wide, 128);
    char utf8[512] = {};
    int m = n > 0 ? WideCharToMultiByte(CP_UTF8, 0, wide, n, utf8, sizeof utf8, nullptr, nullptr) : 0;
    return std::string(utf8, m > 0 ? size_t(m) : 0);
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

std::string quoteArg(const std::string& a) {
    if (!a.empty() && a.find_first_of(" \t\"") == std::string::npos) return a;
    std::string q = "\"";
    size_t backslashes = 0;
    for (char c : a) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"')
            q.append(backslashes * 2 + 1, '\\');
        else
            q.append(backslashes, '\\');
        backslashes = 0;
        q += c;
    }
    q.append(backslashes * 2, '\\');
    q += '"';
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

}  // namespace

int main(int argc, char** argv) {
    std::string outPath, answerList, snapDir, cwd;  // cwd: only to tell that one is given
    double timeoutSeconds = 60;
    bool shell = false;
    int i = 1;
    for (; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--") {
            ++i;
            break;
        }
        if (a == "--wait-shell") {
            shell = true;
            continue;
        }
        if (i + 1 >= argc) return usage();
        if (a == "--out")
            outPath = argv[++i];
        else if (a == "--answers")
            answerList = argv[++i];
        else if (a == "--timeout")
            timeoutSeconds = std::atof(argv[++i]);
        else if (a == "--snap-dir")
            snapDir = argv[++i];
        else if (a == "--cwd")
            cwd = argv[++i];
        else
            return usage();
    }
    if (outPath.empty() || i >= argc) return usage();

    std::vector<std::string> answers;
    if (answerList != "-") {
        size_t start = 0;
        while (start < answerList.size()) {
            size_t comma = answerList.find(',', start);
            if (comma == std::string::npos) comma = answerList.size();
            std::string word = answerList.substr(start, comma - start);
            bool known = word == "leave";
            for (auto& b : Buttons) known = known || word == b.name;
            if (!known) {
                std::fprintf(stderr, "boxdriver: unknown answer '%s'\n", word.c_str());
                return 64;
            }
            answers.push_back(word);
            start = comma + 1;
        }
    }

    Output = std::fopen(outPath.c_str(), "wb");
    if (!Output) {
        std::fprintf(stderr, "boxdriver: cannot write %s\n", outPath.c_str());
        return 64;
    }
    char buf[256];
    std::snprintf(buf, sizeof buf, "{\"event\":\"driver\",\"lcid\":%lu,\"acp\":%u,\"oemcp\":%u}",
                  (unsigned long)GetUserDefaultLCID(), GetACP(), GetOEMCP());
    emit(buf);

    // The program and its folder by their Unicode names: a folder such as
    // C:\Загрузки\ has none in a 1252 locale's ANSI code page.
    int wideCount = 0;
    LPWSTR* wideArgv = CommandLineToArgvW(GetCommandLineW(), &wideCount);
    if (!wideArgv || wideCount != argc) return usage();
    auto utf8 = [](const wchar_t* w) {
        const int n = WideCharToMultiByte(CP_UTF8, 0, w, -1, nullptr, 0, nullptr, nullptr);
        std::string s(size_t(n > 0 ? n : 1), '\0');
        WideCharToMultiByte(CP_UTF8, 0, w, -1, s.data(), n, nullptr, nullptr);
        s.resize(std::strlen(s.c_str()));
        return s;
    };
    auto wide = [](const std::string& s) {
        const int n = MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, nullptr, 0);
        std::wstring w(size_t(n > 0 ? n : 1), L'\0');
        MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, w.data(), n);
        w.resize(std::wcslen(w.c_str()));
        return w;
    };
    std::string cmdLine;
    for (int k = i; k < argc; ++k) {
        if (!cmdLine.empty()) cmdLine += ' ';
        cmdLine += quoteArg(utf8(wideArgv[k]));
    }
    std::wstring wideCwd;
    for (int k = 1; k < i; ++k)
        if (std::string(argv[k]) == "--cwd") wideCwd = wideArgv[k + 1];
    const std::wstring program = wideArgv[i];
    LocalFree(wideArgv);
    if (shell) {
        std::snprintf(buf, sizeof buf, "{\"event\":\"shell\",\"waited_ms\":%ld}", waitForShell());
        emit(buf);
    }
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    std::wstring mutableCmd = wide(cmdLine);
    if (!CreateProcessW(program.c_str(), mutableCmd.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        wideCwd.empty() ? nullptr : wideCwd.c_str(), &si, &pi)) {
        std::snprintf(buf, sizeof buf, "{\"event\":\"start-failed\",\"error\":%lu}", GetLastError());
        emit(buf);
        std::fclose(Output);
        return 10;
    }
    std::snprintf(buf, sizeof buf, "{\"event\":\"started\",\"pid\":%lu}", pi.dwProcessId);
    emit(buf);

    const DWORD start = GetTickCount();
    const DWORD limit = DWORD(timeoutSeconds * 1000);
    size_t nextAnswer = 0;
    int boxCount = 0;
    bool unexpected = false;
    std::vector<HWND> handled;  // boxes already recorded and still on screen
    bool ended = false;
    DWORD exitCode = 0;

    while (!ended) {
        if (GetTickCount() - start > limit) {
            std::snprintf(buf, sizeof buf, "{\"event\":\"timeout\",\"seconds\":%.1f,\"boxes\":%d}", timeoutSeconds,
                          boxCount);
            emit(buf);
            TerminateProcess(pi.hProcess, 259);
            WaitForSingleObject(pi.hProcess, 5000);
            std::fclose(Output);
            return 5;
        }
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
                buttonTexts += "\"" + hex(labelUtf8(item)) + "\"";
            }
            const int index = boxCount++;
            std::string answer;
            bool scripted = nextAnswer < answers.size();
            if (scripted) answer = answers[nextAnswer++];

            if (!snapDir.empty()) {
                std::string base = snapDir + "\\box-" + std::to_string(index);
                touch(base + ".req");
                for (int wait = 0; wait < 300 && !fileExists(base + ".done"); ++wait) Sleep(50);
            }

            int pressId = 0;
            const char* outcome = "pressed";
            if (!scripted) {
                // Not in the script: close it the least harmful way so the
                // run can end, and report it.
                unexpected = true;
                outcome = "unexpected";
                for (int id : {IDNO, IDCANCEL, IDOK})
                    if (!pressId && GetDlgItem(box, id)) pressId = id;
            } else if (answer == "leave") {
                outcome = "left";
            } else {
                for (auto& b : Buttons)
                    if (answer == b.name) pressId = b.id;
                HWND item = GetDlgItem(box, pressId);
                if (!item || !IsWindowVisible(item)) {
                    unexpected = true;
                    outcome = "no-such-button";
                    pressId = 0;
                    for (int id : {IDNO, IDCANCEL, IDOK})
                        if (!pressId && GetDlgItem(box, id)) pressId = id;
                }
            }
            std::string rec =
                "{\"event\":\"box\",\"index\":" + std::to_string(index) + ",\"owner_pid\":" + std::to_string(ownerPid) +
                ",\"owner_is_program\":" + (ownerPid == pi.dwProcessId ? "true" : "false") + ",\"caption_hex\":\"" +
                hex(caption) + "\",\"text_hex\":\"" + hex(text) + "\",\"caption_utf8_hex\":\"" + hex(unicodeText(box)) +
                "\",\"text_utf8_hex\":\"" + hex(unicodeText(GetDlgItem(box, 0xFFFF))) + "\",\"buttons\":[" + buttons +
                "],\"button_labels_utf8_hex\":[" + buttonTexts +
                "],\"style\":" + std::to_string(GetWindowLongA(box, GWL_STYLE)) +
                ",\"exstyle\":" + std::to_string(GetWindowLongA(box, GWL_EXSTYLE)) + ",\"answer\":\"" +
                (scripted ? answer : std::string()) + "\",\"outcome\":\"" + outcome +
                "\",\"ms\":" + std::to_string(GetTickCount() - start) + "}";
            emit(rec);
            if (pressId) SendMessageA(GetDlgItem(box, pressId), BM_CLICK, 0, 0);
        }

        if (WaitForSingleObject(pi.hProcess, 30) == WAIT_OBJECT_0) {
            GetExitCodeProcess(pi.hProcess, &exitCode);
            ended = true;
        }
    }
    std::snprintf(buf, sizeof buf, "{\"event\":\"exit\",\"code\":%lu,\"boxes\":%d,\"unused_answers\":%d,\"ms\":%lu}",
                  exitCode, boxCount, int(answers.size() - nextAnswer), GetTickCount() - start);
    emit(buf);
    std::fclose(Output);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    if (unexpected) return 4;
    if (nextAnswer < answers.size()) return 3;
    return 0;
}
