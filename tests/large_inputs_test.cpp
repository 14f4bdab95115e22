// Covers: driver/program_entry.cpp, install/installed_size.cpp.
// Large and odd inputs from the PC: each either works or ends with the
// installer's own message, and nothing is lost.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/program_entry.h"
#include "install/installed_size.h"
#include "install/pe_image.h"
#include "tests/demo_pc.h"

namespace {

using DemoPc::DataFile;

class LargeInputs : public DemoPc::SimTest {
protected:
    void SetUp() override {
        DemoPc::SimTest::SetUp();
        DemoPc::Setup(pc());
        pc().commandLine = "LexomirUpdate.exe modest";
    }
};

TEST_F(LargeInputs, A64KiBUninstallStringEndsWithTheMissingApplicationMessage) {
    std::string value = "C:\\";
    while (value.size() < 65536) value += "Very Long Folder Name\\";
    value += "unins000.exe";
    pc().registry.SetString(HKEY_LOCAL_MACHINE, DemoPc::Entry32, "UninstallString", value);
    EXPECT_EQ(RunInstaller(), 2);
    ASSERT_EQ(pc().boxes.size(), 1u);
    EXPECT_EQ(pc().boxes[0].text.rfind("There's no subject of update", 0), 0u);
    EXPECT_EQ(pc().files.Read(DataFile), DemoPc::Bytes("old data"));
}

TEST_F(LargeInputs, TwentyThousandFilesTenLevelsDeepAreAllCounted) {
    Sim::Reset();
    std::uint64_t bytes = 0;
    int files = 0;
    for (int top = 0; top < 20; ++top) {
        std::string folder = "C:\\Tree\\t" + std::to_string(top);
        for (int level = 1; level < 10; ++level) {
            folder += "\\l" + std::to_string(level);
            for (int f = 0; f < 111 && files < 20000; ++f, ++files) {
                const std::size_t size = std::size_t(files % 4097);
                pc().files.AddFile(folder + "\\f" + std::to_string(f), std::vector<std::uint8_t>(size));
                bytes += size;
            }
        }
    }
    ASSERT_EQ(files, 19980 + 0) << "20 tops x 9 levels x 111 files";
    EXPECT_EQ(FolderSizeKb("C:\\Tree"), std::int64_t(bytes >> 10));
    EXPECT_TRUE(pc().handles.empty());
}

TEST_F(LargeInputs, PayloadsOfNothingAndOf200MB) {
    for (std::size_t size : {std::size_t(0), std::size_t(200) << 20}) {
        SCOPED_TRACE(size);
        Sim::Reset();
        std::vector<std::uint8_t> payload(size);
        for (std::size_t i = 0; i < size; i += 4096) payload[i] = std::uint8_t(i >> 12);
        DemoPc::Setup(pc(), payload);
        pc().commandLine = "LexomirUpdate.exe modest";
        EXPECT_EQ(RunInstaller(), 0);
        EXPECT_TRUE(pc().files.Read(DataFile) == payload);
        EXPECT_TRUE(pc().boxes.empty());
        // In pieces as the self-check reads the own file, each written once.
        EXPECT_LE(pc().CallCount("WriteFile"), int(size / PeImage::HashChunkSize + 1));
    }
}

TEST_F(LargeInputs, APayloadThatDoesNotFitOnTheDiskLeavesTheOldFile) {
    Sim::Reset();
    std::vector<std::uint8_t> payload(std::size_t(50) << 20, 0x5A);
    DemoPc::Setup(pc(), payload);
    pc().commandLine = "LexomirUpdate.exe modest";
    pc().files.capacity = pc().files.UsedBytes() + (std::size_t(10) << 20);
    EXPECT_EQ(RunInstaller(), 4);
    EXPECT_EQ(pc().files.Read(DataFile), DemoPc::Bytes("old data"));
    EXPECT_FALSE(pc().files.Exists(DemoPc::Folder + "~lxn.cok"));
}

TEST_F(LargeInputs, EveryWrongTypeOfTheTextsReadIsHandled) {
    // Per-user shell folders: the registry message. Machine-wide values and
    // the uninstall entry: the unexpected-error box. Never a crash.
    const struct {
        HKEY root;
        std::string key, value;
        int exitCode;
    } places[] = {
        {HKEY_CURRENT_USER, DemoPc::ShellFolders, "Programs", 6},
        {HKEY_CURRENT_USER, DemoPc::ShellFolders, "Startup", 6},
        {HKEY_LOCAL_MACHINE, DemoPc::ShellFolders, "Common Desktop", 1},  // read in the 64-bit view
        {HKEY_LOCAL_MACHINE, DemoPc::Entry32, "UninstallString", 1},
    };
    for (DWORD type : std::vector<DWORD>{REG_BINARY, REG_DWORD, REG_MULTI_SZ, REG_QWORD, REG_NONE})
        for (const auto& p : places) {
            SCOPED_TRACE(p.value + " of type " + std::to_string(type));
            Sim::Reset();
            DemoPc::Setup(pc());
            pc().commandLine = "LexomirUpdate.exe modest";
            pc().registry.SetValue(p.root, p.key, p.value, type, {1, 2, 3, 4, 5, 6, 7, 8});
            EXPECT_EQ(RunInstaller(), p.exitCode);
            ASSERT_EQ(pc().boxes.size(), 1u);
            EXPECT_EQ(pc().boxes[0].caption == "Application Error", p.exitCode == 1);
            EXPECT_EQ(pc().files.Read(DataFile), DemoPc::Bytes("old data"));
        }
}

}  // namespace
