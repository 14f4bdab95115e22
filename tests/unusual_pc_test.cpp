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
