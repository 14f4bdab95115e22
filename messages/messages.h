// Bilingual message boxes. Every text exists as an English and a Russian
// version; the language the run gives them picks one. No box has an owner.
#pragma once

#include <optional>
#include <string>

#include "messages/box_text.h"
#include "platform/win32.h"

inline constexpr UINT ErrorBoxStyle = MB_ICONHAND | MB_SERVICE_NOTIFICATION;                      // 0x200010
inline constexpr UINT QuestionBoxStyle = MB_YESNO | MB_ICONQUESTION | MB_TASKMODAL | MB_TOPMOST;  // 0x42024
inline constexpr UINT NoticeBoxStyle = MB_ICONASTERISK | MB_TASKMODAL | MB_TOPMOST;               // 0x42040
// LANG_RUSSIAN, SUBLANG_NEUTRAL: Russian texts on the predefined buttons.
inline constexpr WORD RussianLanguageId = MAKELANGID(LANG_RUSSIAN, SUBLANG_NEUTRAL);

extern const char* const RussianQuestionCaption;
extern const char* const EnglishQuestionCaption;

// What the boxes take from the run, given by the update sequence as soon as
// it knows each: the language the start-up chose, the error boxes' captions
// (the package's titles), and the application's folder, under which
// LangUnit finds its fallback files ("language\").
struct TMessageSettings {
    bool RussianUi = false;
    std::string RussianTitle;
    std::string EnglishTitle;
    std::string AppFolder;
};
void SetMessageSettings(const TMessageSettings& settings);
const TMessageSettings& MessageSettings();

// One box without an owner, in Unicode; with a language id through
// MessageBoxEx. Returns what the box returned. Where nobody can see it (see
// below) no box is shown: a question counts as answered No. The support log
// records each box and its answer.
int ShowBox(const BoxText& text, const BoxText& caption, UINT style, std::optional<WORD> language);
// Whether anyone can see a box of this process: not in session 0 (a
// service, a program run as SYSTEM by a deployment tool), nor where its
// window station is invisible. There a box would wait for ever. Where it
// cannot be told, a box is shown.
bool BoxCanBeAnswered();
// The support log's line for a box: its caption, its text, and the answer.
void NoteBox(const BoxText& text, const BoxText& caption, UINT style, std::optional<int> answer);
// One error box in the language of the run, captioned with the package title.
void ShowError(const BoxText& englishText, const BoxText& russianText);
// One information box in the language of the run, captioned with the
// package title.
void ShowNotice(const BoxText& englishText, const BoxText& russianText);
// A yes/no question in the language of the run; true only for Yes.
bool ConfirmPrompt(const BoxText& englishText, const BoxText& russianText);
