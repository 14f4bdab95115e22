// A simulated PC with Lexomir installed the usual way, for the tests of the
// update sequence: 64-bit Windows, a 32-bit installer, the application's
// uninstall entry in the 32-bit view, its folder with Lexomir.exe and an old
// data file, and the installer's own file sealed.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/update_package.h"
#include "driver/update_sequence.h"
#include "environment/install_environment.h"
#include "environment/process_values.h"
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

// The installer's own file: a sealed image, and the payload as its resource.
inline void SealedInstaller(Sim::Machine& m, const std::vector<std::uint8_t>& payload) {
    // Built and sealed once: the fault sweep sets up thousands of machines.
    static const std::vector<std::uint8_t> sealed = [] {
        PeBuilder::Image image = PeBuilder::BuildImage();
        EXPECT_TRUE(PeBuilder::Seal(image.bytes));
        return image.bytes;
    }();
    m.files.AddFile(m.moduleFileName, sealed);
    m.AddResource("COK", "LXN", 1049, payload);
}

inline void Setup(Sim::Machine& m, const std::vector<std::uint8_t>& payload = Payload()) {
    m.wow64 = true;
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

// Resets the machine before each test.
class SimTest : public ::testing::Test {
protected:
    void SetUp() override { Sim::Reset(); }
    Sim::Machine& pc() { return Sim::pc(); }
};

}  // namespace DemoPc
