// The "ver" output tables on whatever the command interpreter printed: the
// positions and slices must stay inside the text, whatever it holds.
#include <cstddef>
#include <cstdint>
#include <string>

#include "environment/process_environment.h"
#include "osinfo/os_description.h"
#include "tests/sim/machine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    Sim::Reset();
    Sim::Machine& m = Sim::pc();
    // The first byte picks a system whose name comes from "ver": 6.2 (8 and
    // later) or a major without a row of its own, workstation or server.
    const std::uint8_t pick = data[0];
    m.version.dwMajorVersion = (pick & 1) ? 6 : 11;
    m.version.dwMinorVersion = (pick & 1) ? 2 : 0;
    m.version.wProductType = (pick & 2) ? 1 : 3;
    m.AddInterpreter().commands["ver"].output.assign(reinterpret_cast<const char*>(data + 1), size - 1);
    WindowsNameParts parts;
    TMachineRegistryReader registry;
    if (!GetWindowsNameParts(parts, registry, VersionTextUse::Shown)) __builtin_trap();
    if (parts.name.rfind("Microsoft Windows ", 0) != 0) __builtin_trap();
    return 0;
}
