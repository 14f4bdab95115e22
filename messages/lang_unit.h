// Language support files: message texts taken from text files in any
// language instead of the built-in Russian and English pairs.
//
// A file is plain ANSI text read with the line rules of TTextReader. An
// entry is a section line "[key]" (the "[" in the very first column; keys
// compare case-insensitively for A-Z only, and whatever follows the "]" is
// ignored) followed by its value: one line, or for a multi-line read the
// following lines up to the first blank one, joined with CR LF.
//
// A lookup searches the file of the selected language and, when the entry
// is missing there or its first line is empty, a fallback file in
// AppFolder + "language\", picked by the run's language; both come from
// the settings the boxes are given (messages.h). No language is selected
// unless SelectLanguage is called; the installer itself never does, so its
// questions keep their built-in texts.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/text_reader.h"

namespace LangUnit {

// The module's values, as a process keeps them; a new record holds the
// start-up's: no language, readers closed, no list.
struct TLangUnitState {
    std::vector<std::string> languageFiles;
    std::int32_t selected = -1;
    std::int32_t selectedId = -1;
    std::int32_t russianFallback = -1;
    std::int32_t englishFallback = -1;
    // Set: the next fallback keeps its file open for a multi-line read, and a
    // falling-back LookupLine takes the fallback entry's whole text. Only a
    // FallbackLine that finds its way through the file clears it; LookupText and
    // FallbackText set it when they begin. So the first lookup of a run that
    // falls back returns every line of the fallback entry, and later ones one
    // line, until a LookupText answered from the current file sets it again.
    bool continuationPending = true;
    TTextReader currentLanguageFile;
    TTextReader fallbackLanguageFile;
};

// -1 while no language is selected.
std::int32_t SelectedLanguage();
// The Windows language identifier of the selected language; its low 16
// bits are the language of question boxes built from language files.
std::int32_t SelectedLanguageId();

// Chooses a language: the list of file names (without folder), the index
// of the selected one, its language identifier, the fallback indexes for a
// Russian and an English run, and the full path of the selected file.
void SelectLanguage(std::vector<std::string> files, std::int32_t selected, std::int32_t languageId,
                    std::int32_t russianFallback, std::int32_t englishFallback, const std::string& currentFile);

// The module as at start-up: no language, readers closed, list released.
void ReleaseLangUnit();
// Trades the module's values for `other`'s.
void SwapLangUnitState(TLangUnitState& other);

// True when `line` is the section line of `key`.
bool IsSectionLine(std::string_view line, std::string_view key);

// The entry's first line; empty when neither file has it or on failure.
std::string LookupLine(const std::string& key);
// The entry's lines; skipFirst leaves out the first one.
std::string LookupText(const std::string& key, bool skipFirst);
// LookupText with "%1" to "%4" replaced by the arguments, in that order. A
// placeholder is filled only when every one before it occurred; one with no
// argument given stays as it is, and so do those after it.
std::string LookupFormatted(const std::string& key, const std::vector<std::string>& arguments, bool skipFirst);
// The same lookups in the fallback file alone.
std::string FallbackLine(const std::string& key);
std::string FallbackText(const std::string& key, bool skipFirst);

// The box for a language file that cannot be opened or read.
void ReportLanguageFileError(const std::string& fileName);

}  // namespace LangUnit
