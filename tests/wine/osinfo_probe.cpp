// Prints what the installer learns about the system at start-up, from the
// installer's own sources: the OS description in both forms, the 64-bit
// flag, the access mask of the shared registry accessor, and the raw
// output of "ver" as the console command capture returns it. One
// "key: value" line each; bytes outside printable ASCII are escaped.
#include <cstdio>
#include <string>

#include "environment/process_environment.h"
#include "osinfo/console_command.h"
#include "osinfo/os_description.h"
#include "platform/win32.h"
#include "runtime/command_line.h"

namespace {

std::string Escaped(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\\')
            out += "\\\\";
        else if (c < 0x20 || c >= 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += char(c);
        }
    }
    return out;
}

void Line(const char* key, const std::string& value) { std::printf("%s: %s\n", key, Escaped(value).c_str()); }

}  // namespace

int main() {
    InitProcessEnvironment(SplitCommandLine(GetCommandLineA()));
    const bool startupIs64 = Is64BitOs;
    char access[16];
    std::snprintf(access, sizeof access, "0x%lX", static_cast<unsigned long>(SharedRegistry->Access()));

    char comspec[MAX_PATH] = {};
    const DWORD comspecLength = GetEnvironmentVariableA("ComSpec", comspec, MAX_PATH);

    TMachineRegistryReader registry;
    Line("short", OsDescription(false, registry).Text);
    Line("long", OsDescription(true, registry).Text);
    Line("is64", startupIs64 ? "true" : "false");
    Line("shared_registry_access", access);
    Line("ver", RunConsoleCommand("ver"));
    Line("comspec", comspecLength < MAX_PATH ? std::string(comspec, comspecLength) : std::string());
    ReleaseProcessEnvironment();
    return 0;
}
