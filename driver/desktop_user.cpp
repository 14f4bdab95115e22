#include "driver/desktop_user.h"

#include <exception>
#include <memory>
#include <optional>

#include "messages/support_log.h"
#include "platform/code_pages.h"
#include "platform/owned_handle.h"
#include "platform/win32.h"

namespace {

enum class TElevation { Elevated, NotElevated, NoElevation, Unknown };

// Windows XP has no elevation and refuses the question with
// ERROR_INVALID_PARAMETER; any other failure leaves it open.
TElevation ElevationOf(HANDLE token) {
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    if (GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size))
        return elevation.TokenIsElevated ? TElevation::Elevated : TElevation::NotElevated;
    return GetLastError() == ERROR_INVALID_PARAMETER ? TElevation::NoElevation : TElevation::Unknown;
}

enum class TShellToken { Started, ShellElevated, Failed };

// The shell's desktop window belongs to the process the user logged on
// with: its token is theirs. Another user's shell does not let this process
// open it.
TShellToken StartWithShellToken(const std::string& program, const std::string& folder) {
    HWND shell = GetShellWindow();
    if (!shell) return TShellToken::Failed;
    DWORD shellProcessId = 0;
    if (!GetWindowThreadProcessId(shell, &shellProcessId) || !shellProcessId) return TShellToken::Failed;
    TOwnedHandle shellProcess(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, shellProcessId));
    if (!shellProcess) return TShellToken::Failed;
    TOwnedHandle shellToken;
    if (!OpenProcessToken(shellProcess.Get(), TOKEN_DUPLICATE | TOKEN_QUERY, shellToken.Receive()))
        return TShellToken::Failed;
    // A shell that runs elevated itself (UAC off) gives nothing better
    // than this process's own token.
    if (ElevationOf(shellToken.Get()) == TElevation::Elevated) return TShellToken::ShellElevated;

    TOwnedHandle primary;
    if (!DuplicateTokenEx(
            shellToken.Get(),
            TOKEN_QUERY | TOKEN_ASSIGN_PRIMARY | TOKEN_DUPLICATE | TOKEN_ADJUST_DEFAULT | TOKEN_ADJUST_SESSIONID,
            nullptr, SecurityImpersonation, TokenPrimary, primary.Receive()))
        return TShellToken::Failed;

    // The names are in the system's ANSI code page.
    const std::optional<std::wstring> wideProgram = ToUnicode(program, CP_ACP);
    if (!wideProgram) return TShellToken::Failed;
    const std::optional<std::wstring> wideFolder = ToUnicode(folder, CP_ACP);
    if (!wideFolder) return TShellToken::Failed;
    std::wstring commandLine = L"\"" + *wideProgram + L"\"";  // the program's name as its first argument, nothing else
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION started{};
    if (!CreateProcessWithTokenW(primary.Get(), 0, wideProgram->c_str(), commandLine.data(), 0, nullptr,
                                 wideFolder->empty() ? nullptr : wideFolder->c_str(), &startup, &started))
        return TShellToken::Failed;
    // The application runs on its own; nothing here waits on it.
    const TOwnedHandle process(started.hProcess), thread(started.hThread);
    return TShellToken::Started;
}

// COM on this thread for as long as it lives.
class TComApartment {
public:
    TComApartment() : ready_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {}
    ~TComApartment() {
        if (ready_) CoUninitialize();
    }
    TComApartment(const TComApartment&) = delete;
    TComApartment& operator=(const TComApartment&) = delete;
    bool Ready() const { return ready_; }

private:
    bool ready_;
};

template <typename Interface>
void** Out(TOwnedCom<Interface>& pointer) {
    return reinterpret_cast<void**>(pointer.Receive());
}

// A text for COM, or none.
TOwnedBstr ComText(const std::string& text) {
    const std::optional<std::wstring> wide = ToUnicode(text, CP_ACP);
    return TOwnedBstr(wide ? SysAllocString(wide->c_str()) : nullptr);
}

// The desktop shell starts the program itself, in its own process and with
// its own token: from the shell's windows to the desktop, its view, and the
// shell's application object. COM reaches the shell of the user at the
// desktop even where an administrator elevated this process for them.
bool StartThroughShell(const std::string& program, const std::string& folder) {
    const TComApartment apartment;
    if (!apartment.Ready()) return false;
    TOwnedCom<IShellWindows> windows;
    if (FAILED(CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows, Out(windows))))
        return false;
    VARIANT desktop{}, none{};
    V_VT(&desktop) = VT_I4;
    V_I4(&desktop) = CSIDL_DESKTOP;
    long handle = 0;
    TOwnedCom<IDispatch> found;
    // S_FALSE: no desktop among the shell's windows, and nothing found.
    if (windows.Get()->FindWindowSW(&desktop, &none, SWC_DESKTOP, &handle, SWFO_NEEDDISPATCH, found.Receive()) != S_OK)
        return false;
    TOwnedCom<IServiceProvider> services;
    TOwnedCom<IShellBrowser> browser;
    TOwnedCom<IShellView> view;
    TOwnedCom<IDispatch> background, application;
    TOwnedCom<IShellFolderViewDual> folderView;
    TOwnedCom<IShellDispatch2> shell;
    if (FAILED(found.Get()->QueryInterface(IID_IServiceProvider, Out(services))) ||
        FAILED(services.Get()->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, Out(browser))) ||
        FAILED(browser.Get()->QueryActiveShellView(view.Receive())) ||
        FAILED(view.Get()->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, Out(background))) ||
        FAILED(background.Get()->QueryInterface(IID_IShellFolderViewDual, Out(folderView))) ||
        FAILED(folderView.Get()->get_Application(application.Receive())) ||
        FAILED(application.Get()->QueryInterface(IID_IShellDispatch2, Out(shell))))
        return false;

    const TOwnedBstr file = ComText(program), directory = ComText(folder), open = ComText("open");
    if (!file || !directory || !open) return false;
    VARIANT where{}, verb{}, show{};
    V_VT(&where) = VT_BSTR;
    V_BSTR(&where) = directory.Get();
    V_VT(&verb) = VT_BSTR;
    V_BSTR(&verb) = open.Get();
    V_VT(&show) = VT_I4;
    V_I4(&show) = SW_SHOWNORMAL;
    return shell.Get()->ShellExecute(file.Get(), none, where, verb, show) == S_OK;
}

// The shell's automation objects live in its process, and a call to them
// waits for as long as the shell does not answer: a hung Explorer would
// hold this run, and the guard with it, for ever. The calls are made on a
// thread of their own, given this long; a thread still waiting then is
// left to it, and ends with the process.
constexpr DWORD ShellRouteMs = 10000;

struct TShellStart {
    std::string program, folder;
    bool started = false;
};

DWORD WINAPI ShellStartThread(LPVOID parameter) {
    // The thread holds its own share of the job: it may outlive the wait.
    const std::unique_ptr<std::shared_ptr<TShellStart>> job(static_cast<std::shared_ptr<TShellStart>*>(parameter));
    try {
        (*job)->started = StartThroughShell((*job)->program, (*job)->folder);
    } catch (const std::exception&) {
        // Nothing started; the waiting thread sees it so.
    }
    return 0;
}

bool StartThroughShellWithin(const std::string& program, const std::string& folder) {
    const auto job = std::make_shared<TShellStart>(TShellStart{program, folder});
    auto share = std::make_unique<std::shared_ptr<TShellStart>>(job);
    const TOwnedHandle thread(CreateThread(nullptr, 0, ShellStartThread, share.get(), 0, nullptr));
    if (!thread) {
        SupportLog::Note("application start: no thread for the desktop shell, " +
                         SupportLog::ErrorText(GetLastError()));
        return false;
    }
    share.release();  // the thread's now
    switch (WaitForSingleObject(thread.Get(), ShellRouteMs)) {
        case WAIT_OBJECT_0:
            return job->started;
        case WAIT_TIMEOUT:
            SupportLog::Note("application start: the desktop shell did not answer within 10 s");
            return false;
        default:
            SupportLog::Note("application start: the wait for the desktop shell failed, " +
                             SupportLog::ErrorText(GetLastError()));
            return false;
    }
}

}  // namespace

TDesktopStart StartAsDesktopUser(const std::string& program, const std::string& folder) {
    TElevation own = TElevation::Unknown;
    {
        TOwnedHandle token;
        if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Receive())) own = ElevationOf(token.Get());
    }
    // What cannot be told is taken as elevated: nothing is started the
    // plain way that could run with an administrator's token.
    if (own == TElevation::NotElevated || own == TElevation::NoElevation) return TDesktopStart::AsThisUser;
    switch (StartWithShellToken(program, folder)) {
        case TShellToken::Started:
            return TDesktopStart::Started;
        case TShellToken::ShellElevated:
            return TDesktopStart::AsThisUser;
        case TShellToken::Failed:
            break;
    }
    return StartThroughShellWithin(program, folder) ? TDesktopStart::Started : TDesktopStart::NotStarted;
}
