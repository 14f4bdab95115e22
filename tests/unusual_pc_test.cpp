// Whole runs on PCs that are not set up the way the installer would like:
// a user name the ANSI code page cannot write, an English system showing
// Russian words, an uninstall entry with environment references.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/program_entry.h"
#include "tests/demo_pc.h"

namespace {

using demo::kDataFile;
using sim::U8;

const std::wstring kRuTitleW = L"Обновление программы \"Лексомир\"";
const std::wstring kVersionedW = L"\"Тирвена\" версии 1001";

class UnusualPc : public demo::SimTest {
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
    std::vector<std::uint8_t> payload_ = demo::Payload(4000);
};

TEST_F(UnusualPc, RunFromAFolderTheAnsiCodePageCannotWriteInstalls) {
    EnglishPcCyrillicUser();
    demo::Setup(pc(), payload_);
    pc().boxAnswers = {IDYES, IDNO};
    EXPECT_EQ(RunInstaller(), 0);
    EXPECT_EQ(pc().files.Read(kDataFile), payload_);
    for (const sim::BoxRecord& box : pc().boxes)
        EXPECT_EQ(box.text.find("Failed to check up the package file!"), std::string::npos);
}

}  // namespace

namespace {

// Both questions carry Russian words even in an English run: the package
// title in the confirmation, the whole final question. On a code page 1252
// system they must still read as Russian, not as Latin-1 look-alikes.
TEST_F(UnusualPc, RussianWordsReadAsRussianOnAnEnglishSystem) {
    EnglishPcCyrillicUser();
    demo::Setup(pc(), payload_);
    pc().boxAnswers = {IDYES, IDNO};
    EXPECT_EQ(RunInstaller(), 0);
    ASSERT_EQ(pc().boxes.size(), 2u);
    EXPECT_EQ(pc().boxes[0].shownText,
              L"Would you like to setup\r\nLexomir update -\r\n" + kVersionedW + L"?");
    EXPECT_EQ(pc().boxes[0].shownCaption, L"Sound question");
    EXPECT_EQ(pc().boxes[1].shownText, L"На Ваш компьютер установлено\r\n" + kRuTitleW + L" -\r\n" + kVersionedW +
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
    demo::Setup(pc(), payload_);
    pc().registry.SetString(HKEY_LOCAL_MACHINE, demo::kEntry32, "UninstallString", folder + "unins000.exe");
    pc().files.AddFile(U8(u8"C:\\Program Files (x86)\\Müller\\Lexomir.exe"), std::vector<std::uint8_t>(64, 0x4D));
    pc().files.AddFolder(U8(u8"C:\\Program Files (x86)\\Müller\\lxn.cok"));  // the name is taken by a folder
    pc().boxAnswers = {IDYES, IDNO};
    EXPECT_EQ(RunInstaller(), 4);
    // (The expected text is outside the macro: its spelling would not fit 1251.)
    const std::wstring expected = L"Не удается установить файл C:\\Program Files (x86)\\Müller\\lxn.cok";
    ASSERT_EQ(pc().boxes.size(), 2u);
    EXPECT_EQ(pc().boxes[1].shownText, expected);
    EXPECT_EQ(pc().boxes[1].shownCaption, kRuTitleW);
}

}  // namespace
