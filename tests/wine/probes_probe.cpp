// The file version probe and the progress window, from the installer's own
// sources, on a real Windows (Wine). One "ok ..." or "FAIL ..." line per
// check; the exit code is the number of failures.
//
//   probes_probe version FILE [EXPECTED] FileVersionString(FILE) == EXPECTED
//                                         (none: empty text)
//   probes_probe details FILE NAME N [COMPANY [COPYRIGHT]]
//                                         the version resource of the built
//                                         installer as version.dll reads it
//                                         (GetFileVersionInfoW, VerQueryValueW):
//                                         both tables and every field, printed
//                                         and compared with what the build
//                                         was given; and FileVersionString
//   probes_probe window [DPI]            Show, Hide and Show again, and what
//                                         the window looks like from outside
//                                         its thread: found by its class,
//                                         title, size, place, children, all
//                                         scaled to the screen's DPI (96)
//   probes_probe hash FILE yes|no        the processor's SHA extensions are
//                                         (yes) or are not (no) chosen, and
//                                         they agree with CNG on FILE: whole,
//                                         in uneven pieces, and on its seal
// windows.h comes first: the other SDK headers need it.
#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "install/pe_image.h"
#include "install/version_probes.h"
#include "platform/sha256.h"
#include "progress/progress_window.h"

namespace {

int failures = 0;

void Check(bool ok, const std::string& what) {
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
    if (!ok) ++failures;
}

std::string Text(HWND window) {
    char buffer[512] = {};
    GetWindowTextA(window, buffer, sizeof buffer);
    return buffer;
}

std::string ClassOf(HWND window) {
    char buffer[256] = {};
    GetClassNameA(window, buffer, sizeof buffer);
    return buffer;
}

bool SameNoCase(const std::string& a, const std::string& b) { return lstrcmpiA(a.c_str(), b.c_str()) == 0; }

std::string Rect(const RECT& r) {
    return std::to_string(r.left) + "," + std::to_string(r.top) + " " + std::to_string(r.right - r.left) + "x" +
           std::to_string(r.bottom - r.top);
}

BOOL CALLBACK CollectChild(HWND child, LPARAM list) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(child);
    return TRUE;
}

// The place of a child in its parent's client area.
RECT ClientPlace(HWND child, HWND parent) {
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// The screen's DPI, which the window is laid out for (one monitor: the
// system's); its sizes at 96 dpi scaled to it.
int Dpi = 96;
int AtDpi(int value) { return MulDiv(value, Dpi, 96); }

void CheckShown(HWND window, const std::string& title, const std::string& line, const char* when) {
    const std::string at = std::string(" (") + when + ", " + std::to_string(Dpi) + " dpi)";
    Check(IsWindowVisible(window) != FALSE, "the window is visible" + at);
    Check(Text(window) == title, "title \"" + Text(window) + "\" is \"" + title + "\"" + at);
    RECT r;
    GetWindowRect(window, &r);
    const int width = AtDpi(408), height = AtDpi(76);
    const int left = (GetSystemMetrics(SM_CXSCREEN) - width) / 2, top = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    RECT expected = {left, top, left + width, top + height};
    Check(EqualRect(&r, &expected) != FALSE, "outer rectangle " + Rect(r) + " is " + Rect(expected) + at);
    Check((GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0, "always on top" + at);
    std::vector<HWND> children;
    EnumChildWindows(window, CollectChild, reinterpret_cast<LPARAM>(&children));
    Check(children.size() == 2, std::to_string(children.size()) + " child windows" + at);
    if (children.size() != 2) return;
    HWND label = SameNoCase(ClassOf(children[0]), "Static") ? children[0] : children[1];
    HWND bar = label == children[0] ? children[1] : children[0];
    Check(SameNoCase(ClassOf(label), "STATIC"), "a child of class " + ClassOf(label) + at);
    Check(SameNoCase(ClassOf(bar), PROGRESS_CLASSA), "a child of class " + ClassOf(bar) + at);
    Check(Text(label) == line, "text line \"" + Text(label) + "\" is \"" + line + "\"" + at);
    const RECT labelPlace = ClientPlace(label, window), barPlace = ClientPlace(bar, window);
    const RECT labelExpected = {AtDpi(2), AtDpi(2), AtDpi(2) + AtDpi(399), AtDpi(2) + AtDpi(20)};
    const RECT barExpected = {AtDpi(2), AtDpi(24), AtDpi(2) + AtDpi(400), AtDpi(24) + AtDpi(20)};
    Check(EqualRect(&labelPlace, &labelExpected) != FALSE, "label at " + Rect(labelPlace) + at);
    Check(EqualRect(&barPlace, &barExpected) != FALSE, "bar at " + Rect(barPlace) + at);
    Check(SendMessageA(bar, PBM_GETPOS, 0, 0) == 0, "the bar shows no progress" + at);
}

int Window(int dpi) {
    // DPI-aware, as the installer's manifest declares (the probe has none,
    // and Wine 8 lacks the per-monitor call).
    Check(SetProcessDPIAware() != FALSE, "the probe is DPI-aware");
    HDC screen = GetDC(nullptr);
    Dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    Check(Dpi == dpi, "the screen has " + std::to_string(Dpi) + " dpi, as the prefix says");
    Check(FindWindowA(Progress::WindowClassName, nullptr) == nullptr, "no progress window before Show");
    Progress::Hide();
    Progress::SetText("lost");
    Progress::Show("Lexomir update", "Installing lxn.cok");
    // Show returns once the window exists: no waiting here.
    HWND window = FindWindowA("PlainWindow", nullptr);
    Check(window != nullptr, "a window of class PlainWindow exists when Show returns");
    if (!window) return failures;
    Check(GetWindowThreadProcessId(window, nullptr) != GetCurrentThreadId(), "it belongs to a thread of its own");
    WNDCLASSEXA c = {};
    c.cbSize = sizeof c;
    // Pointers and handles make it 48 bytes in a 32-bit program, 80 in a 64-bit one.
    Check(sizeof(WNDCLASSEXA) == (sizeof(void*) == 4 ? 48 : 80), "WNDCLASSEXA has its Windows size");
    Check(GetClassInfoExA(GetModuleHandleA(nullptr), "PlainWindow", &c) != FALSE, "the class is registered");
    Check(c.style == 0x203 && c.cbClsExtra == 4 && c.cbWndExtra == 4, "class style 0x203, 4 + 4 extra bytes");
    Check(c.hbrBackground == static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH)), "gray background");
    Check(c.hIcon == nullptr, "no icon");
    CheckShown(window, "Lexomir update", "Installing lxn.cok", "first Show");

    Progress::Hide();
    Check(IsWindowVisible(window) == FALSE, "Hide hides it");
    Progress::SetCaption("while hidden");
    Check(Text(window) == "while hidden" && IsWindowVisible(window) == FALSE, "SetCaption on a hidden window");
    Progress::Show("", "");
    CheckShown(window, "", "", "Show after Hide, empty texts");
    Progress::Show("Second", "two");
    CheckShown(window, "Second", "two", "Show on a shown window");
    Check(FindWindowA("PlainWindow", nullptr) == window, "still the one window");
    return failures;
}

std::wstring Wide(const std::string& text, UINT codePage) {
    std::wstring wide(text.size(), L'\0');
    wide.resize(MultiByteToWideChar(codePage, 0, text.data(), int(text.size()), wide.data(), int(wide.size())));
    return wide;
}

// For the console: Russian text in code page 1251, as probes_wine.py reads it.
std::string Narrow(const std::wstring& text) {
    std::string narrow(text.size() * 2, '\0');
    narrow.resize(WideCharToMultiByte(1251, 0, text.data(), int(text.size()), narrow.data(), int(narrow.size()),
                                      nullptr, nullptr));
    return narrow;
}

int Details(const char* path, const std::string& name, const std::string& number, const std::string& company,
            const std::string& copyright) {
    const std::wstring file = Wide(path, CP_ACP);
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
    std::vector<std::uint8_t> block(size);
    Check(size > 0 && GetFileVersionInfoW(file.c_str(), 0, size, block.data()),
          "GetFileVersionInfoW reads " + std::to_string(size) + " bytes of version information");
    if (size == 0) return failures;
    const std::string dotted = "1.0.0." + number;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    const DWORD n = DWORD(std::stoul(number));
    Check(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) && length == sizeof *fixed &&
              fixed->dwFileVersionMS == 0x10000 && fixed->dwFileVersionLS == n &&
              fixed->dwProductVersionMS == 0x10000 && fixed->dwProductVersionLS == n,
          "the fixed part says file and product version " + dotted);
    WORD* pairs = nullptr;
    Check(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&pairs), &length) &&
              length == 8 && pairs[0] == 0x0419 && pairs[1] == 1251 && pairs[2] == 0x0409 && pairs[3] == 1252,
          "translations: Russian 0x0419 in code page 1251, then English 0x0409 in 1252");
    const struct {
        const wchar_t* table;
        std::string description;
    } tables[] = {{L"041904E3", "Обновление программы \"Лексомир\""}, {L"040904E4", "Lexomir update"}};
    for (const auto& t : tables) {
        const struct {
            const wchar_t* name;
            std::wstring value;
        } fields[] = {
            {L"CompanyName", Wide(company, CP_ACP)},
            {L"FileDescription", Wide(t.description, 1251)},
            {L"FileVersion", Wide(dotted, CP_ACP)},
            {L"InternalName", Wide(name, CP_ACP)},
            {L"LegalCopyright", Wide(copyright, CP_ACP)},
            {L"OriginalFilename", Wide(name + ".exe", CP_ACP)},
            {L"ProductName", L"Lexomir"},
            {L"ProductVersion", Wide(dotted, CP_ACP)},
        };
        for (const auto& f : fields) {
            const std::wstring query = std::wstring(L"\\StringFileInfo\\") + t.table + L"\\" + f.name;
            wchar_t* text = nullptr;
            const bool found = VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&text), &length);
            const std::wstring value = found && text ? std::wstring(text, wcsnlen(text, length)) : L"";
            Check(found && value == f.value, Narrow(query) + " = \"" + Narrow(value) + "\"" +
                                                 (found ? "" : " (not found)") +
                                                 (value == f.value ? "" : ", expected \"" + Narrow(f.value) + "\""));
        }
    }
    const std::string probed = FileVersionString(path);
    Check(probed == dotted, "the installer's own probe, FileVersionString, reads \"" + probed + "\"");
    return failures;
}

std::string Hex(const std::uint8_t* bytes, std::size_t n) {
    std::string text;
    char two[3];
    for (std::size_t i = 0; i < n; ++i) {
        std::snprintf(two, sizeof two, "%02x", bytes[i]);
        text += two;
    }
    return text;
}

// The digest of the bytes, fed in pieces of the given size (0: at once).
std::string Digest(Sha256::Engine engine, const std::vector<std::uint8_t>& bytes, std::size_t piece) {
    Sha256 hash;
    if (!hash.Begin(engine)) return "cannot begin";
    for (std::size_t at = 0; at < bytes.size();) {
        const std::size_t n = piece == 0 ? bytes.size() : std::min(piece, bytes.size() - at);
        if (!hash.Update(bytes.data() + at, n)) return "update failed";
        at += n;
    }
    std::uint8_t digest[32];
    if (!hash.Finish(digest)) return "finish failed";
    return Hex(digest, 32);
}

class EngineSink final : public PeImage::DigestSink {
public:
    explicit EngineSink(Sha256::Engine engine) { begun_ = hash_.Begin(engine); }
    bool Update(const void* data, std::size_t len) override { return begun_ && hash_.Update(data, len); }
    bool Finish(PeImage::Digest& out) override { return begun_ && hash_.Finish(out.data()); }

private:
    Sha256 hash_;
    bool begun_;
};

int Hash(const char* path, bool expectExtensions) {
    const bool usable = ShaExtensionsUsable(ReadCpuIdentity());
    Check(usable == expectExtensions, std::string("the SHA extensions are ") + (usable ? "" : "not ") +
                                          "chosen on this processor, as its flags say");
    std::vector<std::uint8_t> bytes;
    if (FILE* f = std::fopen(path, "rb")) {
        std::uint8_t buffer[1 << 16];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;)
            bytes.insert(bytes.end(), buffer, buffer + n);
        std::fclose(f);
    }
    Check(bytes.size() > 1000000, std::string(path) + " read: " + std::to_string(bytes.size()) + " bytes");
    const std::string cng = Digest(Sha256::Engine::Cng, bytes, 0);
    std::printf("     CNG %s\n", cng.c_str());
    if (!usable) {
        std::printf("skip the processor's SHA extensions: this processor has none\n");
        return failures;
    }
    for (std::size_t piece : {std::size_t(0), std::size_t(1 << 20), std::size_t(1000003), std::size_t(63)}) {
        const std::vector<std::uint8_t>& data = bytes;
        if (piece == 63 && data.size() > 4000000) {
            // Byte-sized pieces over a prefix only: the point is the buffering.
            const std::vector<std::uint8_t> prefix(data.begin(), data.begin() + 4000000);
            Check(Digest(Sha256::Engine::Processor, prefix, 63) == Digest(Sha256::Engine::Cng, prefix, 0),
                  "the extensions agree with CNG on 4,000,000 bytes in pieces of 63");
            continue;
        }
        Check(Digest(Sha256::Engine::Processor, data, piece) == cng,
              "the extensions agree with CNG on the whole file, pieces of " + std::to_string(piece));
    }
    PeImage::MemorySource viaCng(bytes), viaExtensions(bytes);
    EngineSink cngSink(Sha256::Engine::Cng), extensionsSink(Sha256::Engine::Processor);
    Check(PeImage::CheckSeal(viaCng, cngSink) == PeImage::SealStatus::Intact, "the seal holds through CNG");
    Check(PeImage::CheckSeal(viaExtensions, extensionsSink) == PeImage::SealStatus::Intact,
          "the seal holds through the extensions");
    return failures;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "version" && (argc == 3 || argc == 4)) {
        const std::string expected = argc == 4 ? argv[3] : "";
        const std::string version = FileVersionString(argv[2]);
        Check(version == expected,
              std::string("FileVersionString(") + argv[2] + ") = \"" + version + "\", expected \"" + expected + "\"");
        return failures;
    }
    if (command == "details" && argc >= 5 && argc <= 7)
        return Details(argv[2], argv[3], argv[4], argc > 5 ? argv[5] : "", argc > 6 ? argv[6] : "");
    if (command == "window" && (argc == 2 || argc == 3)) return Window(argc == 3 ? std::atoi(argv[2]) : 96);
    if (command == "hash" && argc == 4) return Hash(argv[2], std::string(argv[3]) == "yes");
    std::fprintf(
        stderr,
        "usage: probes_probe version FILE [EXPECTED] | details FILE NAME N [COMPANY [COPYRIGHT]] | window [DPI] | "
        "hash FILE yes|no\n");
    return 99;
}
