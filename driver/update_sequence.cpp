#include "driver/update_sequence.h"

#include <optional>

#include "driver/app_instance.h"
#include "driver/main_app.h"
#include "driver/update_package.h"
#include "environment/install_target.h"
#include "environment/process_environment.h"
#include "install/embedded_file.h"
#include "install/install_guard.h"
#include "install/installed_size.h"
#include "install/self_check.h"
#include "messages/messages.h"
#include "messages/support_log.h"
#include "platform/files.h"
#include "platform/win32.h"
#include "runtime/run_stages.h"
#include "runtime/text.h"

bool QuietMode = false;
TUpdatePackage UpdatePackage;

namespace {

bool AskToStartApp() {
    const TUpdatePackage& p = UpdatePackage;
    // This question has one text only, Russian, under the English title.
    const std::string text = "На Ваш компьютер установлено\r\n" + p.RussianTitle + " -\r\n" + p.VersionedTitle +
                             "\r\n\r\nЗапустить программу?";
    return ShowBox(text, p.EnglishTitle, QuestionBoxStyle, RussianLanguageId) == IDYES;
}

// Notes the self-check's verdict; a failed one is shown and ends the run.
std::optional<UpdateOutcome> ReportSelfCheck(SelfCheckResult result) {
    switch (result) {
        case SelfCheckResult::Intact:
            SupportLog::Note("self-check: the installer's file is intact");
            return std::nullopt;
        case SelfCheckResult::Unreadable:
            SupportLog::Note("self-check: the installer's file could not be read, " +
                             SupportLog::ErrorText(GetLastError()));
            ShowError("Failed to check up the package file!", "Не удаётся проверить файл пакета установки!");
            return UpdateOutcome::InstallerUnreadable;
        case SelfCheckResult::Distorted:
            SupportLog::Note("self-check: the installer's file has been altered");
            ShowError("The package file has been distorted!\r\nVirus?", "Файл пакета установки искажён!\r\nВирус?");
            return UpdateOutcome::InstallerAltered;
    }
    return UpdateOutcome::InstallerUnreadable;
}

// The self-check's verdict, made once. An interactive run makes it at
// once: a damaged file is reported before any question. A quiet run makes
// it as it writes its data file, from the same reading of its own file
// (Write), or, where it stops before that, there and then. Either way
// nothing is put in place, and the application is not asked to quit,
// before it has passed; and its failure outranks any other, as it would
// have come first.
class TSelfCheckStep {
public:
    explicit TSelfCheckStep(bool deferred) {
        if (!deferred) Settle(CheckOwnFile());
    }
    std::optional<UpdateOutcome> Failure() {
        if (!settled_) Settle(CheckOwnFile());
        return failure_;
    }
    // Writes the data file's bytes to `file`: copied as the check reads the
    // own file, where that holds them as the image does, else from the
    // image. Nothing is written for a failed check: the question that
    // follows withholds the file.
    bool Write(HANDLE file, const void* bytes, DWORD size) {
        if (!settled_) {
            TResourceCopy copy{UpperAscii(UpdatePackage.DataExt), UpperAscii(UpdatePackage.DataName), size, file};
            Settle(CheckOwnFile(&copy));
            if (failure_) return false;
            if (copy.writeError) {
                SetLastError(copy.writeError);
                return false;
            }
            if (copy.written == size) return true;
            SupportLog::Note(copy.located ? "data file: copied in part, written again from the loaded image"
                                          : "data file: the installer's file is not the running build or lacks "
                                            "the data, written from the loaded image");
            const LARGE_INTEGER start{};
            if (copy.written && !SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) return false;
        }
        return WriteWhole(file, bytes, size);
    }

private:
    void Settle(SelfCheckResult result) {
        failure_ = ReportSelfCheck(result);
        settled_ = true;
    }
    bool settled_ = false;
    std::optional<UpdateOutcome> failure_;
};

// The data file is in use while the application runs. Only once the run
// is about to put it in place is it asked to quit, and given a few seconds
// to let go: a run that stops before this leaves it alone. True when it ran.
bool CloseRunningApp() {
    if (InstanceMarkerAbsent()) return false;
    RequestAppQuit();
    SupportLog::Note(WaitForAppToQuit() ? "running application: asked to quit, and it did"
                                        : "running application: asked to quit, and still running after 4 s");
    return true;
}

}  // namespace

void FillPackageConstants() {
    TUpdatePackage& p = UpdatePackage;
    p.DataFileName = p.DataName + "." + p.DataExt;
    p.AppName = "Lexomir";
    p.RussianTitle = "Обновление программы \"Лексомир\"";
    p.EnglishTitle = "Lexomir update";
    p.VersionedTitle = p.PackageTitle + std::to_string(p.PackageVersion);
}

void GiveMessageSettings() {
    SetMessageSettings(
        {RussianUi, UpdatePackage.RussianTitle, UpdatePackage.EnglishTitle, InstallEnvironment.AppFolder});
}

UpdateOutcome RunUpdateSequence() {
    MarkRunStage(RunStage::Sequence);
    FillPackageConstants();
    GiveMessageSettings();
    const TUpdatePackage& p = UpdatePackage;

    if (!DiscoverInstallTarget(p.AppName)) {
        SupportLog::Note("discovery: the per-user shell folders could not be read");
        return UpdateOutcome::RegistryUnreadable;
    }
    GiveMessageSettings();  // the application's folder, now found
    SupportLog::Note("application folder: " + BoxText::SystemName(InstallEnvironment.AppFolder) +
                     " (uninstall entry HKLM\\" + BoxText::SystemName(InstallEnvironment.UninstallEntryPath) + ")");

    if (!InstallEnvironment.UserIsAdmin) {
        SupportLog::Note("rights: not an administrator");
        ShowError("You have no right to install applications!", "У Вас нет права устанавливать программы!");
        return UpdateOutcome::NoAdminRights;
    }

    QuietMode = FirstArgument == "modest";
    MarkRunStage(RunStage::SelfCheck);
    TSelfCheckStep check(QuietMode);
    if (!QuietMode)
        if (auto failed = check.Failure()) return *failed;

    if (!IsExistingFile(AppExecutablePath())) {
        if (auto failed = check.Failure()) return *failed;
        SupportLog::Note("application: " + BoxText::SystemName(AppExecutablePath()) + " is missing");
        ShowError("There's no subject of update - the Lexomir installed.\r\nPlease, install the program at first.",
                  "Нет предмета обновления - установленной программы \"Лексомир\".\r\n"
                  "Пожалуйста, сначала установите программу.");
        return UpdateOutcome::NotInstalled;
    }

    if (!QuietMode &&
        !ConfirmPrompt("Would you like to setup\r\n" + p.EnglishTitle + " -\r\n" + p.VersionedTitle + "?",
                       "Вы действительно хотите установить\r\n" + p.RussianTitle + " -\r\n" + p.VersionedTitle + "?"))
        return UpdateOutcome::Declined;

    // Another run for this application finishes first, and this one then
    // installs the same data again. One that has been at work for a minute
    // is left to it, application and all: this run changes nothing.
    MarkRunStage(RunStage::Write);
    const std::string target = InstallEnvironment.AppFolder + p.DataFileName;
    // Held from here to the end of the run: where a standard user may
    // change the folder or one above it, nobody can swap it for a link to
    // other files while the run, as administrator, writes and renames in it.
    std::string refusal;
    const TOwnedFile folder = HoldFolder(InstallEnvironment.AppFolder, refusal);
    if (!folder) {
        const DWORD error = GetLastError();
        if (auto failed = check.Failure()) return *failed;
        SupportLog::Note("application folder: not a folder of a file system (" + refusal +
                         "), nothing written: " + SupportLog::ErrorText(error));
        ShowInstallFailure(target);
        return UpdateOutcome::WriteFailed;
    }
    const TInstallGuard guard = TakeInstallGuard(InstallEnvironment.AppFolder, p.AppName);
    if (!guard) {
        if (auto failed = check.Failure()) return *failed;
        ShowInstallFailure(target);
        return guard.OtherRunAtWork() ? UpdateOutcome::AnotherRunAtWork : UpdateOutcome::WriteFailed;
    }

    bool appRan = false;
    TInstalledData data;
    const auto mayPlace = [&](bool written) {
        if (check.Failure()) return false;
        if (written) appRan = CloseRunningApp();
        return true;
    };
    const auto write = [&](HANDLE file, const void* bytes, DWORD size) { return check.Write(file, bytes, size); };
    const bool installed =
        InstallDataFile(p.DataName, p.DataExt, target, data, mayPlace, QuietMode ? TWriteData(write) : nullptr);
    if (data.withheld) return *check.Failure();

    MarkRunStage(RunStage::Size);
    ReportInstalledSize(installed ? &data : nullptr, DWORD(p.PackageVersion));
    MarkRunStage(RunStage::Ending);
    if (data.staged && !QuietMode)
        ShowNotice("File " + BoxText::SystemName(target) +
                       " is in use by another program.\r\nThe update will be complete when Windows restarts.",
                   "Файл " + BoxText::SystemName(target) +
                       " занят другой программой.\r\nОбновление завершится после перезагрузки Windows.");

    // A caller that asked for a restart gets its application back, even
    // when the file could not be written; what this run closed is started
    // again in any case, without a question. Only a user who was not
    // running it is asked, after a successful write.
    const bool runapp = QuietMode && SecondArgument == "runapp";
    LeaveApp(runapp || (installed && !data.staged && !QuietMode && !appRan && AskToStartApp()));
    if (!installed) return UpdateOutcome::WriteFailed;
    return data.staged ? UpdateOutcome::RestartToFinish : UpdateOutcome::Installed;
}
