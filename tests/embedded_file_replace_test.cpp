// Covers: install/embedded_file.cpp. InstallEmbeddedFile with the version check on: which files are compared,
// the question and its two forms, the answer, the progress window around
// the question, and the failures.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "driver/update_package.h"
#include "driver/update_sequence.h"
#include "install/embedded_file.h"
#include "install/version_replacement.h"
#include "messages/lang_unit.h"
#include "messages/messages.h"
#include "messages/support_log.h"
#include "progress/progress_window.h"
#include "tests/demo_pc.h"
#include "tests/version_resource.h"

namespace {

using DemoPc::Bytes;

const std::string Folder = "C:\\Games\\Lexomir\\";

std::vector<std::uint8_t> Pak(unsigned version) {
    return {'P', 'A', 'K', 1, 0, 0, std::uint8_t(version), std::uint8_t(version >> 8), 9};
}
std::vector<std::uint8_t> Cok(unsigned version) {
    return {'C', 'O', 'K', 1, 0, std::uint8_t(version), std::uint8_t(version >> 8), 9};
}
std::vector<std::uint8_t> Bs3(unsigned version) { return {'3', 'B', 'S', 1, 0, 0, std::uint8_t(version), 9}; }
std::vector<std::uint8_t> Lng(int version) {
    return Bytes("[title]\nRussian\n[langver]\n" + std::to_string(version) + "\n");
}
std::vector<std::uint8_t> Exe(const std::string& version) {
    return version.empty() ? VersionResource::Executable(nullptr) : VersionResource::ExecutableWithVersion(version);
}

class Replace : public DemoPc::SimTest {
protected:
    void SetUp() override {
        DemoPc::SimTest::SetUp();
        DemoPc::RunValues(false, Folder);
        LangUnit::ReleaseLangUnit();
        Progress::ForgetWindowForTests();
        pc().files.AddFolder(Folder);
    }
    void TearDown() override {
        LangUnit::ReleaseLangUnit();
        Progress::ForgetWindowForTests();
    }

    // The resource `item` of `type` holds `fresh`; `installed` is at the target.
    bool Install(const std::string& type, const std::string& target, const std::vector<std::uint8_t>& fresh,
                 const std::vector<std::uint8_t>* installed, bool versionCheck = true) {
        pc().AddResource(type, "ITEM", 1049, fresh);
        if (installed) pc().files.AddFile(target, *installed);
        return InstallEmbeddedFile("item", type, target, versionCheck);
    }
    static std::string EnglishQuestion(const std::string& target, const std::string& installed,
                                       const std::string& fresh) {
        return target +
               " file installing is of older version\r\nthan the same already installed.\r\n\r\n"
               "Do you really want to replace existing\r\nnew file version " +
               installed + " with an older file version " + fresh + "?";
    }
    HWND ProgressWindow() {
        for (const auto& [window, state] : pc().windows)
            if (state.className == "PlainWindow" && state.alive) return window;
        return nullptr;
    }
    // The calls that touch the progress window or ask, in order.
    std::vector<std::string> WindowAndBoxCalls() {
        std::vector<std::string> seen;
        for (const auto& call : pc().calls) {
            if (call.function == "SetWindowPos") seen.push_back(call.detail == "128" ? "hide" : "show");
            if (call.function == "CreateThread") seen.push_back("new window");
            if (call.function.rfind("MessageBox", 0) == 0) seen.push_back("ask");
        }
        return seen;
    }
};

struct Case {
    const char* name;
    std::string type;
    std::vector<std::uint8_t> fresh, installed;
    bool asks;
    std::string installedText, freshText;  // in the question
};

TEST_F(Replace, EachTypeWordComparesItsVersionNewFileFirst) {
    const Case cases[] = {
        {"pak older", "pak", Pak(4), Pak(5), true, "5", "4"},
        {"pak newer", "pak", Pak(5), Pak(4), false, "", ""},
        {"pak equal", "pak", Pak(5), Pak(5), false, "", ""},
        {"pak installed too short to hold a version", "pak", Pak(1), Bytes("PAK1234"), false, "", ""},
        {"3bs older", "3bs", Bs3(200), Bs3(201), true, "201", "200"},
        {"3bs newer", "3bs", Bs3(7), Bs3(6), false, "", ""},
        {"cok older", "cok", Cok(1000), Cok(1001), true, "1001", "1000"},
        {"cok equal", "cok", Cok(1001), Cok(1001), false, "", ""},
        {"cok installed too short", "cok", Cok(3), Bytes("COK"), false, "", ""},
        {"lng older", "lng", Lng(3), Lng(7), true, "7", "3"},
        {"lng negative", "lng", Lng(-2), Lng(-1), true, "-1", "-2"},
        {"lng newer", "lng", Lng(8), Lng(7), false, "", ""},
        {"exe older", "exe", Exe("1.2.3.4"), Exe("1.2.3.10"), true, "1.2.3.10", "1.2.3.4"},
        {"exe newer", "exe", Exe("2.0.0.0"), Exe("1.9.9.9"), false, "", ""},
        {"exe identical versions", "exe", Exe("1.2.3.4"), Exe("1.2.3.4"), false, "", ""},
        {"exe installed without version resource", "exe", Exe("1.0.0.0"), Exe(""), false, "", ""},
        {"exe installed is no executable", "exe", Exe("1.0.0.0"), Bytes("text"), false, "", ""},
        {"exe new without version resource", "exe", Exe(""), Exe("1.0.0.0"), true, "1.0.0.0", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Sim::Reset();
        SetUp();
        const std::string target = Folder + "item." + c.type;
        if (c.asks) pc().boxAnswers.push_back(IDYES);
        EXPECT_TRUE(Install(c.type, target, c.fresh, &c.installed));
        EXPECT_EQ(pc().files.Read(target), c.fresh);
        EXPECT_FALSE(pc().files.Exists(TempInstallName(target)));
        ASSERT_EQ(pc().boxes.size(), c.asks ? 1u : 0u);
        if (c.asks) {
            EXPECT_EQ(pc().boxes[0].text, EnglishQuestion(target, c.installedText, c.freshText));
            EXPECT_EQ(pc().boxes[0].caption, "Sound question");
            EXPECT_EQ(pc().boxes[0].style, QuestionBoxStyle);
        }
        // The data was written once, beside the installed file, and moved.
        EXPECT_EQ(pc().CallCount("WriteFile"), 1);
        ASSERT_EQ(pc().CallCount("SetFileInformationByHandle"), 1);
        // The new file is probed before the installed one.
        const std::string probeCall = c.type == "exe" ? "GetFileVersionInfoSizeA" : "ReadFile";
        std::vector<std::string> probed;
        std::string lastOpened;
        for (const auto& call : pc().calls) {
            if (call.function == "CreateFileA" || call.function == "GetFileVersionInfoSizeA") lastOpened = call.detail;
            if (call.function == probeCall && (probed.empty() || probed.back() != lastOpened))
                probed.push_back(lastOpened);
        }
        ASSERT_GE(probed.size(), 1u);
        EXPECT_EQ(probed.front(), pc().FullPath(TempInstallName(target)));
        if (c.type != "exe" || c.installed != Bytes("text")) {
            EXPECT_EQ(probed.back(), pc().FullPath(target));
        }
    }
}

TEST_F(Replace, WithoutACheckOrAFileOrAKnownTypeTheTargetIsSimplyReplaced) {
    const struct {
        const char* name;
        std::string type;
        bool installed;
        bool versionCheck;
    } cases[] = {
        {"version check off", "pak", true, false}, {"no file at the target", "pak", false, true},
        {"an unknown type", "dat", true, true},    {"pak in capitals is no type word", "PAK", true, true},
        {"Exe in mixed case", "Exe", true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Sim::Reset();
        SetUp();
        const std::string target = Folder + "item.pak";
        const std::vector<std::uint8_t> installed = Pak(9);
        EXPECT_TRUE(Install(c.type, target, Pak(1), c.installed ? &installed : nullptr, c.versionCheck));
        EXPECT_EQ(pc().files.Read(target), Pak(1)) << "older or not, it is replaced";
        EXPECT_TRUE(pc().boxes.empty());
        EXPECT_EQ(pc().CallCount("ReadFile"), 0) << "no version was read";
        EXPECT_EQ(pc().CallCount("GetFileVersionInfoSizeA"), 0);
        EXPECT_FALSE(pc().files.Exists(TempInstallName(target)));
        EXPECT_EQ(pc().CallCount("CreateThread"), 0) << "no progress window";
    }
}

TEST_F(Replace, AFolderAtTheTargetIsNoInstalledFile) {
    const std::string target = Folder + "item.pak";
    pc().files.AddFolder(target);
    EXPECT_FALSE(Install("pak", target, Pak(1), nullptr));
    EXPECT_EQ(pc().CallCount("ReadFile"), 0) << "no comparison with a folder";
    ASSERT_EQ(pc().boxes.size(), 1u);
    EXPECT_EQ(pc().boxes[0].text, "Can't install file " + target);
}

TEST_F(Replace, AnExclamationMarkInALanguageFilePathSkipsTheComparison) {
    for (const std::string& target : {Folder + "!russian.lng", std::string("C:\\Games\\Lexo!mir\\russian.lng")}) {
        Sim::Reset();
        SetUp();
        const std::vector<std::uint8_t> installed = Lng(99);
        EXPECT_TRUE(Install("lng", target, Lng(1), &installed)) << target;
        EXPECT_EQ(pc().files.Read(target), Lng(1)) << target;
        EXPECT_TRUE(pc().boxes.empty()) << target;
        EXPECT_EQ(pc().CallCount("ReadFile"), 0) << target << ": neither file is probed";
        EXPECT_EQ(pc().CallCount("SetFileInformationByHandle"), 1) << target << ": through the temporary file";
    }
}

TEST_F(Replace, NoKeepsTheInstalledFileAndShowsTheWindowAgainEmpty) {
    const std::string target = Folder + "item.pak";
    const std::vector<std::uint8_t> installed = Pak(5);
    pc().boxAnswers.push_back(IDNO);
    EXPECT_FALSE(Install("pak", target, Pak(4), &installed));
    EXPECT_EQ(pc().files.Read(target), installed);
    EXPECT_FALSE(pc().files.Exists(TempInstallName(target)));
    EXPECT_EQ(pc().boxes.size(), 1u) << "no error message after No";
    // Shown even though it had never been shown before.
    HWND window = ProgressWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(pc().windows[window].text, "");
    EXPECT_NE(pc().windows[window].showState, SW_HIDE);
    EXPECT_EQ(WindowAndBoxCalls(), (std::vector<std::string>{"hide", "ask", "new window"}));
}

TEST_F(Replace, AnyAnswerButYesIsNo) {
    for (const int answer : {IDNO, IDCANCEL, 0}) {
        Sim::Reset();
        SetUp();
        const std::string target = Folder + "item.cok";
        const std::vector<std::uint8_t> installed = Cok(1001);
        pc().boxAnswers.push_back(answer);
        EXPECT_FALSE(Install("cok", target, Cok(1000), &installed)) << answer;
        EXPECT_EQ(pc().files.Read(target), installed) << answer;
        EXPECT_FALSE(pc().files.Exists(TempInstallName(target))) << answer;
    }
}

TEST_F(Replace, TheWindowIsHiddenForTheQuestionAndShownAgainAfterIt) {
    Progress::Show("Installing", "item.pak");
    HWND window = ProgressWindow();
    ASSERT_NE(window, nullptr);
    const std::string target = Folder + "item.pak";
    const std::vector<std::uint8_t> installed = Pak(5);
    pc().boxAnswers.push_back(IDYES);
    EXPECT_TRUE(Install("pak", target, Pak(4), &installed));
    EXPECT_EQ(pc().files.Read(target), Pak(4));
    EXPECT_EQ(WindowAndBoxCalls(), (std::vector<std::string>{"new window", "hide", "ask", "show"}));
    EXPECT_EQ(pc().windows[window].text, "") << "shown again with an empty title";
    EXPECT_NE(pc().windows[window].showState, SW_HIDE);
    EXPECT_EQ(pc().CallCount("CreateThread"), 1) << "the same window";
}

TEST_F(Replace, WithoutAQuestionTheWindowIsLeftAlone) {
    Progress::Show("Installing", "item.pak");
    const std::string target = Folder + "item.pak";
    const std::vector<std::uint8_t> installed = Pak(4);
    EXPECT_TRUE(Install("pak", target, Pak(5), &installed));
    EXPECT_EQ(WindowAndBoxCalls(), std::vector<std::string>{"new window"});
    EXPECT_EQ(pc().windows[ProgressWindow()].text, "Installing");
}

TEST_F(Replace, TheQuestionInRussian) {
    RussianUi = true;
    GiveMessageSettings();
    const std::string target = Folder + "item.exe";
    const std::vector<std::uint8_t> installed = Exe("2.0.0.0");
    pc().boxAnswers.push_back(IDYES);
    EXPECT_TRUE(Install("exe", target, Exe("1.0.0.0"), &installed));
    ASSERT_EQ(pc().boxes.size(), 1u);
    EXPECT_EQ(pc().boxes[0].function, "MessageBoxExW");
    EXPECT_EQ(pc().boxes[0].caption, "Резонный вопрос");
    EXPECT_EQ(pc().boxes[0].language, std::optional<WORD>(0x19));
    EXPECT_EQ(pc().boxes[0].text, "Устанавливаемый файл " + target +
                                      "\r\nболее старой версии, чем уже установленный.\r\n\r\n"
                                      "Действительно ли Вы хотите заменить уже имеющийся\r\n"
                                      "файл версии 2.0.0.0 на более старый версии 1.0.0.0?");
}

TEST_F(Replace, TheQuestionInTheSelectedLanguage) {
    const std::string languages = Folder + "language\\";
    pc().files.AddFile(languages + "german.lng",
                       "[soundquest]\nBerechtigte Frage\n\n[olderfilever]\nDie Datei %1\nist veraltet. Ersetzen?\n\n");
    pc().files.AddFile(languages + "english.lng", "[soundquest]\nSound question\n");
    LangUnit::SelectLanguage({"german.lng", "english.lng"}, 0, 0x00010407, 1, 1, languages + "german.lng");
    const std::string target = Folder + "item.pak";
    const std::vector<std::uint8_t> installed = Pak(5);
    pc().boxAnswers.push_back(IDYES);
    EXPECT_TRUE(Install("pak", target, Pak(4), &installed));
    ASSERT_EQ(pc().boxes.size(), 1u);
    const Sim::BoxRecord& box = pc().boxes[0];
    EXPECT_EQ(box.function, "MessageBoxExW");
    EXPECT_EQ(box.caption, "Berechtigte Frage");
    EXPECT_EQ(box.text, "Die Datei " + target + "\r\nist veraltet. Ersetzen?") << "no version texts in this form";
    EXPECT_EQ(box.style, QuestionBoxStyle);
    EXPECT_EQ(box.language, std::optional<WORD>(0x0407)) << "the low 16 bits of the language identifier";
    EXPECT_EQ(pc().files.Read(target), Pak(4));
    // Like every box: where nobody can answer it, not shown, taken as No, and noted.
    pc().sessionId = 0;
    SupportLog::Begin("");
    EXPECT_FALSE(Install("pak", target, Pak(4), &installed));
    EXPECT_EQ(pc().boxes.size(), 1u);
    EXPECT_EQ(pc().files.Read(target), installed);
    SupportLog::Write(0);
    const std::string noted = Sim::Narrow(pc().eventLog.at(0).strings.at(1), 1251);
    EXPECT_EQ(noted.rfind("box \"Berechtigte Frage\": Die Datei C:", 0), 0u) << noted;
}

TEST_F(Replace, AnUnreadableLanguageFileIsReportedAndTheQuestionStillAsked) {
    const std::string languages = Folder + "language\\";
    LangUnit::SelectLanguage({"german.lng", "english.lng"}, 0, 0x0407, 1, 1, languages + "german.lng");
    const std::string target = Folder + "item.pak";
    const std::vector<std::uint8_t> installed = Pak(5);
    pc().boxAnswers = {IDOK, IDOK, IDOK, IDNO};  // queued answers go to every box in turn
    EXPECT_FALSE(Install("pak", target, Pak(4), &installed));
    ASSERT_EQ(pc().boxes.size(), 4u) << "one for the caption, two for the text, then the question";
    EXPECT_EQ(pc().boxes[0].text, "Can't handle the language support file german.lng");
    EXPECT_EQ(pc().boxes[3].function, "MessageBoxExW");
    EXPECT_EQ(pc().boxes[3].caption, "");
    EXPECT_EQ(pc().boxes[3].style, QuestionBoxStyle);
    EXPECT_EQ(pc().files.Read(target), installed);
}

TEST_F(Replace, AFailureLeavesTheInstalledFileAndNoTemporaryFile) {
    const std::string target = Folder + "item.pak";
    const std::string temp = TempInstallName(target);
    const struct {
        const char* name;
        bool older;
        std::function<void(Sim::Machine&)> arrange;
    } cases[] = {
        {"installed file read-only for good, not older", false,
         [&](Sim::Machine& m) {
             m.files.Node(target)->attributes |= FILE_ATTRIBUTE_READONLY;
             m.Inject("SetFileAttributesA", 0, ERROR_ACCESS_DENIED);
         }},
        {"installed file in use, not older", false,
         [&](Sim::Machine& m) { m.files.HoldOpen(target, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ); }},
        {"installed file in use, after Yes", true,
         [&](Sim::Machine& m) { m.files.HoldOpen(target, 0, FILE_SHARE_READ | FILE_SHARE_WRITE); }},
        {"move refused, after Yes", true,
         [](Sim::Machine& m) { m.Inject("SetFileInformationByHandle", 0, ERROR_ACCESS_DENIED, "rename"); }},
        {"temporary file cannot be written", false, [&](Sim::Machine& m) { m.files.FailWritesAfter(temp, 3); }},
        {"temporary file cannot be flushed", false,
         [](Sim::Machine& m) { m.Inject("FlushFileBuffers", 1, ERROR_WRITE_FAULT); }},
        {"temporary name taken by a folder", false, [&](Sim::Machine& m) { m.files.AddFile(temp + "\\x", "x"); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Sim::Reset();
        SetUp();
        const std::vector<std::uint8_t> installed = c.older ? Pak(5) : Pak(3);
        pc().files.AddFile(target, installed);
        c.arrange(pc());
        if (c.older) pc().boxAnswers.push_back(IDYES);
        EXPECT_FALSE(Install("pak", target, Pak(4), nullptr));
        EXPECT_EQ(pc().files.Read(target), installed);
        if (c.name != std::string("temporary name taken by a folder")) {
            EXPECT_FALSE(pc().files.Exists(temp));
        }
        ASSERT_EQ(pc().boxes.size(), c.older ? 2u : 1u);
        EXPECT_EQ(pc().boxes.back().text, "Can't install file " + target);
    }
}

TEST_F(Replace, AFailureAfterTheQuestionLeavesTheWindowHidden) {
    Progress::Show("Installing", "item.pak");
    const std::string target = Folder + "item.pak";
    const std::vector<std::uint8_t> installed = Pak(5);
    pc().Inject("SetFileInformationByHandle", 0, ERROR_ACCESS_DENIED, "rename");
    pc().boxAnswers.push_back(IDYES);
    EXPECT_FALSE(Install("pak", target, Pak(4), &installed));
    EXPECT_EQ(WindowAndBoxCalls(), (std::vector<std::string>{"new window", "hide", "ask", "ask"}));
    EXPECT_EQ(pc().windows[ProgressWindow()].showState, SW_HIDE);
}

TEST_F(Replace, AProgressWindowThatCannotStartIsReported) {
    const std::string target = Folder + "item.pak";
    const std::vector<std::uint8_t> installed = Pak(5);
    pc().Inject("CreateThread", 1, ERROR_NOT_ENOUGH_MEMORY);
    pc().boxAnswers.push_back(IDYES);
    EXPECT_FALSE(Install("pak", target, Pak(4), &installed));
    EXPECT_EQ(pc().files.Read(target), Pak(4)) << "the file was replaced before the window failed";
    ASSERT_EQ(pc().boxes.size(), 2u);
    EXPECT_EQ(pc().boxes[1].text, "Can't install file " + target);
    EXPECT_FALSE(pc().files.Exists(TempInstallName(target)));
}

TEST_F(Replace, AnUnreadableInstalledLanguageFileIsReportedAndCountsAsVersionZero) {
    const std::string target = Folder + "russian.lng";
    const std::vector<std::uint8_t> installed = Bytes("[langver]\nnot a number\n");
    EXPECT_TRUE(Install("lng", target, Lng(2), &installed));
    ASSERT_EQ(pc().boxes.size(), 1u);
    EXPECT_EQ(pc().boxes[0].text, "Can't handle the language support file " + target);
    EXPECT_EQ(pc().files.Read(target), Lng(2));
}

TEST_F(Replace, NothingIsLeftOpen) {
    const std::string target = Folder + "item.exe";
    const std::vector<std::uint8_t> installed = Exe("1.0.0.0");
    EXPECT_TRUE(Install("exe", target, Exe("1.0.0.1"), &installed));
    for (const auto& [value, handle] : pc().handles) EXPECT_NE(handle.kind, Sim::Machine::Handle::File) << handle.path;
    EXPECT_EQ(pc().CallCount("LoadLibraryExA"), pc().CallCount("FreeLibrary"));
}

}  // namespace
