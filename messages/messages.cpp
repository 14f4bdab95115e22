#include "messages/messages.h"

#include "driver/update_package.h"
#include "environment/process_environment.h"

const char* const RussianQuestionCaption = "Резонный вопрос";
const char* const EnglishQuestionCaption = "Sound question";

void ShowError(const std::string& englishText, const std::string& russianText) {
    if (RussianUi)
        MessageBoxExA(nullptr, russianText.c_str(), UpdatePackage.RussianTitle.c_str(), ErrorBoxStyle,
                      RussianLanguageId);
    else
        MessageBoxA(nullptr, englishText.c_str(), UpdatePackage.EnglishTitle.c_str(), ErrorBoxStyle);
}

bool ConfirmPrompt(const std::string& englishText, const std::string& russianText) {
    int answer;
    if (RussianUi)
        answer = MessageBoxExA(nullptr, russianText.c_str(), RussianQuestionCaption, QuestionBoxStyle,
                               RussianLanguageId);
    else
        answer = MessageBoxA(nullptr, englishText.c_str(), EnglishQuestionCaption, QuestionBoxStyle);
    return answer == IDYES;
}
