#include "osinfo/os_description.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <optional>

#include "osinfo/console_command.h"
#include "platform/system_library.h"
#include "platform/win32.h"
#include "runtime/text.h"

namespace {

static_assert(sizeof(OSVERSIONINFOEXA) == 156 && sizeof(OSVERSIONINFOA) == 148, "version records");

struct Facts {
    DWORD major = 0, minor = 0, build = 0, build16 = 0, platform = 0;
    std::string csd;
    char csd2 = 0;  // second character of the CSD text: 9x releases mark themselves there
    WORD suite = 0;
    BYTE type = 0;
    bool extended = false;
    WORD arch = 0;
};

// Text up to its first NUL, within the given bytes.
std::string TextUpToNul(const char* data, std::size_t size) {
    return std::string(data, std::find(data, data + size, '\0'));
}

// "major.minor.build" with each number as a signed 32-bit value, as the
// description has always read: a field above 2^31 - 1 shows as negative.
std::string Format3(DWORD a, DWORD b, DWORD c) {
    return std::to_string(static_cast<std::int32_t>(a)) + "." + std::to_string(static_cast<std::int32_t>(b)) + "." +
           std::to_string(static_cast<std::int32_t>(c));
}

bool Metric(int index) { return GetSystemMetrics(index) != 0; }
bool Has(const Facts& f, WORD bit) { return (f.suite & bit) != 0; }

std::optional<Facts> ReadFacts() {
    Facts f;
    OSVERSIONINFOEXA version{};
    version.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXA);
    f.extended = GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&version)) != FALSE;
    if (!f.extended) {
        // Systems before NT 4.0 SP6 know only the plain record.
        version = OSVERSIONINFOEXA{};
        version.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
        if (!GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&version))) return std::nullopt;
    }
    f.major = version.dwMajorVersion;
    f.minor = version.dwMinorVersion;
    f.build = version.dwBuildNumber;
    f.build16 = version.dwBuildNumber & 0xFFFF;
    f.platform = version.dwPlatformId;
    f.csd = TextUpToNul(version.szCSDVersion, sizeof version.szCSDVersion);
    f.csd2 = version.szCSDVersion[1];
    if (f.extended) {
        f.suite = version.wSuiteMask;
        f.type = version.wProductType;
    }

    // A 32-bit process on 64-bit Windows sees x86 from GetSystemInfo; only
    // GetNativeSystemInfo, missing before XP, tells the real architecture.
    SYSTEM_INFO info{};
    decltype(&GetNativeSystemInfo) native = nullptr;
    if (HMODULE kernel = GetModuleHandleA("kernel32.dll"))
        native = LookupFunction<decltype(&GetNativeSystemInfo)>(kernel, "GetNativeSystemInfo");
    if (native)
        native(&info);
    else
        GetSystemInfo(&info);
    f.arch = info.wProcessorArchitecture;
    return f;
}

std::string Windows9xWord(const Facts& f) {
    if (f.major != 4) return "Unknown 9x";
    if (f.minor == 0 || f.minor == 3) {
        if (f.build16 == 1111) return "95 OSR 2.0";
        if (f.build16 == 1212 || f.build16 == 1213) return "95 OSR 2.1";
        if (f.build16 == 1214 && f.csd2 == 'C') return "95 OSR 2.5";
        if (f.build16 == 1214) return "95 OSR 2.1";
        if (f.build16 > 1080) return "95 OSR 2.x";
        if (f.csd2 == 'A' || f.csd2 == 'W') return "95 OSR 1";
        return "95";
    }
    if (f.minor == 10) return f.build == 2222 || f.csd2 == 'A' || f.csd2 == 'B' ? "98 SE" : "98";
    if (f.minor == 90) return "Millennium";
    return "Unknown 9x";
}

// The NT version word; nullopt where the output of "ver" decides it.
std::optional<std::string> NtVersionWord(const Facts& f) {
    const bool workstation = f.type == VER_NT_WORKSTATION;
    switch (f.major) {
        case 3:
        case 4:
            return "NT ";
        case 5:
            if (f.minor == 0) return "2000 ";
            if (f.minor == 1) return "XP ";
            if (f.minor == 2) {
                if (Metric(SM_SERVERR2)) return "Server 2003 R2 ";
                if (f.suite == VER_SUITE_STORAGE_SERVER) return "Storage Server 2003 ";
                if (workstation && f.arch == PROCESSOR_ARCHITECTURE_AMD64) return "XP ";
                return "Server 2003 ";
            }
            return "Unknown version ";
        case 6:
            if (f.minor == 0) return workstation ? "Vista " : "Server 2008 ";
            if (f.minor == 1) return workstation ? "7 " : "Server 2008 R2 ";
            if (f.minor == 2) return std::nullopt;
            if (f.minor == 3) return workstation ? "8.1 " : "Server 2012 R2 ";
            return "";
        case 10:
            if (f.minor == 0) return workstation ? "10 " : "Server 2016 ";
            return "";
        default:
            return std::nullopt;
    }
}

// Positions count from 1; 0 when the text is absent.
std::size_t Position(const std::string& text, const char* part) {
    const std::size_t at = text.find(part);
    return at == std::string::npos ? 0 : at + 1;
}

// The characters from position `start` up to position `end`, not included.
std::string Slice(const std::string& text, std::size_t start, std::size_t end) {
    if (end <= start || start > text.size()) return std::string();
    return text.substr(start - 1, end - start);
}

// Windows 8.1 and later report 6.2 to a program that declares no supported
// systems; what "ver" prints tells them apart. `onlyLastRow` is for majors
// that have no row of their own.
void ApplyVerOutput(const std::string& v, const Facts& f, bool onlyLastRow, WindowsNameParts& parts) {
    const bool workstation = f.type == VER_NT_WORKSTATION;
    struct Row {
        const char* marker;
        const char* workstation;
        const char* server;
    };
    static constexpr Row Rows[] = {
        {" 6.2", "8 ", "Server 2012 "},
        {" 6.3", "8.1 ", "Server 2012 R2 "},
        {" 10", "10 ", "Server 10 "},
    };
    if (!onlyLastRow) {
        for (const Row& row : Rows) {
            const std::size_t start = Position(v, row.marker);
            if (start == 0) continue;
            parts.name += workstation ? row.workstation : row.server;
            parts.versionText = Slice(v, start, Position(v, "]"));
            return;
        }
    }
    const std::size_t start = Position(v, "ion") + 4;
    if (!workstation) parts.name += "Server ";
    parts.name += Slice(v, start, Position(v, ".")) + " ";
    parts.versionText = Slice(v, start, Position(v, "]"));
}

// ProductName replaces the whole name when it can be read. The read asks
// for the 64-bit view, as the value lives there on 64-bit Windows; a value
// that is not text counts as absent.
std::optional<std::string> ReadProductName(TMachineRegistry& registry) {
    return registry.ReadText("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", "ProductName",
                             KEY_ALL_ACCESS | KEY_WOW64_64KEY);
}

std::string BitnessSuffix(WORD arch) {
    if (arch == PROCESSOR_ARCHITECTURE_AMD64) return " 64-bit";
    if (arch == PROCESSOR_ARCHITECTURE_INTEL) return " 32-bit";
    return "";
}

std::string NtEditionWord(const Facts& f) {
    if (f.type == VER_NT_WORKSTATION) {
        if (f.major == 4) return "Workstation";
        if (f.major != 5) return "Unknown Workstation";
        if (f.minor == 2 && f.arch == PROCESSOR_ARCHITECTURE_AMD64) return "Professional x64";
        if (Metric(SM_STARTER)) return "Starter";
        if (Metric(SM_MEDIACENTER)) return "Media Center";
        if (Metric(SM_TABLETPC)) return "Tablet PC";
        if (Has(f, VER_SUITE_PERSONAL)) return "Home";
        if (Has(f, VER_SUITE_EMBEDDEDNT)) return "Embedded";
        return "Professional";
    }
    if (f.type != VER_NT_SERVER && f.type != VER_NT_DOMAIN_CONTROLLER) return "Unknown";
    if (f.major == 4) return Has(f, VER_SUITE_ENTERPRISE) ? "Server 4.0 Enterprise" : "Server 4.0";
    if (f.major == 5 && f.minor == 0) {
        if (Has(f, VER_SUITE_DATACENTER)) return "Datacenter Server";
        if (Has(f, VER_SUITE_ENTERPRISE)) return "Advanced Server";
        return "Server";
    }
    if (f.major == 5 && f.minor == 2) {
        switch (f.arch) {
            case PROCESSOR_ARCHITECTURE_INTEL:
                if (Has(f, VER_SUITE_COMPUTE_SERVER)) return "Computer Cluster";
                if (Has(f, VER_SUITE_DATACENTER)) return "Datacenter";
                if (Has(f, VER_SUITE_ENTERPRISE)) return "Enterprise";
                if (f.suite == VER_SUITE_BLADE) return "Web";
                return "Standard";
            case PROCESSOR_ARCHITECTURE_IA64:
                if (Has(f, VER_SUITE_DATACENTER)) return "Datacenter for Itanium-based Systems";
                if (Has(f, VER_SUITE_ENTERPRISE)) return "Enterprise for Itanium-based Systems";
                return "Standard Itanium-based";
            case PROCESSOR_ARCHITECTURE_AMD64:
                if (Has(f, VER_SUITE_DATACENTER)) return "Datacenter x64";
                if (Has(f, VER_SUITE_ENTERPRISE)) return "Enterprise x64";
                return "Standard x64";
            default:
                return "Unknown on Architecture 0x" + HexUpper(f.arch);
        }
    }
    return f.type == VER_NT_SERVER ? "Unknown Server" : "Unknown Domain controller";
}

// Systems that fill only the plain record name their edition in the
// registry instead.
std::string ProductOptionsWord(TMachineRegistry& registry) {
    // One read into 256 bytes, REG_SZ only: a longer value or another type
    // names no edition, and adds nothing.
    DWORD type = 0;
    std::string stored;
    if (!registry.ReadBytes("SYSTEM\\CurrentControlSet\\Control\\ProductOptions", "ProductType", KEY_QUERY_VALUE, 256,
                            type, stored) ||
        type != REG_SZ)
        return "";
    const std::string text = UpperAscii(TextUpToNul(stored.data(), stored.size()));
    if (text == "WINNT") return "Workstation";
    if (text == "LANMANNT") return "Server";
    if (text == "SERVERNT") return "Advanced Server";
    return "Unknown";
}

std::string ServicePackText(const Facts& f, TMachineRegistry& registry) {
    if (f.major != 4 || f.csd != "Service Pack 6") return f.csd;
    // NT 4.0 SP6a is SP6 with this hotfix, and reports itself as SP6.
    if (!registry.KeyOpens("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Hotfix\\Q246009", KEY_QUERY_VALUE))
        return f.csd;
    return "Service Pack 6a";
}

}  // namespace

bool GetWindowsNameParts(WindowsNameParts& parts, TMachineRegistry& registry, VersionTextUse use) {
    parts = WindowsNameParts{};
    const std::optional<Facts> facts = ReadFacts();
    if (!facts) return false;
    const Facts& f = *facts;
    parts.name = "Microsoft Windows ";

    if (f.platform == VER_PLATFORM_WIN32_WINDOWS) {
        parts.name += Windows9xWord(f);
        parts.versionText = Format3(f.major, f.minor & 0xFF, f.build16);
        parts.servicePack = f.csd;
        return true;
    }
    if (f.platform != VER_PLATFORM_WIN32_NT) return false;

    // On 6.x a readable ProductName replaces the whole name, the word from
    // "ver" included: read it first, so that "ver" need not run when its
    // version text is not shown either.
    const bool productNamed = f.extended && f.major == 6;
    const std::optional<std::string> productName = productNamed ? ReadProductName(registry) : std::nullopt;

    if (const std::optional<std::string> word = NtVersionWord(f)) {
        parts.name += *word;
    } else if (!(productName && use == VersionTextUse::Unused)) {
        ApplyVerOutput(RunConsoleCommand("ver"), f, f.major != 6, parts);
    }

    if (productNamed) {
        if (productName) parts.name = *productName;
        parts.name += BitnessSuffix(f.arch);
    } else if (f.extended) {
        parts.name += NtEditionWord(f);
    } else {
        parts.name += ProductOptionsWord(registry);
    }

    parts.servicePack = ServicePackText(f, registry);
    if (parts.versionText.empty()) parts.versionText = Format3(f.major, f.minor, f.build16);
    return true;
}

std::string JoinDescription(const WindowsNameParts& parts, bool includeVersion) {
    std::string text = parts.name;
    if (includeVersion && !IsBlank(parts.versionText)) text += " " + parts.versionText;
    if (!IsBlank(parts.servicePack)) text += " " + parts.servicePack;
    return text;
}

TOsDescription OsDescription(bool includeVersion, TMachineRegistry& registry) {
    WindowsNameParts parts;
    if (!GetWindowsNameParts(parts, registry, includeVersion ? VersionTextUse::Shown : VersionTextUse::Unused))
        return {"unknown", false};
    const std::string text = JoinDescription(parts, includeVersion);
    return {text, text.find(" 64") != std::string::npos};
}
