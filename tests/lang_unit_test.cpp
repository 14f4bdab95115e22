// Covers: messages/lang_unit.cpp. Language support files: the line and section rules, lookups with their
// fallback and continuation, placeholders, and the failure boxes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/update_package.h"
#include "driver/update_sequence.h"
#include "environment/install_target.h"
#include "environment/process_environment.h"
#include "messages/lang_unit.h"
#include "tests/demo_pc.h"

namespace {

const std::string App = "C:\\Program Files (x86)\\Lexomir\\";
const std::string Languages = App + "language\\";
const std::string Current = Languages + "german.lng";
const std::string Russian = Languages + "russian.lng";
const std::string English = Languages + "english.lng";

TEST(LangUnitSection, LinesOpenTheirEntryByTheRules) {
    const struct {
        const char* line;
        const char* key;
        bool opens;
    } cases[] = {
        {"[SoundQuest]", "soundquest", true},
        {"[soundquest]", "SOUNDQUEST", true},
        {"  [soundquest]", "soundquest", false},
        {"\t[soundquest]", "soundquest", false},
        {"[soundquest] and more", "soundquest", true},
        {"[soundquest]   ", "soundquest", true},
        {"[soundquest2]", "soundquest", false},
        {"[soundques]", "soundquest", false},
        {"[soundquest", "soundquest", false},
        {"soundquest]", "soundquest", false},
        {"[ soundquest]", "soundquest", false},
        {"[a b]", "a b", true},
        {"[]", "", true},
        {"[Ключ]", "Ключ", true},
        {"[ключ]", "Ключ", false},  // only A-Z change case
        {"[KEY]", "кey", false},
        {"", "k", false},
    };
    for (const auto& c : cases) EXPECT_EQ(LangUnit::IsSectionLine(c.line, c.key), c.opens) << c.line << " / " << c.key;
}

class LangUnitTest : public DemoPc::SimTest {
protected:
    void SetUp() override {
        DemoPc::SimTest::SetUp();
        DemoPc::RunValues(false, App);
        pc().files.AddFolder(Languages);
    }

    // german.lng selected; russian.lng and english.lng are the fallbacks.
    void Select(const std::string& current, const std::string& english = "", const std::string& russian = "") {
        pc().files.AddFile(Current, current);
        pc().files.AddFile(English, english);
        pc().files.AddFile(Russian, russian);
        LangUnit::SelectLanguage({"german.lng", "russian.lng", "english.lng"}, 0, 0x0407, 1, 2, Current);
    }
    std::vector<std::string> BoxTexts() const {
        std::vector<std::string> texts;
        for (const auto& box : Sim::pc().boxes) texts.push_back(box.text);
        return texts;
    }
    static std::string Error(const std::string& name) { return "Can't handle the language support file " + name; }
    int OpensOf(const std::string& path) const {
        int n = 0;
        for (const auto& call : Sim::pc().calls)
            if (call.function == "CreateFileA" && call.detail == path) ++n;
        return n;
    }
};

TEST_F(LangUnitTest, NothingIsSelectedAtStart) {
    EXPECT_EQ(LangUnit::SelectedLanguage(), -1);
    EXPECT_EQ(LangUnit::SelectedLanguageId(), -1);
    EXPECT_EQ(LangUnit::LookupLine("soundquest"), "");
    EXPECT_TRUE(pc().calls.empty()) << "no file is touched without a language";
}

TEST_F(LangUnitTest, LookupsOfOneEntry) {
    const struct {
        const char* name;
        std::string current;
        std::string line, text, textSkipFirst;
    } cases[] = {
        {"ended by a blank line", "[k]\nA\nB\n\n[m]\nM\n", "A", "A\r\nB", "B"},
        {"a section line does not end it", "[k]\nA\nB\n[m]\nM\n\nZ\n", "A", "A\r\nB\r\n[m]\r\nM", "B\r\n[m]\r\nM"},
        {"the end of the text ends it", "[k]\nA\nB", "A", "A\r\nB", "B"},
        {"blanks are kept, a line of blanks ends it", "[k]\n  A \n\t B\t\n \t \nC\n", "  A ", "  A \r\n\t B\t",
         "\t B\t"},
        {"CR LF line ends", "[k]\r\nA\r\nB\r\n\r\nC\r\n", "A", "A\r\nB", "B"},
        {"a lone CR is dropped", "[k]\nA\rX\nB\r\n", "AX", "AX\r\nB", "B"},
        {"Ctrl+Z ends the text", "[k]\nA\nB\x1A\nC\n", "A", "A\r\nB", "B"},
        {"the first occurrence counts", "[k]\nfirst\n\n[k]\nsecond\n", "first", "first", ""},
        {"a longer key is another entry", "[kk]\nX\n\n[k]\nY\n", "Y", "Y", ""},
        {"the first value line is not tested for blankness", "[k]\n   \nB\n", "   ", "   \r\nB", "B"},
        {"no byte-order mark is recognised", "\xEF\xBB\xBF[k]\nbom\n[k]\nA\n", "A", "A", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LangUnit::ReleaseLangUnit();
        Select(c.current, "[k]\nfallback\n");
        EXPECT_EQ(LangUnit::LookupLine("k"), c.line);
        EXPECT_EQ(LangUnit::LookupText("k", false), c.text);
        EXPECT_EQ(LangUnit::LookupText("k", true), c.textSkipFirst);
        EXPECT_TRUE(pc().boxes.empty());
    }
}

TEST_F(LangUnitTest, EveryLookupReadsTheCurrentFileFromItsBeginning) {
    Select("[b]\nB\n[a]\nA\n");
    EXPECT_EQ(LangUnit::LookupLine("a"), "A");
    EXPECT_EQ(LangUnit::LookupLine("b"), "B");
    EXPECT_EQ(LangUnit::LookupLine("A"), "A");
    EXPECT_EQ(OpensOf(Current), 3);
}

TEST_F(LangUnitTest, AnEmptyOrMissingEntryComesFromTheFallbackFile) {
    const struct {
        const char* name;
        std::string current;
    } cases[] = {
        {"absent", "[other]\nX\n"},
        {"first value line empty", "[k]\n\nnot taken\n"},
        {"section line is the last line", "[other]\nX\n[k]"},
        {"section line is the last line, with its LF", "[other]\nX\n[k]\n"},
        {"an empty file", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LangUnit::ReleaseLangUnit();
        Select(c.current, "[k]\nfrom english\n", "[k]\nиз русского\n");
        EXPECT_EQ(LangUnit::LookupLine("k"), "from english");
        RussianUi = true;
        GiveMessageSettings();
        EXPECT_EQ(LangUnit::LookupLine("k"), "из русского");
        RussianUi = false;
        GiveMessageSettings();
        EXPECT_TRUE(pc().boxes.empty());
    }
}

TEST_F(LangUnitTest, TheFirstFallingBackLineIsTheWholeEntryAndLaterOnesOneLine) {
    Select("[here]\nH1\nH2\n\n", "[k]\nF1\nF2\n\n[j]\nJ1\nJ2\n");
    EXPECT_EQ(LangUnit::LookupLine("k"), "F1\r\nF2") << "the first falling-back lookup of a run";
    EXPECT_EQ(LangUnit::LookupLine("k"), "F1");
    EXPECT_EQ(LangUnit::LookupLine("j"), "J1");
    // A multi-line lookup answered from the current file sets the switch again.
    EXPECT_EQ(LangUnit::LookupText("here", false), "H1\r\nH2");
    EXPECT_EQ(LangUnit::LookupLine("j"), "J1\r\nJ2");
    EXPECT_EQ(LangUnit::LookupLine("j"), "J1");
    // A multi-line lookup that falls back leaves it clear.
    EXPECT_EQ(LangUnit::LookupText("k", false), "F1\r\nF2");
    EXPECT_EQ(LangUnit::LookupLine("k"), "F1");
    EXPECT_TRUE(pc().boxes.empty());
}

TEST_F(LangUnitTest, AFallingBackTextIgnoresSkipFirst) {
    Select("[here]\nH\n", "[k]\nF1\nF2\n");
    EXPECT_EQ(LangUnit::LookupText("k", true), "F1\r\nF2");
    EXPECT_EQ(LangUnit::FallbackText("k", true), "F2");
    EXPECT_EQ(LangUnit::FallbackText("k", false), "F1\r\nF2");
}

TEST_F(LangUnitTest, AnEntryInNeitherFileIsEmpty) {
    Select("[a]\nA\n", "[b]\nB\n");
    EXPECT_EQ(LangUnit::LookupLine("k"), "");
    EXPECT_EQ(LangUnit::LookupLine("k"), "");
    EXPECT_EQ(LangUnit::LookupText("k", false), "");
    EXPECT_EQ(LangUnit::LookupText("k", true), "");
    EXPECT_TRUE(pc().boxes.empty());
}

TEST_F(LangUnitTest, PlaceholdersAreFilledInOrderWhileTheyOccur) {
    const struct {
        const char* entry;
        std::vector<std::string> arguments;
        const char* expected;
    } cases[] = {
        {"File %1 is older", {"D:\\x.cok"}, "File D:\\x.cok is older"},
        {"%1 and %1", {"A"}, "A and A"},
        {"%1 and %3", {"A", "B", "C"}, "A and %3"},
        {"%2 only", {"A", "B"}, "%2 only"},
        {"%1-%2", {"has %2", "B"}, "has B-B"},
        {"%1%2%3%4", {"a", "b", "c", "d"}, "abcd"},
        {"%4%3%2%1", {"a", "b", "c", "d"}, "dcba"},
        {"%10", {"A"}, "A0"},
        {"100%1%", {"!"}, "100!%"},
        {"%1 %2", {"X"}, "X %2"},  // no argument for %2: it stays
        {"%1 %2 %3", {"X"}, "X %2 %3"},
        {"%1", {"%1"}, "%1"},  // inserted text is not searched again
        {"no placeholders", {"A"}, "no placeholders"},
        {"%1", {}, "%1"},
    };
    for (const auto& c : cases) {
        LangUnit::ReleaseLangUnit();
        Select(std::string("[olderfilever]\n") + c.entry + "\n");
        EXPECT_EQ(LangUnit::LookupFormatted("olderfilever", c.arguments, false), c.expected) << c.entry;
    }
}

TEST_F(LangUnitTest, PlaceholdersSpanTheLinesOfTheEntry) {
    Select("[olderfilever]\nThe file %1\nis older.\nReplace %1?\n\n");
    EXPECT_EQ(LangUnit::LookupFormatted("olderfilever", {"x.cok"}, false),
              "The file x.cok\r\nis older.\r\nReplace x.cok?");
    EXPECT_EQ(LangUnit::LookupFormatted("olderfilever", {"x.cok"}, true), "is older.\r\nReplace x.cok?");
}

TEST_F(LangUnitTest, ACurrentFileThatCannotBeOpenedIsReportedWithoutFallingBack) {
    Select("", "[k]\nfallback\n");
    pc().files.Remove(Current);
    EXPECT_EQ(LangUnit::LookupLine("k"), "");
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{Error("german.lng")});
    EXPECT_EQ(OpensOf(English), 0) << "no fallback after a failure";

    pc().boxes.clear();
    EXPECT_EQ(LangUnit::LookupText("k", false), "\r\n");
    EXPECT_EQ(BoxTexts(), std::vector<std::string>(2, Error("german.lng")));
    pc().boxes.clear();
    EXPECT_EQ(LangUnit::LookupText("k", true), "");
    EXPECT_EQ(BoxTexts(), std::vector<std::string>(2, Error("german.lng")));
}

TEST_F(LangUnitTest, AFallbackFileThatCannotBeOpenedGivesTwoBoxesNamingIt) {
    for (const bool throughText : {false, true}) {
        SCOPED_TRACE(throughText ? "LookupText" : "LookupLine");
        LangUnit::ReleaseLangUnit();
        pc().boxes.clear();
        Select("[other]\nX\n");
        pc().files.Remove(English);
        if (throughText)
            LangUnit::LookupText("k", false);
        else
            LangUnit::LookupLine("k");
        EXPECT_EQ(BoxTexts(), std::vector<std::string>(2, Error("english.lng")));
    }
}

TEST_F(LangUnitTest, AFallbackFileThatCannotBeOpenedWithTheSwitchClearGivesOneBox) {
    Select("[other]\nX\n", "[k]\nF1\nF2\n");
    ASSERT_EQ(LangUnit::LookupLine("k"), "F1\r\nF2");  // clears the switch
    pc().files.Remove(English);
    EXPECT_EQ(LangUnit::LookupLine("k"), "");
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{Error("english.lng")});
}

TEST_F(LangUnitTest, TheErrorBoxIsInTheLanguageOfTheRun) {
    Select("");
    pc().files.Remove(Current);
    RussianUi = true;
    GiveMessageSettings();
    LangUnit::LookupLine("k");
    ASSERT_EQ(pc().boxes.size(), 1u);
    EXPECT_EQ(pc().boxes[0].function, "MessageBoxExW");
    EXPECT_EQ(pc().boxes[0].text, "Не удаётся работать с файлом языковой поддержки german.lng");
}

TEST_F(LangUnitTest, AReadErrorIsReportedOnce) {
    Select("[k]\nA\nB\n", "[k]\nfallback\n");
    pc().Inject("ReadFile", 1, ERROR_READ_FAULT);
    EXPECT_EQ(LangUnit::LookupLine("k"), "");
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{Error("german.lng")});
}

TEST_F(LangUnitTest, TheReadersShareTheirFileForReadingOnly) {
    Select("[k]\nA\nB\n", "[j]\nJ\n");
    ASSERT_EQ(LangUnit::LookupText("k", false), "A\r\nB");
    const std::string current = pc().FullPath(Current);
    EXPECT_FALSE(pc().FileOpenConflicts(current, GENERIC_READ, FILE_SHARE_READ)) << "others may read";
    EXPECT_TRUE(pc().FileOpenConflicts(current, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE))
        << "nobody may write while the current file is open";
    EXPECT_EQ(pc().handles.size(), 1u) << "the current file stays open after a lookup";

    // A file another program writes to cannot be opened for reading.
    LangUnit::ReleaseLangUnit();
    EXPECT_TRUE(pc().handles.empty()) << "release closes the readers";
    Select("[k]\nA\n");
    pc().files.HoldOpen(Current, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
    EXPECT_EQ(LangUnit::LookupLine("k"), "");
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{Error("german.lng")});
}

TEST_F(LangUnitTest, IndexesOutsideTheListEndTheLookupQuietly) {
    pc().files.AddFile(Current, "[k]\nA\n");
    LangUnit::SelectLanguage({"german.lng"}, 3, 0x0407, -1, -1, Current);
    EXPECT_EQ(LangUnit::LookupLine("k"), "");
    EXPECT_EQ(LangUnit::LookupText("k", false), "");
    EXPECT_EQ(LangUnit::LookupFormatted("k", {"x"}, false), "");
    EXPECT_EQ(OpensOf(Current), 0);

    // The current file is in the list, the fallback is not.
    LangUnit::SelectLanguage({"german.lng"}, 0, 0x0407, 5, 5, Current);
    EXPECT_EQ(LangUnit::LookupLine("k"), "A");
    EXPECT_EQ(LangUnit::LookupLine("missing"), "");
    EXPECT_EQ(LangUnit::LookupText("missing", false), "");
    EXPECT_EQ(LangUnit::FallbackLine("k"), "");
    EXPECT_EQ(LangUnit::FallbackText("k", false), "");
    EXPECT_TRUE(pc().boxes.empty());
}

TEST_F(LangUnitTest, ReleaseForgetsTheSelection) {
    Select("[k]\nA\n");
    EXPECT_EQ(LangUnit::SelectedLanguage(), 0);
    EXPECT_EQ(LangUnit::SelectedLanguageId(), 0x0407);
    ASSERT_EQ(LangUnit::LookupLine("k"), "A");
    LangUnit::ReleaseLangUnit();
    EXPECT_EQ(LangUnit::SelectedLanguage(), -1);
    EXPECT_EQ(LangUnit::SelectedLanguageId(), -1);
    EXPECT_TRUE(pc().handles.empty());
    EXPECT_EQ(LangUnit::LookupLine("k"), "");
}

}  // namespace
