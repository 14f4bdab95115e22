#include "messages/lang_unit.h"

#include <utility>

#include "messages/messages.h"
#include "runtime/text.h"

namespace LangUnit {

namespace {

const char CrLf[] = "\r\n";

TLangUnitState State;

// The list entry, or nothing for an index outside the list.
const std::string* FileName(std::int32_t index) {
    if (index < 0 || std::size_t(index) >= State.languageFiles.size()) return nullptr;
    return &State.languageFiles[std::size_t(index)];
}

std::int32_t FallbackIndex() { return MessageSettings().RussianUi ? State.russianFallback : State.englishFallback; }

// Reads from the reader's position until the section line of `key`, then
// its first value line. The last line of the text is examined too.
void Scan(TTextReader& reader, const std::string& key, std::string& value) {
    while (true) {
        const std::string line = reader.ReadLine();
        if (IsSectionLine(line, key)) {
            value = reader.ReadLine();
            return;
        }
        if (reader.Eof()) return;
    }
}

// Appends the lines up to the first blank one, each followed by CR LF.
void Continue(TTextReader& reader, std::string& value) {
    while (true) {
        const std::string line = reader.ReadLine();
        const bool blank = IsBlank(line);
        if (!blank) value += line + CrLf;
        if (blank || reader.Eof()) return;
    }
}

void DropFinalCrLf(std::string& value) {
    if (value.size() >= 2 && value.compare(value.size() - 2, 2, CrLf) == 0) value.resize(value.size() - 2);
}

}  // namespace

std::int32_t SelectedLanguage() { return State.selected; }
std::int32_t SelectedLanguageId() { return State.selectedId; }

void SelectLanguage(std::vector<std::string> files, std::int32_t selected, std::int32_t languageId,
                    std::int32_t russianFallback, std::int32_t englishFallback, const std::string& currentFile) {
    State.languageFiles = std::move(files);
    State.selected = selected;
    State.selectedId = languageId;
    State.russianFallback = russianFallback;
    State.englishFallback = englishFallback;
    State.currentLanguageFile.Bind(currentFile);
}

void ReleaseLangUnit() {
    TLangUnitState start;
    SwapLangUnitState(start);
}

void SwapLangUnitState(TLangUnitState& other) { std::swap(State, other); }

bool IsSectionLine(std::string_view line, std::string_view key) {
    if (line.size() < key.size() + 2 || line[0] != '[' || line[key.size() + 1] != ']') return false;
    return LowerAscii(std::string(line.substr(1, key.size()))) == LowerAscii(std::string(key));
}

void ReportLanguageFileError(const std::string& fileName) {
    ShowError("Can't handle the language support file " + BoxText::SystemName(fileName),
              "Не удаётся работать с файлом языковой поддержки " + BoxText::SystemName(fileName));
}

std::string LookupLine(const std::string& key) {
    std::string value;
    const std::string* name = FileName(State.selected);
    if (!name) return value;
    try {
        State.currentLanguageFile.Open();
        Scan(State.currentLanguageFile, key, value);
    } catch (const Exception&) {
        ReportLanguageFileError(*name);
        return value;
    }
    if (value.empty()) value = State.continuationPending ? FallbackText(key, false) : FallbackLine(key);
    return value;
}

std::string FallbackLine(const std::string& key) {
    std::string value;
    const std::string* name = FileName(FallbackIndex());
    if (!name) return value;
    try {
        State.fallbackLanguageFile.Bind(MessageSettings().AppFolder + "language\\" + *name);
        State.fallbackLanguageFile.Open();
        Scan(State.fallbackLanguageFile, key, value);
    } catch (const Exception&) {
        ReportLanguageFileError(*name);
        return value;
    }
    if (State.continuationPending)
        State.continuationPending = false;  // the caller reads on
    else
        State.fallbackLanguageFile.Close();
    return value;
}

// Continue, with a read error shown as the named file's: false then, and
// `value` keeps what was read before the error.
bool ContinueOrReport(TTextReader& file, const std::string& name, std::string& value) {
    try {
        Continue(file, value);
    } catch (const Exception&) {
        ReportLanguageFileError(name);
        return false;
    }
    return true;
}

std::string FallbackText(const std::string& key, bool skipFirst) {
    State.continuationPending = true;
    const std::string* name = FileName(FallbackIndex());
    if (!name) return std::string();
    std::string value = FallbackLine(key) + CrLf;
    if (skipFirst) value.clear();
    if (!ContinueOrReport(State.fallbackLanguageFile, *name, value)) return value;
    State.fallbackLanguageFile.Close();
    DropFinalCrLf(value);
    return value;
}

std::string LookupText(const std::string& key, bool skipFirst) {
    State.continuationPending = true;
    const std::string* name = FileName(State.selected);
    if (!name) return std::string();
    std::string value = LookupLine(key) + CrLf;
    if (State.continuationPending) {
        // The entry came from the current file, which stands after its first
        // line; a text that came from FallbackText is complete already.
        if (skipFirst) value.clear();
        if (!ContinueOrReport(State.currentLanguageFile, *name, value)) return value;
    }
    DropFinalCrLf(value);
    return value;
}

std::string LookupFormatted(const std::string& key, const std::vector<std::string>& arguments, bool skipFirst) {
    std::string value = LookupText(key, skipFirst);
    for (std::size_t n = 0; n < 4; ++n) {
        const std::string placeholder = "%" + std::to_string(n + 1);
        if (value.find(placeholder) == std::string::npos) break;
        if (n >= arguments.size()) break;
        std::string filled;
        std::size_t from = 0;
        for (std::size_t at; (at = value.find(placeholder, from)) != std::string::npos; from = at + 2) {
            filled.append(value, from, at - from);
            filled += arguments[n];
        }
        filled.append(value, from, std::string::npos);
        value = std::move(filled);
    }
    return value;
}

}  // namespace LangUnit
