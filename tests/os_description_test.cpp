// Covers: osinfo/os_description.cpp, environment/process_environment.cpp.
// The OS description over the decision tables: each case is a simulated
// system (version record, architecture, metrics, registry, what "ver"
// prints) with the short and the long description it must get, and the
// 64-bit flag that follows from the short one.
#include "osinfo/os_description.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "environment/process_environment.h"
#include "runtime/random.h"
#include "tests/demo_pc.h"

namespace {

const std::string NtCurrentVersion = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
const std::string NtCurrentVersion32 = "SOFTWARE\\Wow6432Node\\Microsoft\\Windows NT\\CurrentVersion";
const std::string ProductOptions = "SYSTEM\\CurrentControlSet\\Control\\ProductOptions";
const std::string Hotfix = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Hotfix\\Q246009";
const char* const Ver10 = "\r\nMicrosoft Windows [Version 10.0.19045.3693]\r\n";
constexpr DWORD Nt = VER_PLATFORM_WIN32_NT;
constexpr DWORD k9x = VER_PLATFORM_WIN32_WINDOWS;

enum class Name { Absent, Text, Dword, Only32BitView };
enum class Options { Absent, Text, ExpandText, Dword };

// 256 letters: with its NUL, one byte more than the edition's buffer.
const std::string LongProductTypeText(256, 'W');
const char* const LongProductType = LongProductTypeText.c_str();

struct OsCase {
    const char* what;
    DWORD major, minor, build;
    DWORD platform = Nt;
    const char* csd = "";
    WORD suite = 0;
    BYTE type = VER_NT_WORKSTATION;
    bool extended = true;                      // the system fills OSVERSIONINFOEXA
    WORD arch = PROCESSOR_ARCHITECTURE_INTEL;  // anything else: a WOW64 process on that architecture
    bool nativeInfo = true;                    // kernel32 exports GetNativeSystemInfo
    std::vector<int> metrics = {};             // the SM_ values that are set
    Name productName = Name::Absent;
    const char* productNameText = "";
    const char* ver = Ver10;  // nullptr: the system has no cmd.exe
    Options productOptions = Options::Absent;
    const char* productType = "";
    bool hotfix = false;  // the SP6a hotfix key exists
    bool admin = true;
    const char* shortForm = "";
    const char* longForm = "";
};

void PrintTo(const OsCase& c, std::ostream* os) { *os << c.what; }

bool Expect64(const OsCase& c) { return std::strstr(c.shortForm, " 64") != nullptr; }

// Examples of the tables, then every row of each.
// One row a case, aligned as a table: kept as written.
// clang-format off
const OsCase Cases[] = {
    // ------------------------------------------------ examples and edge cases
    {.what = "Windows 10 64-bit reported as 6.2, ProductName readable", .major = 6, .minor = 2, .build = 9200,
     .arch = PROCESSOR_ARCHITECTURE_AMD64, .productName = Name::Text, .productNameText = "Windows 10 Pro",
     .shortForm = "Windows 10 Pro 64-bit", .longForm = "Windows 10 Pro 64-bit  10.0.19045.3693"},
    {.what = "the same with the product-name key not readable", .major = 6, .minor = 2, .build = 9200,
     .arch = PROCESSOR_ARCHITECTURE_AMD64, .productName = Name::Text, .productNameText = "Windows 10 Pro",
     .admin = false, .shortForm = "Microsoft Windows 10  64-bit",
     .longForm = "Microsoft Windows 10  64-bit  10.0.19045.3693"},
    {.what = "Windows 7 Professional 64-bit SP1", .major = 6, .minor = 1, .build = 7601, .csd = "Service Pack 1",
     .arch = PROCESSOR_ARCHITECTURE_AMD64, .productName = Name::Text, .productNameText = "Windows 7 Professional",
     .ver = nullptr, .shortForm = "Windows 7 Professional 64-bit Service Pack 1",
     .longForm = "Windows 7 Professional 64-bit 6.1.7601 Service Pack 1"},
    {.what = "Windows XP Professional x64 SP2: x64 is not \" 64\"", .major = 5, .minor = 2, .build = 3790,
     .csd = "Service Pack 2", .arch = PROCESSOR_ARCHITECTURE_AMD64,
     .shortForm = "Microsoft Windows XP Professional x64 Service Pack 2",
     .longForm = "Microsoft Windows XP Professional x64 5.2.3790 Service Pack 2"},
    {.what = "10.0 reported with type 1", .major = 10, .minor = 0, .build = 19045, .arch = PROCESSOR_ARCHITECTURE_AMD64,
     .shortForm = "Microsoft Windows 10 Unknown Workstation",
     .longForm = "Microsoft Windows 10 Unknown Workstation 10.0.19045"},
    {.what = "6.2 on ARM64: no bitness suffix", .major = 6, .minor = 2, .build = 9200,
     .arch = PROCESSOR_ARCHITECTURE_ARM64, .productName = Name::Text, .productNameText = "Windows 11 Pro",
     .shortForm = "Windows 11 Pro", .longForm = "Windows 11 Pro  10.0.19045.3693"},
    {.what = "Server 2003 on architecture 0xC", .major = 5, .minor = 2, .build = 3790, .type = VER_NT_SERVER,
     .arch = PROCESSOR_ARCHITECTURE_ARM64, .shortForm = "Microsoft Windows Server 2003 Unknown on Architecture 0xC",
     .longForm = "Microsoft Windows Server 2003 Unknown on Architecture 0xC 5.2.3790"},
    {.what = "Storage Server 2003", .major = 5, .minor = 2, .build = 3790, .suite = VER_SUITE_STORAGE_SERVER,
     .type = VER_NT_SERVER, .shortForm = "Microsoft Windows Storage Server 2003 Standard",
     .longForm = "Microsoft Windows Storage Server 2003 Standard 5.2.3790"},
    {.what = "NT 4.0 SP6 with the Q246009 hotfix is SP6a", .major = 4, .minor = 0, .build = 1381,
     .csd = "Service Pack 6", .hotfix = true, .shortForm = "Microsoft Windows NT Workstation Service Pack 6a",
     .longForm = "Microsoft Windows NT Workstation 4.0.1381 Service Pack 6a"},
    {.what = "Windows 98 SE by its CSD \" A\": two blanks before the A", .major = 4, .minor = 10,
     .build = 0x040A08AE, .platform = k9x, .csd = " A", .shortForm = "Microsoft Windows 98 SE  A",
     .longForm = "Microsoft Windows 98 SE 4.10.2222  A"},
    {.what = "Windows XP Professional SP3", .major = 5, .minor = 1, .build = 2600, .csd = "Service Pack 3",
     .shortForm = "Microsoft Windows XP Professional Service Pack 3",
     .longForm = "Microsoft Windows XP Professional 5.1.2600 Service Pack 3"},
    {.what = "no GetNativeSystemInfo: a WOW64 process sees x86", .major = 6, .minor = 1, .build = 7601,
     .arch = PROCESSOR_ARCHITECTURE_AMD64, .nativeInfo = false, .productName = Name::Text,
     .productNameText = "Windows 7 Ultimate", .shortForm = "Windows 7 Ultimate 32-bit",
     .longForm = "Windows 7 Ultimate 32-bit 6.1.7601"},

    // ------------------------------------------------------- Windows 9x table
    {.what = "95 OSR 2.0", .major = 4, .minor = 0, .build = 0x04000457, .platform = k9x, .shortForm = "Microsoft Windows 95 OSR 2.0",
     .longForm = "Microsoft Windows 95 OSR 2.0 4.0.1111"},
    {.what = "95 OSR 2.1 by build 1212", .major = 4, .minor = 0, .build = 1212, .platform = k9x,
     .shortForm = "Microsoft Windows 95 OSR 2.1", .longForm = "Microsoft Windows 95 OSR 2.1 4.0.1212"},
    {.what = "95 OSR 2.1 by build 1213, minor 3", .major = 4, .minor = 3, .build = 1213, .platform = k9x,
     .shortForm = "Microsoft Windows 95 OSR 2.1", .longForm = "Microsoft Windows 95 OSR 2.1 4.3.1213"},
    {.what = "95 OSR 2.5", .major = 4, .minor = 0, .build = 1214, .platform = k9x, .csd = " C",
     .shortForm = "Microsoft Windows 95 OSR 2.5  C", .longForm = "Microsoft Windows 95 OSR 2.5 4.0.1214  C"},
    {.what = "95 OSR 2.1 by build 1214 without C", .major = 4, .minor = 0, .build = 1214, .platform = k9x, .csd = " B",
     .shortForm = "Microsoft Windows 95 OSR 2.1  B", .longForm = "Microsoft Windows 95 OSR 2.1 4.0.1214  B"},
    {.what = "95 OSR 2.x", .major = 4, .minor = 0, .build = 1081, .platform = k9x, .csd = " A",
     .shortForm = "Microsoft Windows 95 OSR 2.x  A", .longForm = "Microsoft Windows 95 OSR 2.x 4.0.1081  A"},
    {.what = "95 OSR 1 by A", .major = 4, .minor = 0, .build = 1080, .platform = k9x, .csd = " A",
     .shortForm = "Microsoft Windows 95 OSR 1  A", .longForm = "Microsoft Windows 95 OSR 1 4.0.1080  A"},
    {.what = "95 OSR 1 by W", .major = 4, .minor = 0, .build = 950, .platform = k9x, .csd = "aW",
     .shortForm = "Microsoft Windows 95 OSR 1 aW", .longForm = "Microsoft Windows 95 OSR 1 4.0.950 aW"},
    {.what = "95", .major = 4, .minor = 0, .build = 950, .platform = k9x, .csd = "A",
     .shortForm = "Microsoft Windows 95 A", .longForm = "Microsoft Windows 95 4.0.950 A"},
    {.what = "98", .major = 4, .minor = 10, .build = 0x040A07CE, .platform = k9x, .csd = " ",
     .shortForm = "Microsoft Windows 98", .longForm = "Microsoft Windows 98 4.10.1998"},
    {.what = "98: the low 16 bits of the build are 2222, the whole is not", .major = 4, .minor = 10,
     .build = 0x040A08AE, .platform = k9x, .csd = " ", .shortForm = "Microsoft Windows 98",
     .longForm = "Microsoft Windows 98 4.10.2222"},
    {.what = "98 SE by the whole build 2222", .major = 4, .minor = 10, .build = 2222, .platform = k9x,
     .shortForm = "Microsoft Windows 98 SE", .longForm = "Microsoft Windows 98 SE 4.10.2222"},
    {.what = "98 SE by B", .major = 4, .minor = 10, .build = 0x040A07CE, .platform = k9x, .csd = " B",
     .shortForm = "Microsoft Windows 98 SE  B", .longForm = "Microsoft Windows 98 SE 4.10.1998  B"},
    {.what = "Millennium", .major = 4, .minor = 90, .build = 0x045A0BB8, .platform = k9x, .csd = " ",
     .shortForm = "Microsoft Windows Millennium", .longForm = "Microsoft Windows Millennium 4.90.3000"},
    {.what = "9x with an unknown minor", .major = 4, .minor = 20, .build = 100, .platform = k9x,
     .shortForm = "Microsoft Windows Unknown 9x", .longForm = "Microsoft Windows Unknown 9x 4.20.100"},
    {.what = "9x with minor 266: the table sees 266, the text its low 8 bits", .major = 4, .minor = 266,
     .build = 100, .platform = k9x, .shortForm = "Microsoft Windows Unknown 9x",
     .longForm = "Microsoft Windows Unknown 9x 4.10.100"},
    {.what = "9x with major 5", .major = 5, .minor = 0, .build = 100, .platform = k9x,
     .shortForm = "Microsoft Windows Unknown 9x", .longForm = "Microsoft Windows Unknown 9x 5.0.100"},
    {.what = "9x with major 2^31: the version text is signed", .major = 0x80000000u, .minor = 10, .build = 100,
     .platform = k9x, .shortForm = "Microsoft Windows Unknown 9x",
     .longForm = "Microsoft Windows Unknown 9x -2147483648.10.100"},

    // ------------------------------------------------------ NT version table
    {.what = "NT 3.51, plain record, ProductType WinNT", .major = 3, .minor = 51, .build = 1057, .extended = false,
     .productOptions = Options::Text, .productType = "WinNT", .shortForm = "Microsoft Windows NT Workstation",
     .longForm = "Microsoft Windows NT Workstation 3.51.1057"},
    {.what = "2000 Professional", .major = 5, .minor = 0, .build = 2195, .csd = "Service Pack 4",
     .shortForm = "Microsoft Windows 2000 Professional Service Pack 4",
     .longForm = "Microsoft Windows 2000 Professional 5.0.2195 Service Pack 4"},
    {.what = "Server 2003 R2", .major = 5, .minor = 2, .build = 3790, .type = VER_NT_SERVER,
     .metrics = {SM_SERVERR2}, .shortForm = "Microsoft Windows Server 2003 R2 Standard",
     .longForm = "Microsoft Windows Server 2003 R2 Standard 5.2.3790"},
    {.what = "storage bit with another: not Storage Server", .major = 5, .minor = 2, .build = 3790,
     .suite = VER_SUITE_STORAGE_SERVER | VER_SUITE_ENTERPRISE, .type = VER_NT_SERVER,
     .shortForm = "Microsoft Windows Server 2003 Enterprise",
     .longForm = "Microsoft Windows Server 2003 Enterprise 5.2.3790"},
    {.what = "5.2 workstation on x86", .major = 5, .minor = 2, .build = 3790,
     .shortForm = "Microsoft Windows Server 2003 Professional",
     .longForm = "Microsoft Windows Server 2003 Professional 5.2.3790"},
    {.what = "5.3", .major = 5, .minor = 3, .build = 4000, .shortForm = "Microsoft Windows Unknown version Professional",
     .longForm = "Microsoft Windows Unknown version Professional 5.3.4000"},
    {.what = "Vista", .major = 6, .minor = 0, .build = 6002, .csd = "Service Pack 2",
     .shortForm = "Microsoft Windows Vista  32-bit Service Pack 2",
     .longForm = "Microsoft Windows Vista  32-bit 6.0.6002 Service Pack 2"},
    {.what = "Server 2008", .major = 6, .minor = 0, .build = 6001, .type = VER_NT_SERVER,
     .arch = PROCESSOR_ARCHITECTURE_AMD64, .shortForm = "Microsoft Windows Server 2008  64-bit",
     .longForm = "Microsoft Windows Server 2008  64-bit 6.0.6001"},
    {.what = "7", .major = 6, .minor = 1, .build = 7601, .shortForm = "Microsoft Windows 7  32-bit",
     .longForm = "Microsoft Windows 7  32-bit 6.1.7601"},
    {.what = "Server 2008 R2", .major = 6, .minor = 1, .build = 7601, .type = VER_NT_DOMAIN_CONTROLLER,
     .arch = PROCESSOR_ARCHITECTURE_AMD64, .shortForm = "Microsoft Windows Server 2008 R2  64-bit",
     .longForm = "Microsoft Windows Server 2008 R2  64-bit 6.1.7601"},
    {.what = "8.1", .major = 6, .minor = 3, .build = 9600, .shortForm = "Microsoft Windows 8.1  32-bit",
     .longForm = "Microsoft Windows 8.1  32-bit 6.3.9600"},
    {.what = "Server 2012 R2", .major = 6, .minor = 3, .build = 9600, .type = VER_NT_SERVER,
     .arch = PROCESSOR_ARCHITECTURE_AMD64, .shortForm = "Microsoft Windows Server 2012 R2  64-bit",
     .longForm = "Microsoft Windows Server 2012 R2  64-bit 6.3.9600"},
    {.what = "6.4: no version word", .major = 6, .minor = 4, .build = 9841, .arch = PROCESSOR_ARCHITECTURE_IA64,
     .shortForm = "Microsoft Windows ", .longForm = "Microsoft Windows  6.4.9841"},
    {.what = "Server 2016", .major = 10, .minor = 0, .build = 14393, .type = VER_NT_SERVER,
     .shortForm = "Microsoft Windows Server 2016 Unknown Server",
     .longForm = "Microsoft Windows Server 2016 Unknown Server 10.0.14393"},
    {.what = "10.1: no version word", .major = 10, .minor = 1, .build = 100,
     .shortForm = "Microsoft Windows Unknown Workstation", .longForm = "Microsoft Windows Unknown Workstation 10.1.100"},
    {.what = "major 11 takes the last row of the ver table", .major = 11, .minor = 0, .build = 30000,
     .ver = "\r\nMicrosoft Windows [Version 11.0.30000]\r\n", .shortForm = "Microsoft Windows 11 Unknown Workstation",
     .longForm = "Microsoft Windows 11 Unknown Workstation 11.0.30000"},
    {.what = "major 7 server, even when ver says 10", .major = 7, .minor = 0, .build = 1, .type = VER_NT_SERVER,
     .shortForm = "Microsoft Windows Server 10 Unknown Server",
     .longForm = "Microsoft Windows Server 10 Unknown Server 10.0.19045.3693"},
    {.what = "major 2 without cmd.exe", .major = 2, .minor = 0, .build = 5, .ver = nullptr,
     .shortForm = "Microsoft Windows  Unknown Workstation", .longForm = "Microsoft Windows  Unknown Workstation 2.0.5"},
    {.what = "10 with minor 2^32 - 1 and no cmd.exe: the version text is signed", .major = 10,
     .minor = 0xFFFFFFFFu, .build = 5, .ver = nullptr, .shortForm = "Microsoft Windows Unknown Workstation",
     .longForm = "Microsoft Windows Unknown Workstation 10.-1.5"},

    // ---------------------------------------------------------- "ver" table
    {.what = "ver 6.2, workstation", .major = 6, .minor = 2, .build = 9200,
     .ver = "\r\nMicrosoft Windows [Version 6.2.9200]\r\n", .shortForm = "Microsoft Windows 8  32-bit",
     .longForm = "Microsoft Windows 8  32-bit  6.2.9200"},
    {.what = "ver 6.2, server", .major = 6, .minor = 2, .build = 9200, .type = VER_NT_SERVER,
     .arch = PROCESSOR_ARCHITECTURE_AMD64, .ver = "\r\nMicrosoft Windows [Version 6.2.9200]\r\n",
     .shortForm = "Microsoft Windows Server 2012  64-bit", .longForm = "Microsoft Windows Server 2012  64-bit  6.2.9200"},
    {.what = "ver 6.3, workstation", .major = 6, .minor = 2, .build = 9200,
     .ver = "\r\nMicrosoft Windows [Version 6.3.9600]\r\n", .shortForm = "Microsoft Windows 8.1  32-bit",
     .longForm = "Microsoft Windows 8.1  32-bit  6.3.9600"},
    {.what = "ver 6.3, domain controller", .major = 6, .minor = 2, .build = 9200, .type = VER_NT_DOMAIN_CONTROLLER,
     .ver = "\r\nMicrosoft Windows [Version 6.3.9600]\r\n", .shortForm = "Microsoft Windows Server 2012 R2  32-bit",
     .longForm = "Microsoft Windows Server 2012 R2  32-bit  6.3.9600"},
    {.what = "ver 10, server", .major = 6, .minor = 2, .build = 9200, .type = VER_NT_SERVER,
     .arch = PROCESSOR_ARCHITECTURE_AMD64, .shortForm = "Microsoft Windows Server 10  64-bit",
     .longForm = "Microsoft Windows Server 10  64-bit  10.0.19045.3693"},
    {.what = "ver without brackets, as Wine prints it", .major = 6, .minor = 2, .build = 9200,
     .arch = PROCESSOR_ARCHITECTURE_AMD64, .ver = "\r\nMicrosoft Windows 10.0.18362\r\n",
     .shortForm = "Microsoft Windows 10  64-bit", .longForm = "Microsoft Windows 10  64-bit 6.2.9200"},
    {.what = "ver of another version: its major and a blank", .major = 6, .minor = 2, .build = 9200,
     .ver = "Microsoft Windows [Version 6.4.9841]", .shortForm = "Microsoft Windows 6  32-bit",
     .longForm = "Microsoft Windows 6  32-bit 6.4.9841"},
    {.what = "ver of another version, server", .major = 6, .minor = 2, .build = 9200, .type = VER_NT_SERVER,
     .ver = "Microsoft Windows [Version 6.4.9841]", .shortForm = "Microsoft Windows Server 6  32-bit",
     .longForm = "Microsoft Windows Server 6  32-bit 6.4.9841"},
    {.what = "ver that prints nothing", .major = 6, .minor = 2, .build = 9200, .type = VER_NT_SERVER, .ver = "",
     .shortForm = "Microsoft Windows Server   32-bit", .longForm = "Microsoft Windows Server   32-bit 6.2.9200"},
    {.what = "no cmd.exe at all", .major = 6, .minor = 2, .build = 9200, .arch = PROCESSOR_ARCHITECTURE_AMD64,
     .ver = nullptr, .shortForm = "Microsoft Windows   64-bit", .longForm = "Microsoft Windows   64-bit 6.2.9200"},

    // ------------------------------------------------- product-name lookup
    {.what = "ProductName of a non-text type counts as absent", .major = 6, .minor = 2, .build = 9200,
     .arch = PROCESSOR_ARCHITECTURE_AMD64, .productName = Name::Dword, .shortForm = "Microsoft Windows 10  64-bit",
     .longForm = "Microsoft Windows 10  64-bit  10.0.19045.3693"},
    {.what = "ProductName only in the 32-bit view is not seen", .major = 6, .minor = 2, .build = 9200,
     .arch = PROCESSOR_ARCHITECTURE_AMD64, .productName = Name::Only32BitView, .productNameText = "Windows 10 Home",
     .shortForm = "Microsoft Windows 10  64-bit", .longForm = "Microsoft Windows 10  64-bit  10.0.19045.3693"},
    {.what = "an empty ProductName replaces the name", .major = 6, .minor = 0, .build = 6002, .productName = Name::Text,
     .productNameText = "", .shortForm = " 32-bit", .longForm = " 32-bit 6.0.6002"},
    {.what = "ProductName on Itanium: no suffix", .major = 6, .minor = 1, .build = 7601, .type = VER_NT_SERVER,
     .arch = PROCESSOR_ARCHITECTURE_IA64, .productName = Name::Text,
     .productNameText = "Windows Server 2008 R2 Datacenter", .shortForm = "Windows Server 2008 R2 Datacenter",
     .longForm = "Windows Server 2008 R2 Datacenter 6.1.7601"},
    {.what = "ProductName of a 32-bit Windows 8", .major = 6, .minor = 2, .build = 9200, .productName = Name::Text,
     .productNameText = "Windows 8 Pro", .ver = "\r\nMicrosoft Windows [Version 6.2.9200]\r\n",
     .shortForm = "Windows 8 Pro 32-bit", .longForm = "Windows 8 Pro 32-bit  6.2.9200"},

    // ------------------------------------------------------ NT edition table
    {.what = "XP Starter", .major = 5, .minor = 1, .build = 2600, .metrics = {SM_STARTER, SM_TABLETPC},
     .shortForm = "Microsoft Windows XP Starter", .longForm = "Microsoft Windows XP Starter 5.1.2600"},
    {.what = "XP Media Center", .major = 5, .minor = 1, .build = 2600, .suite = VER_SUITE_PERSONAL,
     .metrics = {SM_MEDIACENTER, SM_TABLETPC}, .shortForm = "Microsoft Windows XP Media Center",
     .longForm = "Microsoft Windows XP Media Center 5.1.2600"},
    {.what = "XP Tablet PC", .major = 5, .minor = 1, .build = 2600, .suite = VER_SUITE_PERSONAL,
     .metrics = {SM_TABLETPC}, .shortForm = "Microsoft Windows XP Tablet PC",
     .longForm = "Microsoft Windows XP Tablet PC 5.1.2600"},
    {.what = "XP Home", .major = 5, .minor = 1, .build = 2600, .suite = VER_SUITE_PERSONAL | VER_SUITE_EMBEDDEDNT,
     .shortForm = "Microsoft Windows XP Home", .longForm = "Microsoft Windows XP Home 5.1.2600"},
    {.what = "XP Embedded", .major = 5, .minor = 1, .build = 2600, .suite = VER_SUITE_EMBEDDEDNT,
     .shortForm = "Microsoft Windows XP Embedded", .longForm = "Microsoft Windows XP Embedded 5.1.2600"},
    {.what = "NT 4.0 Server Enterprise", .major = 4, .minor = 0, .build = 1381, .csd = "Service Pack 6",
     .suite = VER_SUITE_ENTERPRISE, .type = VER_NT_SERVER,
     .shortForm = "Microsoft Windows NT Server 4.0 Enterprise Service Pack 6",
     .longForm = "Microsoft Windows NT Server 4.0 Enterprise 4.0.1381 Service Pack 6"},
    {.what = "NT 4.0 Server", .major = 4, .minor = 0, .build = 1381, .type = VER_NT_DOMAIN_CONTROLLER,
     .shortForm = "Microsoft Windows NT Server 4.0", .longForm = "Microsoft Windows NT Server 4.0 4.0.1381"},
    {.what = "2000 Datacenter Server", .major = 5, .minor = 0, .build = 2195,
     .suite = VER_SUITE_DATACENTER | VER_SUITE_ENTERPRISE, .type = VER_NT_SERVER,
     .shortForm = "Microsoft Windows 2000 Datacenter Server",
     .longForm = "Microsoft Windows 2000 Datacenter Server 5.0.2195"},
    {.what = "2000 Advanced Server", .major = 5, .minor = 0, .build = 2195, .suite = VER_SUITE_ENTERPRISE,
     .type = VER_NT_SERVER, .shortForm = "Microsoft Windows 2000 Advanced Server",
     .longForm = "Microsoft Windows 2000 Advanced Server 5.0.2195"},
    {.what = "2000 Server", .major = 5, .minor = 0, .build = 2195, .type = VER_NT_DOMAIN_CONTROLLER,
     .shortForm = "Microsoft Windows 2000 Server", .longForm = "Microsoft Windows 2000 Server 5.0.2195"},
    {.what = "2003 Computer Cluster", .major = 5, .minor = 2, .build = 3790,
     .suite = VER_SUITE_COMPUTE_SERVER | VER_SUITE_DATACENTER, .type = VER_NT_SERVER,
     .shortForm = "Microsoft Windows Server 2003 Computer Cluster",
     .longForm = "Microsoft Windows Server 2003 Computer Cluster 5.2.3790"},
    {.what = "2003 Datacenter", .major = 5, .minor = 2, .build = 3790,
     .suite = VER_SUITE_DATACENTER | VER_SUITE_ENTERPRISE, .type = VER_NT_SERVER,
     .shortForm = "Microsoft Windows Server 2003 Datacenter",
     .longForm = "Microsoft Windows Server 2003 Datacenter 5.2.3790"},
    {.what = "2003 Web", .major = 5, .minor = 2, .build = 3790, .suite = VER_SUITE_BLADE, .type = VER_NT_SERVER,
     .shortForm = "Microsoft Windows Server 2003 Web", .longForm = "Microsoft Windows Server 2003 Web 5.2.3790"},
    {.what = "2003 blade with another bit is Standard", .major = 5, .minor = 2, .build = 3790,
     .suite = VER_SUITE_BLADE | 0x0010, .type = VER_NT_SERVER, .shortForm = "Microsoft Windows Server 2003 Standard",
     .longForm = "Microsoft Windows Server 2003 Standard 5.2.3790"},
    {.what = "2003 Itanium Datacenter", .major = 5, .minor = 2, .build = 3790, .suite = VER_SUITE_DATACENTER,
     .type = VER_NT_SERVER, .arch = PROCESSOR_ARCHITECTURE_IA64,
     .shortForm = "Microsoft Windows Server 2003 Datacenter for Itanium-based Systems",
     .longForm = "Microsoft Windows Server 2003 Datacenter for Itanium-based Systems 5.2.3790"},
    {.what = "2003 Itanium Enterprise", .major = 5, .minor = 2, .build = 3790, .suite = VER_SUITE_ENTERPRISE,
     .type = VER_NT_SERVER, .arch = PROCESSOR_ARCHITECTURE_IA64,
     .shortForm = "Microsoft Windows Server 2003 Enterprise for Itanium-based Systems",
     .longForm = "Microsoft Windows Server 2003 Enterprise for Itanium-based Systems 5.2.3790"},
    {.what = "2003 Itanium Standard", .major = 5, .minor = 2, .build = 3790, .type = VER_NT_SERVER,
     .arch = PROCESSOR_ARCHITECTURE_IA64, .shortForm = "Microsoft Windows Server 2003 Standard Itanium-based",
     .longForm = "Microsoft Windows Server 2003 Standard Itanium-based 5.2.3790"},
    {.what = "2003 x64 Datacenter", .major = 5, .minor = 2, .build = 3790, .suite = VER_SUITE_DATACENTER,
     .type = VER_NT_SERVER, .arch = PROCESSOR_ARCHITECTURE_AMD64,
     .shortForm = "Microsoft Windows Server 2003 Datacenter x64",
     .longForm = "Microsoft Windows Server 2003 Datacenter x64 5.2.3790"},
    {.what = "2003 x64 Enterprise, SP2", .major = 5, .minor = 2, .build = 3790, .csd = "Service Pack 2",
     .suite = VER_SUITE_ENTERPRISE, .type = VER_NT_SERVER, .arch = PROCESSOR_ARCHITECTURE_AMD64,
     .shortForm = "Microsoft Windows Server 2003 Enterprise x64 Service Pack 2",
     .longForm = "Microsoft Windows Server 2003 Enterprise x64 5.2.3790 Service Pack 2"},
    {.what = "2003 R2 x64 Standard", .major = 5, .minor = 2, .build = 3790, .type = VER_NT_DOMAIN_CONTROLLER,
     .arch = PROCESSOR_ARCHITECTURE_AMD64, .metrics = {SM_SERVERR2},
     .shortForm = "Microsoft Windows Server 2003 R2 Standard x64",
     .longForm = "Microsoft Windows Server 2003 R2 Standard x64 5.2.3790"},
    {.what = "XP as a server", .major = 5, .minor = 1, .build = 2600, .type = VER_NT_SERVER,
     .shortForm = "Microsoft Windows XP Unknown Server", .longForm = "Microsoft Windows XP Unknown Server 5.1.2600"},
    {.what = "5.3 domain controller", .major = 5, .minor = 3, .build = 1, .type = VER_NT_DOMAIN_CONTROLLER,
     .shortForm = "Microsoft Windows Unknown version Unknown Domain controller",
     .longForm = "Microsoft Windows Unknown version Unknown Domain controller 5.3.1"},
    {.what = "10.0 domain controller", .major = 10, .minor = 0, .build = 17763, .type = VER_NT_DOMAIN_CONTROLLER,
     .shortForm = "Microsoft Windows Server 2016 Unknown Domain controller",
     .longForm = "Microsoft Windows Server 2016 Unknown Domain controller 10.0.17763"},
    {.what = "product type 0", .major = 5, .minor = 1, .build = 2600, .type = 0,
     .shortForm = "Microsoft Windows XP Unknown", .longForm = "Microsoft Windows XP Unknown 5.1.2600"},
    {.what = "product type 4", .major = 5, .minor = 0, .build = 2195, .type = 4,
     .shortForm = "Microsoft Windows 2000 Unknown", .longForm = "Microsoft Windows 2000 Unknown 5.0.2195"},

    // ------------------------------------------------ product-options lookup
    {.what = "plain record: LanmanNT", .major = 4, .minor = 0, .build = 1381, .extended = false,
     .productOptions = Options::Text, .productType = "LanmanNT", .shortForm = "Microsoft Windows NT Server",
     .longForm = "Microsoft Windows NT Server 4.0.1381"},
    {.what = "plain record: ServerNT", .major = 4, .minor = 0, .build = 1381, .extended = false,
     .productOptions = Options::Text, .productType = "ServerNT", .shortForm = "Microsoft Windows NT Advanced Server",
     .longForm = "Microsoft Windows NT Advanced Server 4.0.1381"},
    {.what = "plain record: another text", .major = 4, .minor = 0, .build = 1381, .extended = false,
     .productOptions = Options::Text, .productType = "WINNT ", .shortForm = "Microsoft Windows NT Unknown",
     .longForm = "Microsoft Windows NT Unknown 4.0.1381"},
    {.what = "plain record: REG_EXPAND_SZ is not taken", .major = 4, .minor = 0, .build = 1381, .extended = false,
     .productOptions = Options::ExpandText, .productType = "WinNT", .shortForm = "Microsoft Windows NT ",
     .longForm = "Microsoft Windows NT  4.0.1381"},
    {.what = "plain record: 255 letters and the NUL fill the buffer", .major = 4, .minor = 0, .build = 1381,
     .extended = false, .productOptions = Options::Text, .productType = LongProductType + 1,
     .shortForm = "Microsoft Windows NT Unknown", .longForm = "Microsoft Windows NT Unknown 4.0.1381"},
    {.what = "plain record: a text longer than the buffer adds nothing", .major = 4, .minor = 0, .build = 1381,
     .extended = false, .productOptions = Options::Text, .productType = LongProductType,
     .shortForm = "Microsoft Windows NT ", .longForm = "Microsoft Windows NT  4.0.1381"},
    {.what = "plain record: a DWORD", .major = 4, .minor = 0, .build = 1381, .extended = false,
     .productOptions = Options::Dword, .shortForm = "Microsoft Windows NT ", .longForm = "Microsoft Windows NT  4.0.1381"},
    {.what = "plain record: no key", .major = 4, .minor = 0, .build = 1381, .csd = "Service Pack 5",
     .extended = false, .shortForm = "Microsoft Windows NT  Service Pack 5",
     .longForm = "Microsoft Windows NT  4.0.1381 Service Pack 5"},
    {.what = "plain record on 6.1: no product type, no product-name lookup", .major = 6, .minor = 1, .build = 7601,
     .extended = false, .productName = Name::Text, .productNameText = "Windows 7", .productOptions = Options::Text,
     .productType = "WinNT", .shortForm = "Microsoft Windows Server 2008 R2 Workstation",
     .longForm = "Microsoft Windows Server 2008 R2 Workstation 6.1.7601"},

    // ---------------------------------------------------- service pack text
    {.what = "NT 4.0 SP6 without the hotfix", .major = 4, .minor = 0, .build = 1381, .csd = "Service Pack 6",
     .shortForm = "Microsoft Windows NT Workstation Service Pack 6",
     .longForm = "Microsoft Windows NT Workstation 4.0.1381 Service Pack 6"},
    {.what = "the hotfix on SP5 changes nothing", .major = 4, .minor = 0, .build = 1381, .csd = "Service Pack 5",
     .hotfix = true, .shortForm = "Microsoft Windows NT Workstation Service Pack 5",
     .longForm = "Microsoft Windows NT Workstation 4.0.1381 Service Pack 5"},
    {.what = "the hotfix on 2000 changes nothing", .major = 5, .minor = 0, .build = 2195, .csd = "Service Pack 6",
     .hotfix = true, .shortForm = "Microsoft Windows 2000 Professional Service Pack 6",
     .longForm = "Microsoft Windows 2000 Professional 5.0.2195 Service Pack 6"},
    {.what = "a blank service-pack text is left out", .major = 5, .minor = 1, .build = 0x00010A28, .csd = " \t",
     .shortForm = "Microsoft Windows XP Professional", .longForm = "Microsoft Windows XP Professional 5.1.2600"},
};
// clang-format on

void Arrange(Sim::Machine& m, const OsCase& c) {
    m.version = OSVERSIONINFOEXA{};
    m.version.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXA);
    m.version.dwMajorVersion = c.major;
    m.version.dwMinorVersion = c.minor;
    m.version.dwBuildNumber = c.build;
    m.version.dwPlatformId = c.platform;
    std::strncpy(m.version.szCSDVersion, c.csd, sizeof m.version.szCSDVersion - 1);
    m.version.wSuiteMask = c.suite;
    m.version.wProductType = c.type;
    // Before NT 4.0 SP6 the extended record is refused.
    if (!c.extended) m.Inject("GetVersionExA", 1, ERROR_INSUFFICIENT_BUFFER);
    m.wow64 = c.arch != PROCESSOR_ARCHITECTURE_INTEL;
    m.nativeArchitecture = c.arch;
    m.nativeSystemInfoExported = c.nativeInfo;
    for (int metric : c.metrics) m.systemMetrics[metric] = 1;
    switch (c.productName) {
        case Name::Absent:
            m.registry.Key(HKEY_LOCAL_MACHINE, NtCurrentVersion);
            break;
        case Name::Text:
            m.registry.SetString(HKEY_LOCAL_MACHINE, NtCurrentVersion, "ProductName", c.productNameText);
            break;
        case Name::Dword:
            m.registry.SetDword(HKEY_LOCAL_MACHINE, NtCurrentVersion, "ProductName", 10);
            break;
        case Name::Only32BitView:
            m.registry.SetString(HKEY_LOCAL_MACHINE, NtCurrentVersion32, "ProductName", c.productNameText);
            break;
    }
    switch (c.productOptions) {
        case Options::Absent:
            break;
        case Options::Text:
            m.registry.SetString(HKEY_LOCAL_MACHINE, ProductOptions, "ProductType", c.productType);
            break;
        case Options::ExpandText:
            m.registry.SetString(HKEY_LOCAL_MACHINE, ProductOptions, "ProductType", c.productType, REG_EXPAND_SZ);
            break;
        case Options::Dword:
            m.registry.SetDword(HKEY_LOCAL_MACHINE, ProductOptions, "ProductType", 1);
            break;
    }
    if (c.hotfix) m.registry.Key(HKEY_LOCAL_MACHINE, Hotfix);
    if (c.ver) m.AddInterpreter().commands["ver"].output = c.ver;
    m.userIsAdmin = c.admin;
}

class OsDescriptionTest : public DemoPc::SimTest, public ::testing::WithParamInterface<OsCase> {
protected:
    void SetUp() override {
        DemoPc::SimTest::SetUp();
        Arrange(pc(), GetParam());
        SeedRandom(1);
    }
    void ExpectNothingLeftOpen() {
        EXPECT_TRUE(pc().regHandles.empty()) << "a registry key is still open";
        EXPECT_TRUE(pc().handles.empty()) << "a handle is still open";
    }

    TMachineRegistryReader registry_;
};

TEST_P(OsDescriptionTest, ShortForm) {
    const TOsDescription os = OsDescription(false, registry_);
    EXPECT_EQ(os.Text, GetParam().shortForm);
    EXPECT_EQ(os.Is64Bit, Expect64(GetParam()));
    ExpectNothingLeftOpen();
}

TEST_P(OsDescriptionTest, LongForm) {
    const TOsDescription os = OsDescription(true, registry_);
    EXPECT_EQ(os.Text, GetParam().longForm);
    EXPECT_EQ(os.Is64Bit, std::strstr(GetParam().longForm, " 64") != nullptr);
    ExpectNothingLeftOpen();
}

// The short form skips "ver" where ProductName decides the name; it must
// come out exactly as when "ver" runs and its output is dropped.
TEST_P(OsDescriptionTest, ShortFormIsTheSameWithAndWithoutVer) {
    const TOsDescription skippingOs = OsDescription(false, registry_);
    const std::string& skipping = skippingOs.Text;
    const bool skipping64 = skippingOs.Is64Bit;
    const int skippingStarts = pc().CallCount("CreateProcessA");

    Sim::Reset();
    Arrange(pc(), GetParam());
    WindowsNameParts parts;
    ASSERT_TRUE(GetWindowsNameParts(parts, registry_, VersionTextUse::Shown));
    const std::string running = JoinDescription(parts, false);
    const int runningStarts = pc().CallCount("CreateProcessA");

    EXPECT_EQ(skipping, running);
    EXPECT_EQ(skipping64, running.find(" 64") != std::string::npos);
    const OsCase& c = GetParam();
    const bool nameFromProductName = c.extended && c.major == 6 && c.productName == Name::Text && c.admin;
    if (nameFromProductName)
        EXPECT_EQ(skippingStarts, 0);
    else
        EXPECT_EQ(skippingStarts, runningStarts);
}

INSTANTIATE_TEST_SUITE_P(Cases, OsDescriptionTest, ::testing::ValuesIn(Cases));

// ------------------------------------------------------------ no identity

struct UnknownCase {
    const char* what;
    DWORD platform;
    bool queriesFail;  // GetVersionExA fails for both records
};

const UnknownCase Unknown[] = {
    {"platform 0 (Win32s)", VER_PLATFORM_WIN32s, false},
    {"platform 3", 3, false},
    {"both version queries fail", VER_PLATFORM_WIN32_NT, true},
};

class UnknownSystem : public DemoPc::SimTest, public ::testing::WithParamInterface<UnknownCase> {
protected:
    TMachineRegistryReader registry_;
};

TEST_P(UnknownSystem, IsUnknownAndNot64Bit) {
    pc().version.dwPlatformId = GetParam().platform;
    if (GetParam().queriesFail) pc().Inject("GetVersionExA", 0, ERROR_INVALID_PARAMETER);
    for (bool includeVersion : {false, true}) {
        const TOsDescription os = OsDescription(includeVersion, registry_);
        EXPECT_EQ(os.Text, "unknown");
        EXPECT_FALSE(os.Is64Bit);
    }
    WindowsNameParts parts{"x", "y", "z"};
    EXPECT_FALSE(GetWindowsNameParts(parts, registry_));
    EXPECT_TRUE(pc().processes.empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, UnknownSystem, ::testing::ValuesIn(Unknown));

// -------------------------------------------------------------- start-up

struct StartupCase {
    const char* what;
    WORD arch;
    const char* productName;  // nullptr: none
    bool is64;
};

const StartupCase Startups[] = {
    {"64-bit Windows 10", PROCESSOR_ARCHITECTURE_AMD64, "Windows 10 Pro", true},
    {"64-bit Windows 10 without a product name", PROCESSOR_ARCHITECTURE_AMD64, nullptr, true},
    {"32-bit Windows 10", PROCESSOR_ARCHITECTURE_INTEL, "Windows 10 Pro", false},
    {"Windows 10 on ARM64", PROCESSOR_ARCHITECTURE_ARM64, "Windows 10 Pro", false},
};

class Startup : public DemoPc::SimTest, public ::testing::WithParamInterface<StartupCase> {};

// The shared accessor works in the 64-bit view exactly when the system is
// a 64-bit Windows: the uninstall entry written through it lands there.
TEST_P(Startup, TheSharedRegistryViewFollowsTheDescription) {
    const StartupCase& c = GetParam();
    pc().wow64 = c.arch != PROCESSOR_ARCHITECTURE_INTEL;
    pc().nativeArchitecture = c.arch;
    if (c.productName) pc().registry.SetString(HKEY_LOCAL_MACHINE, NtCurrentVersion, "ProductName", c.productName);
    pc().AddInterpreter();
    StartProcess();
    EXPECT_EQ(Is64BitOs, c.is64);
    ASSERT_NE(SharedRegistry, nullptr);
    EXPECT_EQ(SharedRegistry->Access(), c.is64 ? REGSAM(0xF013F) : REGSAM(0xF003F));
    EXPECT_EQ(pc().CallCount("CreateProcessA"), c.productName ? 0 : 1);

    SharedRegistry->SelectRoot(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(SharedRegistry->OpenPath("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Lexomir", true));
    SharedRegistry->WriteDword("EstimatedSize", 27346);
    SharedRegistry->ClosePath();
    const std::string entry64 = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Lexomir";
    const std::string entry32 = "Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Lexomir";
    const bool redirected = pc().wow64 && !c.is64;
    EXPECT_EQ(pc().registry.Dword(HKEY_LOCAL_MACHINE, redirected ? entry32 : entry64, "EstimatedSize"), 27346u);
    EXPECT_FALSE(pc().registry.Dword(HKEY_LOCAL_MACHINE, redirected ? entry64 : entry32, "EstimatedSize"));
}

INSTANTIATE_TEST_SUITE_P(Cases, Startup, ::testing::ValuesIn(Startups));

}  // namespace
