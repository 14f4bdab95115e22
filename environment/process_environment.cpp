#include "environment/process_environment.h"

#include "runtime/exception.h"
#include "runtime/random.h"
#include "runtime/text.h"

namespace {

// The user default locales whose users read Russian: the whole identifier
// counts, so another sublanguage or sort order of these languages does not.
constexpr LCID RussianLocales[] = {0x0402, 0x0419, 0x0422, 0x0423, 0x043F, 0x0444, 0x0819};

constexpr REGSAM AllAccess64 = KEY_ALL_ACCESS | KEY_WOW64_64KEY;

}  // namespace

bool IsRussianLocale(LCID locale) {
    for (LCID l : RussianLocales)
        if (l == locale) return true;
    return false;
}

bool TMachineRegistryReader::KeyOpens(const std::string& path, REGSAM access) {
    TRegistry registry(access);
    registry.SelectRoot(HKEY_LOCAL_MACHINE);
    return registry.OpenPath(path, false);
}

std::optional<std::string> TMachineRegistryReader::ReadText(const std::string& path, const std::string& name,
                                                            REGSAM access) {
    TRegistry registry(access);
    registry.SelectRoot(HKEY_LOCAL_MACHINE);
    if (!registry.OpenPath(path, false)) return std::nullopt;
    ClosePathOnExit close(registry);
    if (!registry.HasValue(name)) return std::nullopt;
    try {
        return registry.ReadText(name);
    } catch (const ERegistryException&) {
        return std::nullopt;
    }
}

bool TMachineRegistryReader::ReadBytes(const std::string& path, const std::string& name, REGSAM access, DWORD limit,
                                       DWORD& type, std::string& bytes) {
    TRegistry registry(access);
    registry.SelectRoot(HKEY_LOCAL_MACHINE);
    return registry.OpenPath(path, false) && registry.ReadBytes(name, limit, type, bytes);
}

void InitProcessEnvironment(const std::vector<std::string>& commandLine) {
    if (SharedRegistry) return;  // made last: there, it says the start-up has run

    LARGE_INTEGER count;
    if (QueryPerformanceCounter(&count))
        SeedRandom(count.LowPart);
    else
        SeedRandom(GetTickCount());

    RussianUi = IsRussianLocale(GetUserDefaultLCID());

    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    Win32Platform = GetVersionExA(&version) ? version.dwPlatformId : 0;

    // The flag picks the registry view of the run; the text goes into the
    // support log.
    TMachineRegistryReader registry;
    const TOsDescription os = OsDescription(false, registry);
    Is64BitOs = os.Is64Bit;
    OsDescriptionText = os.Text;

    auto word = [&](std::size_t index) { return index < commandLine.size() ? commandLine[index] : std::string(); };
    FirstArgument = LowerAscii(word(1));
    SecondArgument = LowerAscii(word(2));
    SharedRegistry = std::make_unique<TRegistry>(Is64BitOs ? AllAccess64 : KEY_ALL_ACCESS);
}

void ReleaseProcessEnvironment() {
    SharedRegistry.reset();
    RussianUi = false;
    Is64BitOs = false;
    FirstArgument.clear();
    SecondArgument.clear();
    Win32Platform = 0;
    OsDescriptionText.clear();
}
