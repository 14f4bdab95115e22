#include "messages/messages.h"

#include "messages/support_log.h"

const char* const RussianQuestionCaption = "Резонный вопрос";
const char* const EnglishQuestionCaption = "Sound question";

namespace {

TMessageSettings Settings;

bool IsQuestion(UINT style) { return (style & MB_TYPEMASK) == MB_YESNO; }

int ShowVisibleBox(const BoxText& text, const BoxText& caption, UINT style, std::optional<WORD> language) {
    const std::optional<std::wstring> wideText = text.Wide(), wideCaption = caption.Wide();
    if (wideText && wideCaption) {
        if (language) return MessageBoxExW(nullptr, wideText->c_str(), wideCaption->c_str(), style, *language);
        return MessageBoxW(nullptr, wideText->c_str(), wideCaption->c_str(), style);
    }
    // Without Unicode texts the box is still shown, as the ANSI call reads it.
    if (language) return MessageBoxExA(nullptr, text.Bytes().c_str(), caption.Bytes().c_str(), style, *language);
    return MessageBoxA(nullptr, text.Bytes().c_str(), caption.Bytes().c_str(), style);
}

}  // namespace

void SetMessageSettings(const TMessageSettings& settings) { Settings = settings; }
const TMessageSettings& MessageSettings() { return Settings; }

bool BoxCanBeAnswered() {
    // Since Windows Vista no user logs on to session 0: an interactive
    // service's station there calls itself visible, yet nobody sees it.
    DWORD session = 0;
    if (ProcessIdToSessionId(GetCurrentProcessId(), &session) && session == 0) return false;
    const HWINSTA station = GetProcessWindowStation();
    USEROBJECTFLAGS flags{};
    DWORD needed = 0;
    if (!station || !GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, &needed)) return true;
    return (flags.dwFlags & WSF_VISIBLE) != 0;
}

void NoteBox(const BoxText& text, const BoxText& caption, UINT style, std::optional<int> answer) {
    std::string outcome;
    if (!answer)
        outcome = IsQuestion(style) ? " - not shown: nobody can answer it here (the window station cannot be seen), "
                                      "so it counts as No; \"modest\" runs without questions"
                                    : " - not shown: nobody can see it here (the window station cannot be seen)";
    else if (*answer == IDYES)
        outcome = " - Yes";
    else if (*answer == IDNO)
        outcome = " - No";
    else if (*answer == IDOK)
        outcome = " - OK";
    else if (*answer == 0)
        outcome = " - could not be shown";
    else
        outcome = " - answer " + std::to_string(*answer);
    SupportLog::Note("box \"" + caption + "\": " + text + outcome);
}

int ShowBox(const BoxText& text, const BoxText& caption, UINT style, std::optional<WORD> language) {
    if (!BoxCanBeAnswered()) {
        NoteBox(text, caption, style, std::nullopt);
        return IsQuestion(style) ? IDNO : IDOK;
    }
    const int answer = ShowVisibleBox(text, caption, style, language);
    NoteBox(text, caption, style, answer);
    return answer;
}

void ShowError(const BoxText& englishText, const BoxText& russianText) {
    if (Settings.RussianUi)
        ShowBox(russianText, Settings.RussianTitle, ErrorBoxStyle, RussianLanguageId);
    else
        ShowBox(englishText, Settings.EnglishTitle, ErrorBoxStyle, std::nullopt);
}

void ShowNotice(const BoxText& englishText, const BoxText& russianText) {
    if (Settings.RussianUi)
        ShowBox(russianText, Settings.RussianTitle, NoticeBoxStyle, RussianLanguageId);
    else
        ShowBox(englishText, Settings.EnglishTitle, NoticeBoxStyle, std::nullopt);
}

bool ConfirmPrompt(const BoxText& englishText, const BoxText& russianText) {
    int answer;
    if (Settings.RussianUi)
        answer = ShowBox(russianText, RussianQuestionCaption, QuestionBoxStyle, RussianLanguageId);
    else
        answer = ShowBox(englishText, EnglishQuestionCaption, QuestionBoxStyle, std::nullopt);
    return answer == IDYES;
}
