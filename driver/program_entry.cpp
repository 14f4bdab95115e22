#include "driver/program_entry.h"

#include <new>
#include <optional>
#include <string>
#include <vector>

#include "driver/app_instance.h"
#include "driver/process_state.h"
#include "driver/update_package.h"
#include "driver/update_sequence.h"
#include "environment/process_environment.h"
#include "messages/messages.h"
#include "messages/support_log.h"
#include "platform/system_library.h"
#include "platform/win32.h"
#include "runtime/command_line.h"
#include "runtime/exception.h"

// A release build names its version (cmake -DLEXOMIR_PACKAGE_VERSION=N).
#ifndef LEXOMIR_PACKAGE_VERSION
#define LEXOMIR_PACKAGE_VERSION 1001
#endif

namespace {

// The last word on an error no stage expected: name it and end the run.
// Memory may have run out: the box needs none, and only its lines in the
// support log, which do, may fail.
void ShowApplicationError(const std::string& text) {
    constexpr UINT style = MB_OK | MB_ICONHAND | MB_TASKMODAL;
    std::optional<int> answer;
    if (BoxCanBeAnswered()) answer = MessageBoxA(nullptr, text.c_str(), "Application Error", style);
    try {
        SupportLog::Note("unexpected error: " + BoxText::SystemName(text));
        NoteBox(BoxText::SystemName(text), "Application Error", style, answer);
    } catch (...) {
        // The record then lacks these lines; the exit code still tells.
    }
}

std::string TwoDigits(int n) { return std::string(1, char('0' + n / 10 % 10)) + char('0' + n % 10); }

// The first lines of the support log: when, which package, what it was told.
void BeginSupportLog(const std::vector<std::string>& commandLine) {
    SYSTEMTIME t{};
    GetLocalTime(&t);
    SupportLog::Begin("Lexomir update, package version " + std::to_string(LEXOMIR_PACKAGE_VERSION) + ", " +
                      std::to_string(t.wYear) + "-" + TwoDigits(t.wMonth) + "-" + TwoDigits(t.wDay) + " " +
                      TwoDigits(t.wHour) + ":" + TwoDigits(t.wMinute) + ":" + TwoDigits(t.wSecond));
    BoxText words = "command line:";
    for (std::size_t i = 1; i <= 8 && i < commandLine.size() && !commandLine[i].empty(); ++i)
        words += " " + BoxText::SystemName(commandLine[i]);
    SupportLog::Note(words);
}

int RunAndReport() {
    try {
        // Split once, here: the support log's first lines and the start-up's
        // values both come from these words.
        const char* line = GetCommandLineA();
        const std::vector<std::string> commandLine = SplitCommandLine(line ? line : "");
        BeginSupportLog(commandLine);
        InitProcessEnvironment(commandLine);
        SupportLog::Note("Windows: " + BoxText::SystemName(OsDescriptionText));
        UpdatePackage = TUpdatePackage{};
        UpdatePackage.PackageTitle = "\"Тирвена\" версии ";
        UpdatePackage.DataName = "lxn";
        UpdatePackage.PackageVersion = LEXOMIR_PACKAGE_VERSION;
        return static_cast<int>(RunUpdateSequence());
    } catch (const Exception& e) {
        std::string text = e.ClassName();
        if (!e.Message().empty()) text += ": " + e.Message();
        ShowApplicationError(text);
    } catch (const std::bad_alloc&) {
        ShowApplicationError("Out of memory");
    } catch (...) {
        ShowApplicationError("Unexpected error");
    }
    // After the box: what the run closed is started again on this way out too.
    try {
        LeaveApp(false);
    } catch (...) {
        // Out of memory again: the exit code still tells.
    }
    return static_cast<int>(UpdateOutcome::UnexpectedError);
}

// Leaves the process as a new one starts, on every ending, the unexpected
// ones too: the registry accessor and the language file are closed.
struct ReleaseOnExit {
    ~ReleaseOnExit() {
        TProcessState ended;
        SwapProcessState(ended);
    }
};

}  // namespace

int RunInstaller() {
    // Before anything can load a library: the installer runs elevated, often
    // from a downloads folder where a planted DLL could wait.
    RestrictLibrarySearch();
    ReleaseOnExit release;
    const int code = RunAndReport();
    try {
        SupportLog::Write(code);
    } catch (...) {
        // A record that cannot be made changes nothing else.
    }
    // A changed file may be changed anywhere: in the code that releases
    // this run's state, in the image's exit-time destructors, in its TLS
    // callbacks. With the box shown and the record made, none of it runs.
    // ExitProcess would still call the image's TLS callbacks as the
    // process detaches; terminating it calls nothing of the image.
    if (code == int(UpdateOutcome::InstallerAltered)) TerminateProcess(GetCurrentProcess(), UINT(code));
    return code;
}
