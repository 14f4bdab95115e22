// Covers: driver/update_sequence.cpp, driver/program_entry.cpp.
// The whole run from the program entry on the simulated PC: every ending of
// the update sequence, with the exact boxes, in both languages.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <optional>
#include <string>
#include <vector>

#include "driver/program_entry.h"
#include "runtime/run_stages.h"
#include "tests/demo_pc.h"

namespace {

using DemoPc::DataFile;
using DemoPc::Entry32;

const std::string RuTitle = "Обновление программы \"Лексомир\"";
const std::string EnTitle = "Lexomir update";
const std::string Versioned = "\"Тирвена\" версии 1001";
const std::string ConfirmEn = "Would you like to setup\r\nLexomir update -\r\n" + Versioned + "?";
const std::string ConfirmRu = "Вы действительно хотите установить\r\n" + RuTitle + " -\r\n" + Versioned + "?";
const std::string Final =
    "На Ваш компьютер установлено\r\n" + RuTitle + " -\r\n" + Versioned + "\r\n\r\nЗапустить программу?";
constexpr UINT ErrorStyle = 0x200010;
constexpr UINT QuestionStyle = 0x42024;

struct Box {
    std::string function;
    std::string text;
    std::string caption;
    UINT style;
    std::optional<WORD> language;
};

Box Error(bool russian, const std::string& en, const std::string& ru) {
    if (russian) return {"MessageBoxExW", ru, RuTitle, ErrorStyle, WORD(0x19)};
    return {"MessageBoxW", en, EnTitle, ErrorStyle, std::nullopt};
}
Box Notice(bool russian, const std::string& en, const std::string& ru) {
    Box box = Error(russian, en, ru);
    box.style = 0x42040;  // MB_ICONASTERISK | MB_TASKMODAL | MB_TOPMOST
    return box;
}
Box Confirm(bool russian) {
    if (russian) return {"MessageBoxExW", ConfirmRu, "Резонный вопрос", QuestionStyle, WORD(0x19)};
    return {"MessageBoxW", ConfirmEn, "Sound question", QuestionStyle, std::nullopt};
}
Box FinalQuestion() { return {"MessageBoxExW", Final, EnTitle, QuestionStyle, WORD(0x19)}; }

void ExpectBoxes(const std::vector<Box>& expected) {
    const auto& shown = Sim::pc().boxes;
    ASSERT_EQ(shown.size(), expected.size()) << "number of boxes";
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE("box " + std::to_string(i + 1));
        EXPECT_EQ(shown[i].function, expected[i].function);
        EXPECT_EQ(shown[i].text, expected[i].text);
        EXPECT_EQ(shown[i].caption, expected[i].caption);
        EXPECT_EQ(shown[i].style, expected[i].style);
        EXPECT_EQ(shown[i].language, expected[i].language);
        EXPECT_EQ(shown[i].owner, nullptr);
    }
}

bool Has(const std::vector<std::string>& history, const std::string& event) {
    for (const std::string& e : history)
        if (e == event) return true;
    return false;
}

std::vector<std::uint8_t> Old() { return DemoPc::Bytes("old data"); }

class UpdateSequence : public DemoPc::SimTest, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        DemoPc::SimTest::SetUp();
        DemoPc::Setup(pc(), payload_);
        russian_ = GetParam();
        pc().userLocale = russian_ ? 0x0419 : 0x0409;
    }
    void Args(const std::string& args) {
        pc().commandLine = "\"C:\\Users\\User\\Downloads\\LexomirUpdate.exe\" " + args;
    }
    std::optional<DWORD> EstimatedSize() { return pc().registry.Dword(HKEY_LOCAL_MACHINE, Entry32, "EstimatedSize"); }
    // What a detection rule reads: the version, and the SHA-256 (as OpenSSL gives it) of the payload.
    void ExpectDetectionValues(const std::string& digest = "") {
        EXPECT_EQ(pc().registry.Dword(HKEY_LOCAL_MACHINE, Entry32, "LexomirUpdateVersion"), 1001u);
        const auto sha = pc().registry.Value(HKEY_LOCAL_MACHINE, Entry32, "LexomirUpdateSha256");
        ASSERT_TRUE(sha && sha->type == REG_SZ);
        // Stored with its terminator.
        EXPECT_EQ(std::string(sha->data.begin(), sha->data.end()),
                  (digest.empty() ? DemoPc::Sha256Hex(payload_) : digest) + '\0');
    }
    std::vector<std::uint8_t> DataFileBytes() {
        return pc().files.Read(DataFile).value_or(std::vector<std::uint8_t>{});
    }
    DWORD FolderKb() {
        std::uint64_t total = 0;
        for (const auto& [path, node] : pc().files.nodes)
            if (!node.directory &&
                Sim::UpperAscii(path).rfind(Sim::UpperAscii("C:\\Program Files (x86)\\Lexomir\\"), 0) == 0)
                total += node.data.size();
        return DWORD(total >> 10);
    }

    bool russian_ = false;
    std::vector<std::uint8_t> payload_ = DemoPc::Payload(5000);
};

TEST_P(UpdateSequence, InteractiveYesYesInstallsRecordsSizeAndStartsTheApplication) {
    pc().boxAnswers = {IDYES, IDYES};
    EXPECT_EQ(RunInstaller(), 0);
    ExpectBoxes({Confirm(russian_), FinalQuestion()});
    EXPECT_EQ(DataFileBytes(), payload_);
    EXPECT_EQ(EstimatedSize(), FolderKb());
    ExpectDetectionValues();
    ASSERT_EQ(pc().launches.size(), 1u);
    EXPECT_EQ(pc().launches[0].file, "C:\\Program Files (x86)\\Lexomir\\Lexomir.exe");
    EXPECT_TRUE(Has(pc().app.history, "brought to front"));
    EXPECT_FALSE(pc().files.Exists("C:\\Program Files (x86)\\Lexomir\\~lxn.cok"));
}

TEST_P(UpdateSequence, FinalQuestionAnsweredNoLeavesTheApplicationStopped) {
    pc().boxAnswers = {IDYES, IDNO};
    EXPECT_EQ(RunInstaller(), 0);
    ExpectBoxes({Confirm(russian_), FinalQuestion()});
    EXPECT_EQ(DataFileBytes(), payload_);
    EXPECT_TRUE(pc().launches.empty());
}

TEST_P(UpdateSequence, ConfirmationRefusedWritesNothingAndLeavesTheApplicationRunning) {
    pc().StartMainApp();
    pc().boxAnswers = {IDNO};
    EXPECT_EQ(RunInstaller(), 3);
    ExpectBoxes({Confirm(russian_)});
    EXPECT_EQ(DataFileBytes(), Old());
    EXPECT_FALSE(EstimatedSize());
    EXPECT_FALSE(Has(pc().app.history, "quit requested"));
    EXPECT_TRUE(pc().app.running);
}

TEST_P(UpdateSequence, ConfirmationThatCannotBeShownCountsAsNo) {
    pc().Inject(russian_ ? "MessageBoxExW" : "MessageBoxW", 1, ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_EQ(RunInstaller(), 3);
    EXPECT_EQ(DataFileBytes(), Old());
}

TEST_P(UpdateSequence, RunningApplicationIsAskedToQuitAndWaitedForBeforeTheWrite) {
    pc().StartMainApp();
    pc().app.quitDelayMs = 1200;  // gone before the third probe
    pc().boxAnswers = {IDYES, IDNO};
    EXPECT_EQ(RunInstaller(), 0);
    EXPECT_TRUE(Has(pc().app.history, "quit requested"));
    EXPECT_TRUE(Has(pc().app.history, "ended"));
    EXPECT_TRUE(pc().app.running) << "what the run closed is started again, without a question";
    // Asked only once the user has said Yes.
    std::size_t confirmed = 0, quit = 0;
    for (std::size_t i = 0; i < pc().calls.size(); ++i) {
        if (pc().calls[i].function.rfind("MessageBox", 0) == 0 && !confirmed) confirmed = i;
        if (pc().calls[i].function == "PostMessageA") quit = i;
    }
    EXPECT_LT(confirmed, quit);
    EXPECT_EQ((std::vector<DWORD>(pc().sleeps.begin(), pc().sleeps.begin() + 3)), (std::vector<DWORD>{512, 512, 512}));
    EXPECT_EQ(DataFileBytes(), payload_);
}

TEST_P(UpdateSequence, ApplicationThatNeverQuitsKeepsItsFileAndTheNewOneWaitsForARestart) {
    pc().StartMainApp();
    pc().app.quitsOnWmQuit = false;
    pc().boxAnswers = {IDYES};
    EXPECT_EQ(RunInstaller(), 3010);
    std::vector<DWORD> sleeps(8, 512);                                     // the wait for the quit
    for (DWORD retry : {50, 100, 200, 400, 800}) sleeps.push_back(retry);  // the rename, tried again briefly
    EXPECT_EQ(std::vector<DWORD>(pc().sleeps.begin(), pc().sleeps.begin() + 13), sleeps);
    const std::string path = DataFile;
    ExpectBoxes(
        {Confirm(russian_),
         Notice(russian_,
                "File " + path + " is in use by another program.\r\nThe update will be complete when Windows restarts.",
                "Файл " + path + " занят другой программой.\r\nОбновление завершится после перезагрузки Windows.")});
    EXPECT_EQ(DataFileBytes(), Old());
    ExpectDetectionValues();
    const DWORD sizeAfterRestart = FolderKb() - DWORD(Old().size() >> 10);
    EXPECT_EQ(EstimatedSize(), sizeAfterRestart);
    EXPECT_TRUE(pc().launches.empty()) << "no final question, and no second copy";
    pc().files.Restart();
    EXPECT_EQ(DataFileBytes(), payload_);
    EXPECT_EQ(FolderKb(), sizeAfterRestart);
}

TEST_P(UpdateSequence, NoAdministratorStopsBeforeTheApplicationIsTouched) {
    pc().StartMainApp();
    pc().userIsAdmin = false;
    EXPECT_EQ(RunInstaller(), 5);
    ExpectBoxes(
        {Error(russian_, "You have no right to install applications!", "У Вас нет права устанавливать программы!")});
    EXPECT_FALSE(Has(pc().app.history, "quit requested"));
    EXPECT_EQ(DataFileBytes(), Old());
}

TEST_P(UpdateSequence, UnreadablePerUserShellFolderEndsDiscovery) {
    pc().registry.SetDword(HKEY_CURRENT_USER, DemoPc::ShellFolders, "Desktop", 1);
    EXPECT_EQ(RunInstaller(), 6);
    ExpectBoxes({Error(russian_, "No access to system registry", "Нет доступа к системному реестру")});
}

TEST_P(UpdateSequence, MissingApplicationEndsAfterTheSelfCheckWithoutAQuitRequest) {
    pc().StartMainApp();
    pc().files.Remove("C:\\Program Files (x86)\\Lexomir\\Lexomir.exe");
    EXPECT_EQ(RunInstaller(), 2);
    ExpectBoxes({Error(russian_,
                       "There's no subject of update - the Lexomir installed.\r\nPlease, install the program at first.",
                       "Нет предмета обновления - установленной программы \"Лексомир\".\r\n"
                       "Пожалуйста, сначала установите программу.")});
    EXPECT_FALSE(Has(pc().app.history, "quit requested"));
    EXPECT_GT(pc().CallCount("BCryptHashData"), 0) << "the self-check ran first";
}

TEST_P(UpdateSequence, AlteredInstallerIsReportedAsDistortedAndLeavesTheApplicationRunning) {
    pc().StartMainApp();
    auto image = *pc().files.Read(pc().moduleFileName);
    image[0x200] ^= 0x01;
    pc().files.AddFile(pc().moduleFileName, image);
    EXPECT_EQ(Sim::RunToEnd(RunInstaller), 7);
    ExpectBoxes({Error(russian_, "The package file has been distorted!\r\nVirus?",
                       "Файл пакета установки искажён!\r\nВирус?")});
    // The damage may lie in the exit path: the process ends right after the record.
    EXPECT_EQ(pc().calls.back().function, "TerminateProcess");
    ASSERT_EQ(pc().eventLog.size(), 1u);
    EXPECT_EQ(pc().eventLog[0].id, 1007u);
    EXPECT_EQ(DataFileBytes(), Old());
    EXPECT_TRUE(pc().app.running);
    EXPECT_FALSE(Has(pc().app.history, "quit requested"));
}

// A quiet run's check, made with the write or where the run stops before
// it, outranks any other failure, as a check made first would.
TEST_P(UpdateSequence, QuietRunWithAnAlteredInstallerEndsAsAlteredAndWritesNothing) {
    Args("modest");
    auto image = *pc().files.Read(pc().moduleFileName);
    image[0x200] ^= 0x01;
    pc().files.AddFile(pc().moduleFileName, image);
    for (const bool appInstalled : {true, false}) {
        if (!appInstalled) pc().files.Remove(DemoPc::Folder + "Lexomir.exe");
        EXPECT_EQ(Sim::RunToEnd(RunInstaller), 7);
        EXPECT_EQ(DataFileBytes(), Old());
        EXPECT_FALSE(pc().files.Exists(DemoPc::Folder + "~lxn.cok"));
    }
}

TEST_P(UpdateSequence, UnreadableInstallerFileIsReportedAsSuch) {
    pc().files.HoldOpen(pc().moduleFileName, GENERIC_WRITE, 0);
    EXPECT_EQ(RunInstaller(), 8);
    ExpectBoxes(
        {Error(russian_, "Failed to check up the package file!", "Не удаётся проверить файл пакета установки!")});
}

TEST_P(UpdateSequence, QuietRunAsksNothingAndStartsNothingWithoutRunapp) {
    Args("modest");
    EXPECT_EQ(RunInstaller(), 0);
    ExpectBoxes({});
    EXPECT_EQ(DataFileBytes(), payload_);
    EXPECT_TRUE(pc().launches.empty());
}

// The entry gets the SHA-256 the build recorded beside the data; one that
// is missing or not 64 upper-case hex digits, the data's own.
TEST_P(UpdateSequence, DetectionDigestIsTheRecordedOneOrTheDataOwn) {
    const std::string own = DemoPc::Sha256Hex(payload_), other(64, 'A');
    std::string lower = own;
    for (char& c : lower) c = char(std::tolower(c));
    Args("modest");
    for (const std::optional<std::string>& recorded :
         std::vector<std::optional<std::string>>{other, std::nullopt, lower, own.substr(1), own + "0"}) {
        auto& all = pc().resources;
        all.erase(std::remove_if(all.begin(), all.end(), [](const auto& r) { return r.type == "SHA256"; }), all.end());
        if (recorded) pc().AddResource("SHA256", "LXN", 1049, {recorded->begin(), recorded->end()});
        EXPECT_EQ(RunInstaller(), 0);
        ExpectDetectionValues(recorded == other ? other : own);
    }
}

// A quiet run writes its data as its self-check reads its own file; where
// the file at its path is another sealed build (put there while it runs),
// from the loaded image: the data is always this run's own.
TEST_P(UpdateSequence, QuietRunWritesItsOwnDataAsTheCheckReadsTheFile) {
    Args("modest");
    for (const bool swapped : {false, true}) {
        if (swapped) {
            PeBuilder::ImageOptions older;
            older.resources[0].data = DemoPc::Payload(payload_.size(), 999);
            PeBuilder::Image image = PeBuilder::BuildImage(older);
            ASSERT_TRUE(PeBuilder::Seal(image.bytes));
            pc().files.AddFile(pc().moduleFileName, image.bytes);
        }
        pc().writesFromResources.clear();
        EXPECT_EQ(RunInstaller(), 0);
        EXPECT_EQ(DataFileBytes(), payload_);
        EXPECT_EQ(pc().writesFromResources.size(), swapped ? 1u : 0u);
    }
}

TEST_P(UpdateSequence, QuietRunWithRunappRestartsTheApplication) {
    pc().StartMainApp();
    Args("MODEST RunApp");
    EXPECT_EQ(RunInstaller(), 0);
    ExpectBoxes({});
    EXPECT_EQ(DataFileBytes(), payload_);
    ASSERT_EQ(pc().launches.size(), 1u);
    EXPECT_TRUE(pc().app.running);
    EXPECT_TRUE(Has(pc().app.history, "brought to front"));
}

TEST_P(UpdateSequence, QuietRunStillShowsErrors) {
    Args("modest runapp");
    pc().files.FailWritesAfter("C:\\Program Files (x86)\\Lexomir\\~lxn.cok", 100);
    EXPECT_EQ(RunInstaller(), 4);
    ExpectBoxes({Error(russian_, "Can't install file " + DataFile, "Не удается установить файл " + DataFile)});
    EXPECT_EQ(pc().launches.size(), 1u) << "a caller that asked for runapp gets its application back";
}

TEST_P(UpdateSequence, RunappWithoutModestIsIgnored) {
    Args("runapp modest");
    pc().boxAnswers = {IDYES, IDNO};
    EXPECT_EQ(RunInstaller(), 0);
    ExpectBoxes({Confirm(russian_), FinalQuestion()});
    EXPECT_TRUE(pc().launches.empty());
}

TEST_P(UpdateSequence, FailedSizeWriteEndsWithTheApplicationErrorBox) {
    pc().Inject("RegSetValueExA", 1, ERROR_ACCESS_DENIED);
    pc().boxAnswers = {IDYES};
    EXPECT_EQ(RunInstaller(), 1);
    ASSERT_EQ(pc().boxes.size(), 2u);
    EXPECT_EQ(pc().boxes[1].caption, "Application Error");
    EXPECT_EQ(pc().boxes[1].function, "MessageBoxA");
    EXPECT_NE(pc().boxes[1].text.find("ERegistryException"), std::string::npos);
    EXPECT_EQ(DataFileBytes(), payload_) << "a written file stays written";
    EXPECT_TRUE(pc().launches.empty());
}

TEST_P(UpdateSequence, WrongTypedUninstallStringIsAnUnexpectedError) {
    pc().registry.SetDword(HKEY_LOCAL_MACHINE, Entry32, "UninstallString", 7);
    EXPECT_EQ(RunInstaller(), 1);
    ASSERT_EQ(pc().boxes.size(), 1u);
    EXPECT_EQ(pc().boxes[0].caption, "Application Error");
    EXPECT_NE(pc().boxes[0].text.find("Invalid data type for 'UninstallString'"), std::string::npos);
    EXPECT_TRUE(pc().regHandles.empty()) << "the key is closed on the way out";
}

TEST_P(UpdateSequence, EveryHandleIsClosedAtTheEnd) {
    pc().StartMainApp();
    Args("modest runapp");
    EXPECT_EQ(RunInstaller(), 0);
    EXPECT_TRUE(pc().regHandles.empty());
    EXPECT_TRUE(pc().handles.empty());
}

INSTANTIATE_TEST_SUITE_P(BothLanguages, UpdateSequence, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Russian" : "English"; });

}  // namespace

namespace {

// Before anything loads a library, the search is limited to the system
// folder; where SetDefaultDllDirectories is missing, the current folder is
// at least taken out.
TEST(LibrarySearch, IsRestrictedBeforeAnyLibraryIsLoaded) {
    for (bool exported : {true, false}) {
        SCOPED_TRACE(exported ? "SetDefaultDllDirectories exported" : "missing");
        Sim::Reset();
        DemoPc::Setup(Sim::pc());
        Sim::pc().defaultDllDirectoriesExported = exported;
        Sim::pc().commandLine = "LexomirUpdate.exe modest";
        EXPECT_EQ(RunInstaller(), 0);
        EXPECT_EQ(Sim::pc().defaultDllDirectories, exported ? DWORD(LOAD_LIBRARY_SEARCH_SYSTEM32) : 0u);
        EXPECT_EQ(Sim::pc().dllDirectory, exported ? std::nullopt : std::optional<std::string>(""));
        const auto& calls = Sim::pc().calls;
        std::size_t restricted = calls.size(), firstLoad = calls.size();
        for (std::size_t i = 0; i < calls.size(); ++i) {
            const std::string& f = calls[i].function;
            if ((f == "SetDefaultDllDirectories" || f == "SetDllDirectoryA") && restricted == calls.size())
                restricted = i;
            if (f == "LoadLibraryExA" && firstLoad == calls.size()) firstLoad = i;
        }
        EXPECT_LT(restricted, firstLoad);
        EXPECT_LT(firstLoad, calls.size()) << "CNG is loaded for the self-check";
    }
}

// Each stage a benchmark build times (runtime/run_stages.h) is announced where
// it begins: the write before the data file changes (and, in a quiet run,
// before the own file is opened for the check made with it), the size
// before the registry holds it.
std::vector<std::string> StagesSeen;

TEST(RunStages, AreAnnouncedWhereTheyBegin) {
    Sim::Reset();
    DemoPc::Setup(Sim::pc());
    Sim::pc().commandLine = "LexomirUpdate.exe modest";
    StagesSeen.clear();
    RunStageListener = [](RunStage stage) {
        std::string seen = std::to_string(int(stage));
        for (const auto& call : Sim::pc().calls)
            if (call.function == "CreateFileW" && seen.size() == 1) seen += " opened";
        if (Sim::pc().files.Read(DemoPc::DataFile) != DemoPc::Bytes("old data")) seen += " written";
        if (Sim::pc().registry.Dword(HKEY_LOCAL_MACHINE, DemoPc::Entry32, "EstimatedSize")) seen += " sized";
        StagesSeen.push_back(seen);
    };
    EXPECT_EQ(RunInstaller(), 0);
    RunStageListener = nullptr;
    EXPECT_EQ(StagesSeen, (std::vector<std::string>{"0", "1", "2", "3 opened written", "4 opened written sized"}));
}

}  // namespace
