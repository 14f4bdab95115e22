#include "messages/messages.h"

#include "shared/process_values.h"
#include "shared/update_package.h"

const char* const RussianQuestionCaption = "Резонный вопрос";
const char* const EnglishQuestionCaption = "Sound question";

int ShowBox(const BoxText& text, const BoxText& caption, UINT style, std::optional<WORD> language) {
    const std::optional<std::wstring> wideText = text.Wide(), wideCaption = caption.Wide();
    if (wideText && wideCaption) {
        if (language) return MessageBoxExW(nullptr, wideText->c_str(), wideCaption->c_str(), style, *language);
        return MessageBoxW(nullptr, wideText->c_str(), wideCaption->c_str(), style);
    }
    // Without Unicode texts the box is still shown, as the ANSI call reads it.
    if (language) return MessageBoxExA(nullptr, text.Bytes().c_str(), caption.Bytes().c_str(), style, *language);
    return MessageBoxA(nullptr, text.Bytes().c_str(), caption.Bytes().c_str(), style);
}

void ShowError(const BoxText& englishText, const BoxText& russianText) {
    if (RussianUi)
        ShowBox(russianText, UpdatePackage.RussianTitle, ErrorBoxStyle, RussianLanguageId);
    else
        ShowBox(englishText, UpdatePackage.EnglishTitle, ErrorBoxStyle, std::nullopt);
}

bool ConfirmPrompt(const BoxText& englishText, const BoxText& russianText) {
    int answer;
    if (RussianUi)
        answer = ShowBox(russianText, RussianQuestionCaption, QuestionBoxStyle, RussianLanguageId);
    else
        answer = ShowBox(englishText, EnglishQuestionCaption, QuestionBoxStyle, std::nullopt);
    return answer == IDYES;
}
