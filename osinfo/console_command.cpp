#include "osinfo/console_command.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "platform/code_pages.h"
#include "platform/files.h"
#include "platform/owned_handle.h"
#include "platform/win32.h"
#include "runtime/random.h"
#include "runtime/text.h"

namespace {

// On Windows this record is the 32-bit one of 68 bytes.
static_assert(sizeof(void*) != 4 || sizeof(STARTUPINFOA) == 68, "STARTUPINFOA of a 32-bit process");

constexpr int NameLetters = 8;
// Twenty-six to the eighth names: a second clash means something other
// than chance is at work; stop trying instead of looping.
constexpr int NameAttempts = 16;
// A terminated process is gone only a moment later; until then it may
// still hold the capture file open.
constexpr DWORD TerminationWaitMs = 2000;

// The interpreter is the one in the system folder, never the program the
// ComSpec variable names: that variable is the user's to set, and this
// process runs elevated.
std::string SystemInterpreter() {
    std::vector<char> folder(MAX_PATH);
    UINT length = GetSystemDirectoryA(folder.data(), UINT(folder.size()));
    if (length >= folder.size()) {
        folder.resize(length);
        length = GetSystemDirectoryA(folder.data(), UINT(folder.size()));
        if (length >= folder.size()) return std::string();
    }
    if (length == 0) return std::string();
    return std::string(folder.data(), length) + "\\cmd.exe";
}

// Unquoted, CreateProcessA would take "C:\Program" out of a path with a
// blank and start C:\Program.exe if there is one.
std::string QuotedWhenBlank(const std::string& path) {
    if (path.find_first_of(" \t") == std::string::npos) return path;
    return "\"" + path + "\"";
}

// What the interpreter would expand ("%") or take as quoting, escaping or
// redirection on its command line, even inside quotes.
bool InterpreterWouldInterpret(const std::string& text) { return text.find_first_of("%\"&|<>^") != std::string::npos; }

// The system's own temporary folder, which the user's environment does not name.
std::optional<std::string> SystemTempFolder() {
    std::vector<char> folder(MAX_PATH);
    UINT length = GetWindowsDirectoryA(folder.data(), UINT(folder.size()));
    if (length >= folder.size()) {
        folder.resize(length);
        length = GetWindowsDirectoryA(folder.data(), UINT(folder.size()));
    }
    if (length == 0 || length >= folder.size()) return std::nullopt;
    std::string path(folder.data(), length);
    AddTrailingBackslash(path);
    path += "Temp\\";
    if (InterpreterWouldInterpret(path)) return std::nullopt;
    return path;
}

// The folder of the capture file: "Temp", unless its value would steer the
// interpreter; then the system's. Nothing when neither can be used.
std::optional<std::string> TempFolder() {
    std::string folder;
    DWORD size = GetEnvironmentVariableA("Temp", nullptr, 0);
    while (size > folder.size()) {
        folder.resize(size);
        size = GetEnvironmentVariableA("Temp", folder.data(), DWORD(folder.size()));
    }
    folder.resize(size);
    if (InterpreterWouldInterpret(folder)) return SystemTempFolder();
    AddTrailingBackslash(folder);
    return folder;
}

std::string DrawName() {
    std::string name;
    for (int i = 0; i < NameLetters; ++i) name += char('a' + RandomBelow(26));
    return name;
}

// Claims a fresh capture file: the name is drawn again while a file of that
// name exists, and creating it exclusively means the interpreter only ever
// overwrites a file this process made. Empty when no file could be made
// (no such folder, no rights): the command could not write there either.
std::string ClaimCaptureFile(const std::string& folder) {
    for (int attempt = 0; attempt < NameAttempts; ++attempt) {
        const std::string path = folder + DrawName();
        // Not through a link planted under the drawn name either.
        const TOwnedFile file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (file) return path;
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return std::string();
    }
    return std::string();
}

void RunHidden(std::string commandLine) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION started{};
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE,
                        CREATE_NEW_CONSOLE | CREATE_NEW_PROCESS_GROUP, nullptr, nullptr, &startup, &started))
        return;
    const TOwnedHandle process(started.hProcess), thread(started.hThread);
    // Nothing is on screen yet: a command that hangs must not hang the
    // installer with it.
    if (WaitForSingleObject(process.Get(), ConsoleCommandTimeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(process.Get(), 1);
        WaitForSingleObject(process.Get(), TerminationWaitMs);
    }
}

// The capture file lies in a folder the user can write to: by the time it
// is read it may have been exchanged for a link to some other file. It is
// opened without following a link, and read only when it is still a plain
// file with this one name.
std::string ReadWholeFile(const std::string& path) {
    std::string content;
    const TOwnedFile file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file || !IsSoleNamePlainFile(file.Get())) return content;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file.Get(), buffer, sizeof buffer, &read, nullptr) && read > 0) content.append(buffer, read);
    return content;
}

// Each line, ended by a line feed with or without a carriage return before
// it, or by the end of the file, is given back ended by "\r\n". The end of
// the file is tested after a line has been taken, so there is always at
// least one line, empty for an empty or unreadable file.
std::string AsCrLfLines(const std::string& content) {
    std::string lines;
    std::size_t start = 0;
    do {
        std::size_t end = content.find('\n', start);
        const std::size_t next = end == std::string::npos ? content.size() : end + 1;
        if (end == std::string::npos)
            end = content.size();
        else if (end > start && content[end - 1] == '\r')
            --end;
        lines.append(content, start, end - start);
        lines += "\r\n";
        start = next;
    } while (start < content.size());
    return lines;
}

std::string FromOemCodePage(const std::string& text) {
    // Bytes below 0x80 are the same in every OEM and ANSI code page.
    if (std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) return text;
    // Through Unicode, as user32's OemToCharA converts, but with kernel32
    // alone: a quiet run on a Russian Windows, whose "ver" prints Cyrillic,
    // then loads no GUI library either. Unconvertible text stays as it is.
    const std::optional<std::wstring> wide = ToUnicode(text, CP_OEMCP);
    const std::optional<std::string> converted = wide ? FromUnicode(*wide, CP_ACP) : std::nullopt;
    return converted ? *converted : text;
}

}  // namespace

std::string RunConsoleCommand(const std::string& command) {
    const std::string interpreter = SystemInterpreter();
    if (interpreter.empty()) return std::string();

    const std::optional<std::string> folder = TempFolder();
    const std::string capture = folder ? ClaimCaptureFile(*folder) : std::string();
    std::string content;
    if (!capture.empty()) {
        // /d: without the AutoRun commands the user may have set up, which
        // would run elevated before the command.
        RunHidden(QuotedWhenBlank(interpreter) + " /d /c " + command + " > \"" + capture + "\"");
        content = ReadWholeFile(capture);
        DeleteFileA(capture.c_str());
    }
    return FromOemCodePage(AsCrLfLines(content));
}
