#include "environment/process_environment.h"

#include "osinfo/os_description.h"
#include "runtime/command_line.h"
#include "runtime/text.h"

bool RussianUi = false;
bool Is64BitOs = false;
std::string FirstArgument;
bool QuietMode = false;
DWORD Win32Platform = 0;
std::unique_ptr<TRegistry> SharedRegistry;

namespace {

bool initialised = false;
std::uint32_t generator = 0;

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

void SeedRandom(std::uint32_t seed) { generator = seed; }
std::uint32_t RandomSeed() { return generator; }

std::uint32_t RandomBelow(std::uint32_t range) {
    generator = generator * 0x08088405u + 1u;
    return std::uint32_t((std::uint64_t(generator) * range) >> 32);
}

void InitProcessEnvironment() {
    if (initialised) return;
    initialised = true;

    LARGE_INTEGER count;
    if (QueryPerformanceCounter(&count))
        SeedRandom(count.LowPart);
    else
        SeedRandom(GetTickCount());

    RussianUi = IsRussianLocale(GetUserDefaultLCID());

    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    Win32Platform = GetVersionExA(&version) ? version.dwPlatformId : 0;

    // Only the flag is wanted: it picks the registry view of the run.
    OsDescription(false);

    SharedRegistry = std::make_unique<TRegistry>(Is64BitOs ? AllAccess64 : KEY_ALL_ACCESS);

    FirstArgument = LowerAscii(CommandLineArgument(1));
}

void ReleaseProcessEnvironment() {
    SharedRegistry.reset();
    RussianUi = false;
    Is64BitOs = false;
    FirstArgument.clear();
    QuietMode = false;
    Win32Platform = 0;
    initialised = false;
}
