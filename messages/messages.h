// Bilingual message boxes. Every text exists as an English and a Russian
// version; RussianUi picks one for the whole run. No box has an owner.
#pragma once

#include <string>

#include "platform/win32.h"

inline constexpr UINT ErrorBoxStyle = MB_ICONHAND | MB_SERVICE_NOTIFICATION;                      // 0x200010
inline constexpr UINT QuestionBoxStyle = MB_YESNO | MB_ICONQUESTION | MB_TASKMODAL | MB_TOPMOST;  // 0x42024
// LANG_RUSSIAN, SUBLANG_NEUTRAL: Russian texts on the predefined buttons.
inline constexpr WORD RussianLanguageId = MAKELANGID(LANG_RUSSIAN, SUBLANG_NEUTRAL);

extern const char* const RussianQuestionCaption;
extern const char* const EnglishQuestionCaption;

// One error box in the language of the run, captioned with the package title.
void ShowError(const std::string& englishText, const std::string& russianText);
// A yes/no question in the language of the run; true only for Yes.
bool ConfirmPrompt(const std::string& englishText, const std::string& russianText);
