#include "environment/install_target.h"

#include <algorithm>

#include "environment/process_environment.h"
#include "messages/messages.h"
#include "messages/support_log.h"
#include "platform/admin_rights.h"
#include "runtime/exception.h"
#include "runtime/text.h"

namespace {

const std::string CurrentVersion = "Software\\Microsoft\\Windows\\CurrentVersion\\";
const std::string ShellFolders = CurrentVersion + "Explorer\\Shell Folders";

// A value that is absent reads as empty; one of the wrong type raises.
std::string ReadIfPresent(TRegistry& registry, const std::string& name) {
    return registry.HasValue(name) ? registry.ReadText(name) : std::string();
}

// %NAME% references expanded; the text as it is when that fails.
std::string Expanded(const std::string& text) {
    std::string out(MAX_PATH, '\0');
    DWORD needed = ExpandEnvironmentStringsA(text.c_str(), out.data(), DWORD(out.size()));
    if (needed > out.size()) {
        out.assign(needed, '\0');
        needed = ExpandEnvironmentStringsA(text.c_str(), out.data(), DWORD(out.size()));
    }
    if (needed == 0 || needed > out.size()) return text;
    out.resize(needed - 1);
    return out;
}

// This 32-bit process sees %ProgramFiles% and %CommonProgramFiles% as the
// "(x86)" folders. An entry of the 64-bit view was written by a 64-bit
// installer, for which they are the 64-bit ones. Those, and their 64-bit
// twins, are taken from the 64-bit view of the registry (`registry`), not
// from the environment: an elevated process inherits that from the user,
// who may set any of them (HKCU\Environment). Names are found the way the
// expansion finds them, without regard to case; the rest of the text is
// expanded as usual, and the registry's folders are put in as they are.
// Without such a folder there, the text names none.
std::string ExpandAs64BitProgram(TRegistry& registry, const std::string& text) {
    static constexpr struct {
        const char* name;
        const char* value;
    } Folders[] = {{"programfiles", "ProgramFilesDir"},
                   {"programw6432", "ProgramFilesDir"},
                   {"commonprogramfiles", "CommonFilesDir"},
                   {"commonprogramw6432", "CommonFilesDir"}};
    std::string out, pending;
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t open = text.find('%', i);
        const std::size_t close = open == std::string::npos ? open : text.find('%', open + 1);
        if (close == std::string::npos) break;
        pending += text.substr(i, open - i);
        const std::string name = LowerAscii(text.substr(open + 1, close - open - 1));
        const char* value = nullptr;
        for (const auto& f : Folders)
            if (name == f.name) value = f.value;
        if (value) {
            registry.SelectRoot(HKEY_LOCAL_MACHINE);
            ClosePathOnExit closeKey(registry);
            registry.OpenPath(CurrentVersion, false);
            const std::string folder = ReadIfPresent(registry, value);
            if (folder.empty()) return std::string();  // no folder to go by
            out += Expanded(pending) + folder;
            pending.clear();
            i = close + 1;
        } else {
            pending += '%';  // the second % may open a name
            i = open + 1;
        }
    }
    return out + Expanded(pending + text.substr(std::min(i, text.size())));
}

// WOW64 turns this process's System32 into SysWOW64: a folder there, named
// by an entry of the 64-bit view, is one this process cannot reach by its
// name. It is refused as no folder, rather than reached through Sysnative,
// which only some systems have and which lists as nothing: an application
// does not live in the system folder, and an elevated run writes nowhere
// there on the word of a registry value.
bool InSystemFolder(const std::string& folder) {
    std::string system(MAX_PATH, '\0');
    const UINT length = GetSystemDirectoryA(system.data(), UINT(system.size()));
    if (length == 0 || length >= system.size()) return false;
    system.resize(length);
    AddTrailingBackslash(system);
    return LowerAscii(folder.substr(0, system.size())) == LowerAscii(system);
}

// Opens an entry and takes the folder of its UninstallString. True when the
// value exists, whether or not it names a folder. Installers often store it
// as REG_EXPAND_SZ ("%ProgramFiles%\..."): such a value is expanded first,
// as the program that wrote it would expand it (`native`: an entry of the
// 64-bit view); a REG_SZ value is taken as stored. A 64-bit entry's folder
// in the system folder counts as none.
bool ReadUninstallFolder(TRegistry& registry, const std::string& entry, bool native, std::string& folder) {
    DWORD type = REG_NONE;
    std::string value;
    {
        registry.SelectRoot(HKEY_LOCAL_MACHINE);
        ClosePathOnExit close(registry);
        registry.OpenPath(entry, false);
        if (!registry.HasValue("UninstallString")) return false;
        value = registry.ReadText("UninstallString", &type);
    }
    if (type == REG_EXPAND_SZ) value = native ? ExpandAs64BitProgram(registry, value) : Expanded(value);
    const std::optional<std::string> f = UninstallStringFolder(value);
    if (f && native && InSystemFolder(*f))
        SupportLog::Note("discovery: " + BoxText::SystemName(entry) +
                         " names a folder in System32, which WOW64 "
                         "shows this 32-bit process as SysWOW64: refused");
    else if (f)
        folder = *f;
    return true;
}

}  // namespace

std::optional<std::string> UninstallStringFolder(const std::string& value) {
    std::string path = value;
    if (!path.empty() && path[0] == '"') {
        // "C:\Program Files\Lexomir\unins000.exe" /x: the quoted program's folder.
        const std::size_t close = path.find('"', 1);
        path = path.substr(1, close == std::string::npos ? std::string::npos : close - 1);
    }
    if (path.size() < 2) return std::nullopt;
    const std::size_t cut = path.rfind('\\', path.size() - 2);
    if (cut == std::string::npos) return std::nullopt;
    return path.substr(0, cut + 1);
}

bool DiscoverInstallTarget(const std::string& appName) {
    TRegistry& registry = *SharedRegistry;
    TInstallEnvironment& env = InstallEnvironment;

    std::string programFiles;
    {
        registry.SelectRoot(HKEY_LOCAL_MACHINE);
        ClosePathOnExit close(registry);
        registry.OpenPath(CurrentVersion, false);
        programFiles = ReadIfPresent(registry, "ProgramFilesDir");
        AddTrailingBackslash(programFiles);
    }

    env.UserIsAdmin = UserIsAdministrator();

    // The shell folders are read, not used: a value of the wrong type under
    // HKLM ends the run as an unexpected error, under HKCU as a registry message.
    {
        registry.SelectRoot(HKEY_LOCAL_MACHINE);
        ClosePathOnExit close(registry);
        registry.OpenPath(ShellFolders, false);
        ReadIfPresent(registry, "Common Desktop");
        if (Win32Platform == VER_PLATFORM_WIN32_NT) ReadIfPresent(registry, "Common Programs");
    }
    try {
        registry.SelectRoot(HKEY_CURRENT_USER);
        ClosePathOnExit close(registry);
        registry.OpenPath(ShellFolders, false);
        ReadIfPresent(registry, "Programs");
        ReadIfPresent(registry, "Desktop");
        ReadIfPresent(registry, "Startup");
    } catch (const Exception&) {
        ShowError("No access to system registry", "Нет доступа к системному реестру");
        return false;
    }

    env.UninstallKeyPath = CurrentVersion + "Uninstall\\";
    env.AppFolder = programFiles + appName;
    env.UninstallEntryPath = env.UninstallKeyPath + appName;

    const bool nativeView = (registry.Access() & KEY_WOW64_64KEY) != 0;
    if (!ReadUninstallFolder(registry, env.UninstallEntryPath, nativeView, env.AppFolder)) {
        const std::size_t firstBackslash = env.UninstallKeyPath.find('\\');
        const std::string wowEntry = env.UninstallKeyPath.substr(0, firstBackslash + 1) + "WOW6432Node\\" +
                                     env.UninstallKeyPath.substr(firstBackslash + 1) + appName;
        if (ReadUninstallFolder(registry, wowEntry, false, env.AppFolder)) env.UninstallEntryPath = wowEntry;
    }

    AddTrailingBackslash(env.AppFolder);
    return true;
}
