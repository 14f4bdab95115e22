// Covers: tests/sim/ (the PC every test sets up: Lexomir installed the usual
// way on 64-bit Windows, a 32-bit installer, the uninstall entry in the
// 32-bit view, Lexomir.exe and an old data file, the installer sealed).
#pragma once

#include <gtest/gtest.h>
#include <openssl/sha.h>

#include <string>
#include <utility>
#include <vector>

#include "driver/process_state.h"
#include "driver/update_package.h"
#include "driver/update_sequence.h"
#include "environment/install_environment.h"
#include "environment/process_environment.h"
#include "progress/progress_window.h"
#include "runtime/command_line.h"
#include "tests/pe_builder.h"
#include "tests/sim/machine.h"

namespace DemoPc {

inline const std::string Folder = "C:\\Program Files (x86)\\Lexomir\\";
inline const std::string DataFile = Folder + "lxn.cok";
inline const std::string CurrentVersion = "Software\\Microsoft\\Windows\\CurrentVersion";
inline const std::string CurrentVersion32 = "Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion";
inline const std::string Entry32 = CurrentVersion32 + "\\Uninstall\\Lexomir";
inline const std::string Entry64 = CurrentVersion + "\\Uninstall\\Lexomir";
inline const std::string ShellFolders = CurrentVersion + "\\Explorer\\Shell Folders";

inline std::vector<std::uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

inline std::vector<std::uint8_t> Payload(std::size_t size = 3000, unsigned version = 1001) {
    std::vector<std::uint8_t> data = PeBuilder::Pattern(size, 42);
    if (size > 6) {
        data[5] = std::uint8_t(version & 0xFF);
        data[6] = std::uint8_t(version >> 8);
    }
    return data;
}

// The SHA-256 of the bytes as 64 upper-case hex digits, by OpenSSL.
inline std::string Sha256Hex(const std::vector<std::uint8_t>& bytes) {
    std::uint8_t digest[SHA256_DIGEST_LENGTH];
    SHA256(bytes.data(), bytes.size(), digest);
    std::string hex;
    for (std::uint8_t b : digest) hex += "0123456789ABCDEF"[b >> 4], hex += "0123456789ABCDEF"[b & 15];
    return hex;
}

// The installer's own file: a sealed image, and its seal, the payload and
// the payload's recorded SHA-256 as the loaded image's resources.
inline void SealedInstaller(Sim::Machine& m, const std::vector<std::uint8_t>& payload) {
    // Built and sealed again only for another payload: the fault sweep sets
    // up thousands of machines.
    static std::pair<std::vector<std::uint8_t>, std::vector<std::uint8_t>> sealed;
    if (sealed.second.empty() || sealed.first != payload) {
        PeBuilder::ImageOptions options;
        options.resources[0].data = payload;  // COK/LXN
        PeBuilder::Image image = PeBuilder::BuildImage(options);
        EXPECT_TRUE(PeBuilder::Seal(image.bytes));
        sealed = {payload, image.bytes};
    }
    m.files.AddFile(m.moduleFileName, sealed.second);
    PeImage::MemorySource file(sealed.second);
    PeImage::SealLayout layout;
    EXPECT_TRUE(PeImage::LocateSeal(file, layout));
    const auto seal = sealed.second.begin() + std::ptrdiff_t(layout.slotOffset);
    m.AddResource("COK", "LXN", 1049, payload);
    const std::string digest = Sha256Hex(payload);
    m.AddResource("SHA256", "LXN", 1049, {digest.begin(), digest.end()});
    m.AddResource("#10", "LXSEAL", 1049, {seal, seal + PeImage::DigestSize});
}

// Windows itself: Program Files in both views, and the shell folders.
inline void Windows(Sim::Machine& m, bool wow64 = true) {
    m.wow64 = wow64;
    m.registry.SetString(HKEY_LOCAL_MACHINE, CurrentVersion, "ProgramFilesDir", "C:\\Program Files");
    m.registry.SetString(HKEY_LOCAL_MACHINE, CurrentVersion32, "ProgramFilesDir", "C:\\Program Files (x86)");
    m.registry.SetString(HKEY_LOCAL_MACHINE, ShellFolders, "Common Desktop", "C:\\Users\\Public\\Desktop");
    m.registry.SetString(HKEY_LOCAL_MACHINE, ShellFolders, "Common Programs",
                         "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs");
    m.registry.SetString(HKEY_CURRENT_USER, ShellFolders, "Programs",
                         "C:\\Users\\User\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs");
    m.registry.SetString(HKEY_CURRENT_USER, ShellFolders, "Desktop", "C:\\Users\\User\\Desktop");
    m.registry.SetString(HKEY_CURRENT_USER, ShellFolders, "Startup",
                         "C:\\Users\\User\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Startup");
}

inline void Setup(Sim::Machine& m, const std::vector<std::uint8_t>& payload = Payload()) {
    Windows(m);
    m.registry.SetString(HKEY_LOCAL_MACHINE, Entry32, "UninstallString", Folder + "unins000.exe");
    m.registry.SetString(HKEY_LOCAL_MACHINE, Entry32, "DisplayName", "Lexomir");
    m.files.AddFile(Folder + "Lexomir.exe", std::vector<std::uint8_t>(2048, 0x4D));
    m.files.AddFile(Folder + "unins000.exe", std::vector<std::uint8_t>(1024, 0x5A));
    m.files.AddFile(DataFile, Bytes("old data"));
    m.app.exePath = Folder + "Lexomir.exe";
    m.app.markerName = "lexomir_memfile";
    m.app.windowClass = "TLXMainForm";
    m.app.holdsFiles = {DataFile};
    SealedInstaller(m, payload);
}

// The values a stage called by the update sequence finds, as a run has
// them: the package's constants, the run's language, the application's
// folder, and the boxes' settings made from them.
inline void RunValues(bool russian, const std::string& appFolder) {
    UpdatePackage = TUpdatePackage{};
    FillPackageConstants();
    RussianUi = russian;
    InstallEnvironment = TInstallEnvironment{};
    InstallEnvironment.AppFolder = appFolder;
    GiveMessageSettings();
}

// Each test begins on a new machine in a new process, and leaves none of
// the installer's process-wide values to the next.
class SimTest : public ::testing::Test {
protected:
    void SetUp() override { NewPc(); }
    void TearDown() override { NewProcess(); }
    Sim::Machine& pc() { return Sim::pc(); }
    // A new process's values, with the package's constants as a run fills them.
    static void NewProcess() {
        TProcessState start;
        SwapProcessState(start);
        Progress::ForgetWindowForTests();
        FillPackageConstants();
    }
    static void NewPc() { Sim::Reset(), NewProcess(); }
    // The start-up again, on the machine as it is now.
    void StartProcess() {
        ReleaseProcessEnvironment();
        InitProcessEnvironment(SplitCommandLine(pc().commandLine));
    }
};

}  // namespace DemoPc
