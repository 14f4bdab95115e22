// Covers: driver/program_entry.cpp and every stage it runs.
// Whole runs on PCs that are not set up the way the installer would like:
// a user name the ANSI code page cannot write, an English system showing
// Russian words, an uninstall entry with environment references.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/program_entry.h"
#include "tests/demo_pc.h"

namespace {

using DemoPc::DataFile;
using Sim::U8;

const std::wstring RuTitleW = L"Обновление программы \"Лексомир\"";
const std::wstring VersionedW = L"\"Тирвена\" версии 1001";

class UnusualPc : public DemoPc::SimTest {
protected:
    // An English Windows (code page 1252) whose user has a Cyrillic name:
    // the installer is run from that user's Downloads folder.
    void EnglishPcCyrillicUser() {
        pc().ansiCodePage = 1252;
        pc().oemCodePage = 437;
        pc().userLocale = 0x0409;
        pc().moduleFileName = U8(u8"C:\\Users\\Пётр\\Downloads\\LexomirUpdate.exe");
        pc().currentFolder = U8(u8"C:\\Users\\Пётр\\Downloads");
        pc().commandLine = "\"C:\\Users\\????\\Downloads\\LexomirUpdate.exe\"";
    }
    std::vector<std::uint8_t> payload_ = DemoPc::Payload(4000);
};

TEST_F(UnusualPc, RunFromAFolderTheAnsiCodePageCannotWriteInstalls) {
    EnglishPcCyrillicUser();
    DemoPc::Setup(pc(), payload_);
    pc().boxAnswers = {IDYES, IDNO};
    EXPECT_EQ(RunInstaller(), 0);
    EXPECT_EQ(pc().files.Read(DataFile), payload_);
    for (const Sim::BoxRecord& box : pc().boxes)
        EXPECT_EQ(box.text.find("Failed to check up the package file!"), std::string::npos);
}

}  // namespace

namespace {

// Both questions carry Russian words even in an English run: the package
// title in the confirmation, the whole final question. On a code page 1252
// system they must still read as Russian, not as Latin-1 look-alikes.
TEST_F(UnusualPc, RussianWordsReadAsRussianOnAnEnglishSystem) {
    EnglishPcCyrillicUser();
    DemoPc::Setup(pc(), payload_);
    pc().boxAnswers = {IDYES, IDNO};
    EXPECT_EQ(RunInstaller(), 0);
    ASSERT_EQ(pc().boxes.size(), 2u);
    EXPECT_EQ(pc().boxes[0].shownText, L"Would you like to setup\r\nLexomir update -\r\n" + VersionedW + L"?");
    EXPECT_EQ(pc().boxes[0].shownCaption, L"Sound question");
    EXPECT_EQ(pc().boxes[1].shownText, L"На Ваш компьютер установлено\r\n" + RuTitleW + L" -\r\n" + VersionedW +
                                           L"\r\n\r\nЗапустить программу?");
    EXPECT_EQ(pc().boxes[1].shownCaption, L"Lexomir update");
    EXPECT_EQ(pc().boxes[1].language, WORD(0x19));
    EXPECT_EQ(pc().boxes[1].style, UINT(0x42024));
}

// A path is shown as the system writes it: its bytes are the ANSI code
// page's, not the program's Russian one.
TEST_F(UnusualPc, PathsInABoxAreReadInTheSystemsCodePage) {
    const std::string folder = "C:\\Program Files (x86)\\M\xFCller\\";  // "ü" in code page 1252
    pc().ansiCodePage = 1252;
    pc().userLocale = 0x0419;  // Russian user, Western system
    DemoPc::Setup(pc(), payload_);
    pc().registry.SetString(HKEY_LOCAL_MACHINE, DemoPc::Entry32, "UninstallString", folder + "unins000.exe");
    pc().files.AddFile(U8(u8"C:\\Program Files (x86)\\Müller\\Lexomir.exe"), std::vector<std::uint8_t>(64, 0x4D));
    pc().files.AddFolder(U8(u8"C:\\Program Files (x86)\\Müller\\lxn.cok"));  // the name is taken by a folder
    pc().boxAnswers = {IDYES, IDNO};
    EXPECT_EQ(RunInstaller(), 4);
    // (The expected text is outside the macro: its spelling would not fit 1251.)
    const std::wstring expected = L"Не удается установить файл C:\\Program Files (x86)\\Müller\\lxn.cok";
    ASSERT_EQ(pc().boxes.size(), 2u);
    EXPECT_EQ(pc().boxes[1].shownText, expected);
    EXPECT_EQ(pc().boxes[1].shownCaption, RuTitleW);
}

}  // namespace

// ------------------------------------------ the temporary and the data file

namespace {

const std::string Temp = DemoPc::Folder + "~lxn.cok";
const std::string WinIni = "C:\\Windows\\win.ini";

std::vector<std::uint8_t> WinIniBytes() { return DemoPc::Bytes("[fonts]\r\n"); }

// Whatever an earlier run, or someone else, left at the temporary name,
// the update goes through, and nothing it points to is written.
TEST_F(UnusualPc, WhateverStandsAtTheTemporaryNameIsClearedNotWrittenThrough) {
    const struct {
        const char* what;
        void (*arrange)(Sim::Machine&);
        int exitCode;
        bool tempGone;
    } cases[] = {
        {"a file a failed run left", [](Sim::Machine& m) { m.files.AddFile(Temp, "half"); }, 0, true},
        {"read-only", [](Sim::Machine& m) { m.files.AddFile(Temp, DemoPc::Bytes("half"), FILE_ATTRIBUTE_READONLY); }, 0,
         true},
        {"hidden", [](Sim::Machine& m) { m.files.AddFile(Temp, DemoPc::Bytes("half"), FILE_ATTRIBUTE_HIDDEN); }, 0,
         true},
        {"system", [](Sim::Machine& m) { m.files.AddFile(Temp, DemoPc::Bytes("half"), FILE_ATTRIBUTE_SYSTEM); }, 0,
         true},
        {"read-only, hidden and system",
         [](Sim::Machine& m) {
             m.files.AddFile(Temp, DemoPc::Bytes("half"),
                             FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
         },
         0, true},
        {"an empty folder", [](Sim::Machine& m) { m.files.AddFolder(Temp); }, 0, true},
        {"a junction to another folder",
         [](Sim::Machine& m) {
             m.files.AddFile("C:\\Elsewhere\\keep.txt", "keep");
             m.files.AddLink(Temp, "C:\\Elsewhere");
         },
         0, true},
        {"a symbolic link to a system file", [](Sim::Machine& m) { m.files.AddFileLink(Temp, WinIni); }, 0, true},
        {"a hard link to a system file", [](Sim::Machine& m) { m.files.AddHardLink(Temp, WinIni); }, 0, true},
        {"a folder that is not empty", [](Sim::Machine& m) { m.files.AddFile(Temp + "\\x", "x"); }, 4, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Sim::Reset();
        DemoPc::Setup(pc(), payload_);
        pc().files.AddFile(WinIni, WinIniBytes(), FILE_ATTRIBUTE_ARCHIVE);
        c.arrange(pc());
        pc().commandLine = "LexomirUpdate.exe modest";
        EXPECT_EQ(RunInstaller(), c.exitCode);
        EXPECT_EQ(pc().files.Read(DemoPc::DataFile), c.exitCode == 0 ? payload_ : DemoPc::Bytes("old data"));
        EXPECT_EQ(pc().files.Node(DemoPc::DataFile)->linkTarget, "");
        EXPECT_EQ(pc().files.Read(WinIni), WinIniBytes());
        EXPECT_EQ(pc().files.Read("C:\\Elsewhere\\keep.txt").value_or(DemoPc::Bytes("keep")), DemoPc::Bytes("keep"));
        EXPECT_EQ(pc().files.Exists(Temp), !c.tempGone);
        EXPECT_TRUE(pc().handles.empty());
    }
}

// A link planted between the clearing and the creation is not written
// through: the temporary file is only ever a new one.
TEST_F(UnusualPc, ALinkPlantedJustBeforeTheTemporaryFileIsMadeIsNotWrittenThrough) {
    DemoPc::Setup(pc(), payload_);
    pc().files.AddFile(WinIni, WinIniBytes());
    pc().commandLine = "LexomirUpdate.exe modest";
    bool planted = false;
    pc().meanwhile = [&](const Sim::CallRecord& call) {
        if (!planted && call.function == "CreateFileA" && call.detail == pc().FullPath(Temp)) {
            planted = true;
            pc().files.AddFileLink(Temp, WinIni);
        }
    };
    EXPECT_EQ(RunInstaller(), 4);
    EXPECT_TRUE(planted);
    EXPECT_EQ(pc().files.Read(WinIni), WinIniBytes());
    EXPECT_EQ(pc().files.Read(DemoPc::DataFile), DemoPc::Bytes("old data"));
}

// Files copied from a CD carry the read-only attribute.
TEST_F(UnusualPc, AReadOnlyDataFileIsReplacedAndTheNewOneIsNotReadOnly) {
    DemoPc::Setup(pc(), payload_);
    pc().files.Node(DemoPc::DataFile)->attributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE;
    pc().commandLine = "LexomirUpdate.exe modest";
    EXPECT_EQ(RunInstaller(), 0);
    EXPECT_EQ(pc().files.Read(DemoPc::DataFile), payload_);
    EXPECT_FALSE(pc().files.Node(DemoPc::DataFile)->attributes & FILE_ATTRIBUTE_READONLY);
}

// A scanner opens each file as soon as it is closed, without sharing
// deletion: the fresh file is renamed before it is closed, and never waits.
TEST_F(UnusualPc, ARenameRefusedForAMomentIsRetriedBriefly) {
    const struct {
        DWORD scanMs;
        int exitCode;
    } cases[] = {{300, 0}, {1200, 0}, {60000, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scanMs);
        Sim::Reset();
        DemoPc::Setup(pc(), payload_);
        pc().scanHoldMs = c.scanMs;
        pc().commandLine = "LexomirUpdate.exe modest";
        EXPECT_EQ(RunInstaller(), c.exitCode);
        EXPECT_EQ(pc().files.Read(DemoPc::DataFile), c.exitCode == 0 ? payload_ : DemoPc::Bytes("old data"));
        DWORD slept = 0;
        for (DWORD s : pc().sleeps) slept += s;
        EXPECT_LE(slept, 4000u) << "the retries of the rename and of the cleanup, a second or two each";
        if (c.exitCode == 0) {
            EXPECT_FALSE(pc().files.Exists(Temp));
        }
    }
}

// A run that could not remove its temporary file leaves it to the next one.
TEST_F(UnusualPc, TheNextRunClearsWhatAFailedRunLeft) {
    DemoPc::Setup(pc(), payload_);
    pc().Inject("SetFileInformationByHandle", 0, ERROR_ACCESS_DENIED);  // neither renamed nor removed
    pc().commandLine = "LexomirUpdate.exe modest";
    EXPECT_EQ(RunInstaller(), 4);
    ASSERT_TRUE(pc().files.Exists(Temp));
    pc().faults.clear();
    EXPECT_EQ(RunInstaller(), 0);
    EXPECT_EQ(pc().files.Read(DemoPc::DataFile), payload_);
    EXPECT_FALSE(pc().files.Exists(Temp));
}

}  // namespace
