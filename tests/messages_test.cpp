// Covers: messages/messages.cpp. The two bilingual boxes: which text, caption, style, call and language each
// language gets, and which answers let a question continue.
#include "messages/messages.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "driver/update_package.h"
#include "driver/update_sequence.h"
#include "environment/process_environment.h"
#include "tests/demo_pc.h"

namespace {

// The Russian texts as CP1251 bytes, independent of how the sources are
// compiled: "Обновление программы "Лексомир"" and "Резонный вопрос".
const std::string RussianTitleBytes =
    "\xCE\xE1\xED\xEE\xE2\xEB\xE5\xED\xE8\xE5 \xEF\xF0\xEE\xE3\xF0\xE0\xEC\xEC\xFB "
    "\"\xCB\xE5\xEA\xF1\xEE\xEC\xE8\xF0\"";
const std::string RussianQuestionBytes = "\xD0\xE5\xE7\xEE\xED\xED\xFB\xE9 \xE2\xEE\xEF\xF0\xEE\xF1";

const std::string EnglishText = "Can't install file C:\\Program Files\\Lexomir\\lxn.cok";
const std::string RussianText = "Не удается установить файл C:\\Program Files\\Lexomir\\lxn.cok";
const std::string EnglishQuestion = "Would you like to setup\r\nLexomir update -\r\n\r\nversion 1001?";
const std::string RussianQuestion = "Вы действительно хотите установить\r\nЛексомир -\r\n\r\nверсии 1001?";

class MessagesTest : public DemoPc::SimTest {
protected:
    // The language is chosen at start-up from the user's locale.
    void StartIn(bool russian) {
        pc().userLocale = russian ? 0x0419 : 0x0409;
        StartProcess();
        ASSERT_EQ(RussianUi, russian);
        GiveMessageSettings();
    }
};

struct Expected {
    const char* function;
    std::string text;
    std::string caption;
    UINT style;
    std::optional<WORD> language;
};

void ExpectBox(const Sim::BoxRecord& box, const Expected& e) {
    EXPECT_EQ(box.function, e.function);
    EXPECT_EQ(box.owner, nullptr);
    EXPECT_EQ(box.text, e.text);
    EXPECT_EQ(box.caption, e.caption);
    EXPECT_EQ(box.style, e.style);
    EXPECT_EQ(box.language, e.language);
}

TEST_F(MessagesTest, TheRussianTextsAreCp1251Bytes) {
    EXPECT_EQ(UpdatePackage.RussianTitle, RussianTitleBytes);
    EXPECT_EQ(std::string(RussianQuestionCaption), RussianQuestionBytes);
    EXPECT_EQ(std::string("Резонный вопрос"), RussianQuestionBytes);  // this file's literals too
    EXPECT_EQ(UpdatePackage.EnglishTitle, "Lexomir update");
    EXPECT_EQ(std::string(EnglishQuestionCaption), "Sound question");
}

TEST_F(MessagesTest, ShowErrorShowsOnlyTheTextOfTheRunsLanguage) {
    const struct {
        bool russian;
        Expected box;
    } cases[] = {
        {false, {"MessageBoxW", EnglishText, "Lexomir update", 0x200010, std::nullopt}},
        {true, {"MessageBoxExW", RussianText, RussianTitleBytes, 0x200010, WORD(0x19)}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.russian ? "Russian" : "English");
        Sim::Reset();
        StartIn(c.russian);
        ShowError(EnglishText, RussianText);
        ASSERT_EQ(pc().boxes.size(), 1u);
        ExpectBox(pc().boxes[0], c.box);
        EXPECT_EQ(pc().CallCount(c.russian ? "MessageBoxW" : "MessageBoxExW"), 0);
    }
}

TEST_F(MessagesTest, ShowErrorIgnoresWhatTheBoxReturns) {
    for (bool russian : {false, true}) {
        SCOPED_TRACE(russian ? "Russian" : "English");
        Sim::Reset();
        StartIn(russian);
        pc().Inject(russian ? "MessageBoxExW" : "MessageBoxW", 1, ERROR_NOT_ENOUGH_MEMORY);
        ShowError("first", "первый");
        ShowError("second", "второй");
        // The box that could not be shown leaves the next one unaffected.
        ASSERT_EQ(pc().boxes.size(), 1u);
        EXPECT_EQ(pc().boxes[0].text, russian ? "второй" : "second");
    }
}

TEST_F(MessagesTest, ConfirmPromptIsTrueOnlyForYes) {
    const struct {
        const char* what;
        int answer;  // what the box returns
        bool shown;  // false: the box could not be shown and returned 0
        bool result;
    } answers[] = {
        {"Yes", IDYES, true, true},
        {"No", IDNO, true, false},
        {"OK", IDOK, true, false},
        {"Cancel", IDCANCEL, true, false},
        {"box that returned 0", 0, true, false},
        {"box that could not be shown", 0, false, false},
    };
    const struct {
        bool russian;
        Expected box;
    } languages[] = {
        {false, {"MessageBoxW", EnglishQuestion, "Sound question", 0x42024, std::nullopt}},
        {true, {"MessageBoxExW", RussianQuestion, RussianQuestionBytes, 0x42024, WORD(0x19)}},
    };
    for (const auto& l : languages) {
        for (const auto& a : answers) {
            SCOPED_TRACE(std::string(l.russian ? "Russian, " : "English, ") + a.what);
            Sim::Reset();
            StartIn(l.russian);
            if (a.shown)
                pc().boxAnswers.push_back(a.answer);
            else
                pc().Inject(l.box.function, 1, ERROR_NOT_ENOUGH_MEMORY);

            EXPECT_EQ(ConfirmPrompt(EnglishQuestion, RussianQuestion), a.result);

            EXPECT_EQ(pc().CallCount(l.box.function), 1);
            EXPECT_EQ(pc().CallCount(l.russian ? "MessageBoxW" : "MessageBoxExW"), 0);
            if (a.shown) {
                ASSERT_EQ(pc().boxes.size(), 1u);
                ExpectBox(pc().boxes[0], l.box);
            }
        }
    }
}

TEST_F(MessagesTest, TheQuestionCaptionIsNeverThePackageTitle) {
    // Even with the titles changed, questions keep their fixed captions and
    // errors follow the titles.
    UpdatePackage.EnglishTitle = "Other update";
    UpdatePackage.RussianTitle = "Другое обновление";
    for (bool russian : {false, true}) {
        SCOPED_TRACE(russian ? "Russian" : "English");
        Sim::Reset();
        StartIn(russian);
        pc().boxAnswers.push_back(IDYES);
        EXPECT_TRUE(ConfirmPrompt("q", "в"));
        ShowError("e", "о");
        ASSERT_EQ(pc().boxes.size(), 2u);
        EXPECT_EQ(pc().boxes[0].caption, russian ? RussianQuestionBytes : "Sound question");
        EXPECT_EQ(pc().boxes[1].caption, russian ? "Другое обновление" : "Other update");
    }
}

}  // namespace
