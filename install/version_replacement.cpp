#include "install/version_replacement.h"

#include <cstdint>
#include <string>

#include "install/embedded_file.h"
#include "install/file_replacement.h"
#include "install/version_probes.h"
#include "messages/lang_unit.h"
#include "messages/messages.h"
#include "messages/support_log.h"
#include "platform/files.h"
#include "platform/win32.h"
#include "progress/progress_window.h"
#include "runtime/exception.h"

namespace {

// The file types whose version can be read. The resource type must be one
// of these words exactly: "PAK" is no "pak".
bool HasVersionProbe(const std::string& type) {
    for (const char* word : {"pak", "3bs", "lng", "cok", "exe"})
        if (type == word) return true;
    return false;
}

struct VersionVerdict {
    bool older = false;  // the installed file is the newer one
    std::string installedText, newText;
};

// Probes the new file first, then the installed one.
VersionVerdict CompareVersions(const std::string& type, const std::string& fresh, const std::string& installed) {
    VersionVerdict verdict;
    if (type == "exe") {
        verdict.newText = FileVersionString(fresh);
        verdict.installedText = FileVersionString(installed);
        verdict.older = !verdict.installedText.empty() && verdict.newText != verdict.installedText &&
                        IsOlderVersion(verdict.newText, verdict.installedText);
        return verdict;
    }
    // A "!" in the path of a language file marks one that is always replaced.
    if (type == "lng" && installed.find('!') != std::string::npos) return verdict;
    std::int32_t (*probe)(const std::string&) = type == "pak"   ? ProbePakVersion
                                                : type == "3bs" ? Probe3bsVersion
                                                : type == "cok" ? ProbeCokVersion
                                                                : ProbeLngVersion;
    const std::int32_t freshVersion = probe(fresh);
    const std::int32_t installedVersion = probe(installed);
    verdict.older = installedVersion > freshVersion;
    verdict.newText = std::to_string(freshVersion);
    verdict.installedText = std::to_string(installedVersion);
    return verdict;
}

// Whether to put the older file in place of the newer one: in the selected
// language's own words when there is one, else the built-in texts.
bool ConfirmOlderReplacement(const std::string& target, const VersionVerdict& verdict) {
    if (LangUnit::SelectedLanguage() < 0) {
        const BoxText path = BoxText::SystemName(target);
        const BoxText installed = BoxText::SystemName(verdict.installedText);
        const BoxText fresh = BoxText::SystemName(verdict.newText);
        return ConfirmPrompt(path +
                                 " file installing is of older version\r\n"
                                 "than the same already installed.\r\n\r\n"
                                 "Do you really want to replace existing\r\n"
                                 "new file version " +
                                 installed + " with an older file version " + fresh + "?",
                             "Устанавливаемый файл " + path +
                                 "\r\n"
                                 "более старой версии, чем уже установленный.\r\n\r\n"
                                 "Действительно ли Вы хотите заменить уже имеющийся\r\n"
                                 "файл версии " +
                                 installed + " на более старый версии " + fresh + "?");
    }
    // The language file's texts are read as the ANSI call would read them.
    const BoxText caption = BoxText::SystemName(LangUnit::LookupLine("soundquest"));
    const BoxText text = BoxText::SystemName(LangUnit::LookupFormatted("olderfilever", {target}, false));
    const WORD language = WORD(LangUnit::SelectedLanguageId() & 0xFFFF);
    return ShowBox(text, caption, QuestionBoxStyle, language) == IDYES;
}

enum class Outcome { Written, Kept, Failed };

// The new data goes beside the installed file first, so that both can be
// probed; an older one is put in place only when the user says so, with
// the progress window out of the way of the question.
Outcome ReplaceAfterVersionCheck(const std::string& type, const std::string& target, TLockedResource& resource) {
    Temporary temp;
    temp.path = TempInstallName(target);
    try {
        if (!WriteNewFile(temp, resource)) {
            DiscardTemporary(temp);
            return Outcome::Failed;
        }
        // The probes open the new file by its name, and a writer's handle
        // would refuse them.
        temp.file.Reset();
        const VersionVerdict verdict = CompareVersions(type, temp.path, target);
        bool replace = true;
        if (verdict.older) {
            Progress::Hide();
            replace = ConfirmOlderReplacement(target, verdict);
        }
        if (!replace) {
            DiscardTemporary(temp);
        } else if (!MoveIntoPlace(temp, target)) {
            // The installed file is as it was; a failure leaves the window hidden.
            DiscardTemporary(temp);
            return Outcome::Failed;
        }
        if (verdict.older) Progress::Show("", "");
        return replace ? Outcome::Written : Outcome::Kept;
    } catch (const Exception&) {
        // The progress window could not be started again. The file is in
        // place if the move was made; only the temporary one is removed.
        DiscardTemporary(temp);
        return Outcome::Failed;
    }
}

}  // namespace

bool InstallEmbeddedFile(const std::string& name, const std::string& type, const std::string& target,
                         bool versionCheck) {
    TLockedResource resource;
    Outcome outcome = Outcome::Failed;
    if (resource.Lock(name, type)) {
        // Without a check, without an installed file or without a way to read
        // its version, the file is simply replaced.
        if (!versionCheck || !IsExistingFile(target) || !HasVersionProbe(type))
            outcome = ReplaceInstalledFile(target, resource) ? Outcome::Written : Outcome::Failed;
        else
            outcome = ReplaceAfterVersionCheck(type, target, resource);
    }
    const BoxText path = BoxText::SystemName(target);
    if (outcome == Outcome::Written)
        SupportLog::Note("data file: " + path + " written, " + std::to_string(resource.Size()) + " bytes");
    else if (outcome == Outcome::Kept)
        SupportLog::Note("data file: " + path + " kept, as the user chose");
    if (outcome == Outcome::Failed) {
        SupportLog::Note("data file: " + path + " not written, " + SupportLog::ErrorText(GetLastError()));
        ShowInstallFailure(target);
    }
    return outcome == Outcome::Written;
}
