#include "install/embedded_file.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <optional>
#include <vector>

#include "install/file_holders.h"
#include "install/version_probes.h"
#include "messages/lang_unit.h"
#include "messages/messages.h"
#include "messages/support_log.h"
#include "platform/code_pages.h"
#include "platform/files.h"
#include "platform/owned_handle.h"
#include "platform/sha256.h"
#include "platform/win32.h"
#include "progress/progress_window.h"
#include "runtime/exception.h"
#include "runtime/random.h"
#include "runtime/text.h"

namespace {

// The resource's bytes where the loader put them with the image: the file
// is written straight from there, with no copy, and the resource is let go
// as soon as that write is done.
class TLockedResource {
public:
    TLockedResource() = default;
    TLockedResource(const TLockedResource&) = delete;
    TLockedResource& operator=(const TLockedResource&) = delete;
    ~TLockedResource() { Release(); }

    bool Lock(const std::string& name, const std::string& type) {
        HRSRC resource = FindResourceA(nullptr, name.c_str(), type.c_str());
        if (!resource) return false;
        loaded_ = LoadResource(nullptr, resource);
        if (!loaded_) return false;
        data_ = LockResource(loaded_);
        // 0 is both an empty resource and a failure; only the error tells.
        SetLastError(ERROR_SUCCESS);
        size_ = SizeofResource(nullptr, resource);
        return data_ != nullptr && (size_ != 0 || GetLastError() == ERROR_SUCCESS);
    }
    const void* Data() const { return data_; }
    DWORD Size() const { return size_; }
    void Release() {
        if (loaded_) FreeResource(loaded_);
        loaded_ = nullptr;
        data_ = nullptr;
    }

private:
    HGLOBAL loaded_ = nullptr;
    const void* data_ = nullptr;
    DWORD size_ = 0;
};

// A scanner that opens each fresh file, or a backup or indexing tool, can
// refuse a rename or delete for a moment. Such a refusal is tried again,
// for about a second and a half in all, before it counts as a failure.
constexpr DWORD RetryPausesMs[] = {50, 100, 200, 400, 800};

bool MayPass(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED || error == ERROR_LOCK_VIOLATION;
}

template <typename Attempt>
bool WithBriefRetry(Attempt attempt) {
    for (DWORD pause : RetryPausesMs) {
        if (attempt()) return true;
        if (!MayPass(GetLastError())) return false;
        Sleep(pause);
    }
    return attempt();
}

bool DeleteWithRetry(const std::string& path) {
    return WithBriefRetry([&] { return DeleteFileA(path.c_str()) != FALSE; });
}

// Clears the temporary name of whatever stands there: a file left by an
// earlier run (whatever its attributes), an empty folder, or a link or
// junction, which is removed itself and never followed. False when the
// name could not be cleared.
bool ClearTemporaryName(const std::string& temp) {
    const DWORD attributes = GetFileAttributesA(temp.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    // A folder, a junction or a folder link: RemoveDirectoryA takes the link itself.
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return WithBriefRetry([&] { return RemoveDirectoryA(temp.c_str()) != FALSE; });
    // DeleteFileA takes a file link itself. Read-only stops a delete;
    // hidden or system would stop the exclusive create that follows no
    // more than it stops this delete, but they go with it.
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
        (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)))
        SetFileAttributesA(temp.c_str(), FILE_ATTRIBUTE_NORMAL);
    return DeleteWithRetry(temp);
}

// The temporary file of this run: whether it made one, which file that is,
// and the handle it is held by. The rename into place and the removal after
// a failure act on this file through that handle, whatever its name has
// come to stand for meanwhile.
struct Temporary {
    std::string path;
    bool created = false;
    std::optional<TFileIdentity> identity;
    TOwnedFile file;
};

// Holds this run's temporary file again after it was let go (for the
// version probes): opened by its name, kept only when that name still
// stands for the file this run made.
bool Reacquire(Temporary& temp) {
    if (temp.file) return true;
    if (!temp.created || !temp.identity) return false;
    WithBriefRetry([&] {
        temp.file = TOwnedFile(CreateFileA(temp.path.c_str(), DELETE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                           OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        return bool(temp.file);
    });
    if (temp.file && SoleNamePlainFile(temp.file.Get()) != temp.identity) {
        temp.file.Reset();
        SetLastError(ERROR_FILE_NOT_FOUND);
    }
    return bool(temp.file);
}

// Removes the temporary file this run made, after a failure or a No,
// waiting briefly for a scanner that holds it: marked for deletion through
// its handle, it goes when the handle is closed. What stays is cleared by
// the next run. Nothing is done when this run made no file there, or when
// its name no longer stands for it.
void DiscardTemporary(Temporary& temp) {
    if (Reacquire(temp)) {
        FILE_DISPOSITION_INFO disposition{};
        disposition.DeleteFile = TRUE;
        WithBriefRetry([&] {
            return SetFileInformationByHandle(temp.file.Get(), FileDispositionInfo, &disposition, sizeof disposition) !=
                   FALSE;
        });
    }
    temp.file.Reset();
}

// A new file of this process: created exclusively, so a name that someone
// took again after the clearing is a failure rather than something to
// write through, and checked to be a plain file with this one name. It is
// held without sharing until it is renamed into place or removed. A
// deleted name that a scanner still holds refuses the create for a moment
// (Windows 7 and 8.1, FAT, exFAT and network volumes): it is tried again.
bool CreateFreshFile(Temporary& temp) {
    WithBriefRetry([&] {
        temp.file = TOwnedFile(CreateFileA(temp.path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr,
                                           CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        return bool(temp.file);
    });
    if (!temp.file) return false;
    temp.created = true;
    temp.identity = SoleNamePlainFile(temp.file.Get());
    return temp.identity.has_value();
}

// The SHA-256 of the bytes, as 64 upper-case hex digits (as PowerShell's
// Get-FileHash prints it); empty where no hash engine could be had.
std::string Sha256Text(const void* bytes, DWORD size) {
    Sha256 hash;
    std::uint8_t digest[32];
    if (!hash.Begin() || !hash.Update(bytes, size) || !hash.Finish(digest)) return std::string();
    std::string text;
    for (std::uint8_t b : digest) text += HexUpper(b, 2);
    return text;
}

// Writes the whole buffer with one write to a file made fresh at the
// temporary name, cleared first, and makes it durable before it is renamed
// into place; the file stays held. The resource is let go before the
// flush unless `sha256` is given: the caller may then need it again (and
// lets it go), and the hash of the data goes there.
bool WriteNewFile(Temporary& temp, TLockedResource& resource, std::string* sha256 = nullptr) {
    if (!ClearTemporaryName(temp.path) || !CreateFreshFile(temp)) return false;
    DWORD written = 0;
    const bool ok =
        WriteFile(temp.file.Get(), resource.Data(), resource.Size(), &written, nullptr) && written == resource.Size();
    if (ok && sha256) *sha256 = Sha256Text(resource.Data(), resource.Size());
    if (!sha256) resource.Release();
    return ok && FlushFileBuffers(temp.file.Get());
}

// Renames the open file to `target`, replacing a file there. The name is
// given in the system's own form ("\??\C:\..."), which every version of
// Windows takes as it is.
bool RenameOpenFile(HANDLE file, const std::string& target, bool replace = true) {
    const std::optional<std::wstring> wide = ToUnicode(target, CP_ACP);
    if (!wide) return false;
    const std::wstring name = L"\\??\\" + *wide;
    std::vector<std::uint8_t> buffer(offsetof(FILE_RENAME_INFO, FileName) + (name.size() + 1) * sizeof(WCHAR));
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = replace ? TRUE : FALSE;
    info->RootDirectory = nullptr;
    info->FileNameLength = DWORD(name.size() * sizeof(WCHAR));
    std::memcpy(info->FileName, name.c_str(), (name.size() + 1) * sizeof(WCHAR));
    return SetFileInformationByHandle(file, FileRenameInfo, info, DWORD(buffer.size())) != FALSE;
}

// Moves the temporary file over the installed one through the handle it
// is held by: only the file this run wrote and flushed is ever put in
// place, never another run's or one half written, whatever stands at its
// name. A read-only installed file (files copied from a CD carry the
// attribute) would refuse it: the attribute is cleared first, and put back
// when the move fails, so the old file stays as it was. The new file has
// its own attributes.
bool MoveIntoPlace(Temporary& temp, const std::string& target) {
    if (!Reacquire(temp)) return false;
    const DWORD attributes = GetFileAttributesA(target.c_str());
    const bool readOnly =
        attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
            FILE_ATTRIBUTE_READONLY;
    if (readOnly) {
        const DWORD writable = attributes & ~DWORD(FILE_ATTRIBUTE_READONLY);
        SetFileAttributesA(target.c_str(), writable ? writable : DWORD(FILE_ATTRIBUTE_NORMAL));
    }
    const bool moved = WithBriefRetry([&] { return RenameOpenFile(temp.file.Get(), target); });
    if (!moved && readOnly) SetFileAttributesA(target.c_str(), attributes);
    // Flushed before the rename: a close that fails now loses nothing.
    if (moved) temp.file.Reset();
    return moved;
}

// Files staged by earlier runs beside `target`: its temporary name, a dot
// and eight hex digits. Each but `keep` is removed, so that none replaces
// newer data at the next restart (a pending rename whose file is gone does
// nothing). False where one stays, or the folder could not be listed.
bool ClearStagedFiles(const std::string& target, const std::string& keep) {
    const std::string temp = TempInstallName(target);
    const std::string folder = temp.substr(0, temp.rfind('\\') + 1);
    const std::string prefix = UpperAscii(temp.substr(folder.size()) + ".");
    WIN32_FIND_DATAA entry;
    TOwnedFind find(FindFirstFileA((folder + "*").c_str(), &entry));
    if (!find) return false;
    bool cleared = true;
    do {
        const std::string name = entry.cFileName;
        if (name.size() == prefix.size() + 8 && UpperAscii(name).rfind(prefix, 0) == 0 &&
            !(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && UpperAscii(folder + name) != UpperAscii(keep))
            cleared = DeleteWithRetry(folder + name) && cleared;
    } while (FindNextFileA(find.Get(), &entry));
    return cleared && GetLastError() == ERROR_NO_MORE_FILES;  // the listing was read to its end
}

// Whether another program holds the file open without sharing its
// deletion: the one refusal of the rename that a restart cures.
bool HeldByAnother(const std::string& path) {
    const TOwnedFile probe(CreateFileA(path.c_str(), DELETE | FILE_READ_ATTRIBUTES,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    return !probe && GetLastError() == ERROR_SHARING_VIOLATION;
}

// A name beside the target that only this run uses: no other run's
// temporary file, half written, can ever stand at it.
std::string StagedName(const std::string& target) {
    return TempInstallName(target) + "." + HexUpper(RandomBelow(0xFFFFFFFFu), 8);
}

// Has Windows move the staged file over the target as it next starts,
// before any program can hold either; the file is let go.
bool RegisterStaged(Temporary& staged, const std::string& target, TInstalledData& data) {
    if (!MoveFileExA(staged.path.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT))
        return false;
    staged.file.Reset();
    data.staged = true;
    data.stagedPath = staged.path;
    return true;
}

// Stages this run's written temporary file: renamed, still held, to a name
// of its own, and registered.
bool StageForRestart(Temporary& temp, const std::string& target, TInstalledData& data) {
    if (!Reacquire(temp)) return false;
    for (int tries = 0;; ++tries) {
        const std::string name = StagedName(target);
        if (RenameOpenFile(temp.file.Get(), name, false)) {
            temp.path = name;
            return RegisterStaged(temp, target, data);
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS || tries == 3) return false;
    }
}

// Stages a second copy of the data, written straight to a name of its own
// (made with CREATE_NEW: nothing needs clearing there).
bool StageCopy(TLockedResource& resource, const std::string& target, TInstalledData& data) {
    Temporary staged;
    staged.path = StagedName(target);
    DWORD written = 0;
    if (CreateFreshFile(staged) && WriteFile(staged.file.Get(), resource.Data(), resource.Size(), &written, nullptr) &&
        written == resource.Size() && FlushFileBuffers(staged.file.Get()) && RegisterStaged(staged, target, data))
        return true;
    DiscardTemporary(staged);
    return false;
}

// Asks the caller whether the written data may be put in place; the
// system's error of a failed write outlives the question.
bool Proceeds(const TMayPlace& mayPlace, bool written, TInstalledData& data) {
    const DWORD error = GetLastError();
    data.withheld = !mayPlace(written);
    SetLastError(error);
    return !data.withheld;
}

// The installed file is replaced in one step, so a failure at any point
// leaves it as it was: never truncated, never half written. With `data`, a
// file held open by another program is staged for the next restart, and
// files staged by earlier runs are removed only once this run's data is in
// place or staged: until then they hold the newest data installed.
bool ReplaceFile(const std::string& target, TLockedResource& resource, TInstalledData* data = nullptr,
                 const TMayPlace* mayPlace = nullptr) {
    Temporary temp;
    temp.path = TempInstallName(target);
    bool done = WriteNewFile(temp, resource, data ? &data->sha256 : nullptr);
    if (mayPlace && !Proceeds(*mayPlace, done, *data)) {
        DiscardTemporary(temp);
        return false;
    }
    if (done && MoveIntoPlace(temp, target)) {
        if (!data || ClearStagedFiles(target, "")) return true;
        // One stays, and its rename at the restart would put older data over
        // this: the same data is staged once more, so that its rename comes last.
        SupportLog::Note("data file: a file staged by an earlier run could not be removed");
        if (!StageCopy(resource, target, *data))
            SupportLog::Note("data file: in place, and could not be staged after that file, " +
                             SupportLog::ErrorText(GetLastError()));
        return true;
    }
    if (done && data && HeldByAnother(target)) {
        SupportLog::Note("data file: held open by " + DescribeFileHolders(target));
        done = StageForRestart(temp, target, *data);
        if (done) ClearStagedFiles(target, data->stagedPath);
    } else {
        done = false;
    }
    if (done) return true;
    const DWORD error = GetLastError();  // why, for the support log
    DiscardTemporary(temp);
    SetLastError(error);
    return false;
}

// ------------------------------------------------ version-compared replacement

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

std::string TempInstallName(const std::string& path) {
    std::string temp = path;
    // The last character is never the cut: "D:\Games\App\" gives "D:\Games\~App\".
    const std::size_t cut = path.size() >= 2 ? path.rfind('\\', path.size() - 2) : std::string::npos;
    if (cut == std::string::npos)
        temp.insert(0, "~");
    else
        temp.insert(cut + 1, "~");
    return temp;
}

bool InstallDataFile(const std::string& name, const std::string& type, const std::string& target, TInstalledData& data,
                     const TMayPlace& mayPlace) {
    TLockedResource resource;
    data.target = target;
    bool done = false;
    if (resource.Lock(name, type))
        done = ReplaceFile(target, resource, &data, &mayPlace);
    else
        Proceeds(mayPlace, false, data);
    const BoxText path = BoxText::SystemName(target);
    if (data.withheld) {
        SupportLog::Note("data file: " + path + " left as it was, the new data withheld");
        return false;
    }
    if (done && data.staged)
        SupportLog::Note("data file: " + BoxText::SystemName(data.stagedPath) + " written, " +
                         std::to_string(resource.Size()) + " bytes, to replace " + path + " at the next restart");
    else if (done)
        SupportLog::Note("data file: " + path + " written, " + std::to_string(resource.Size()) + " bytes");
    if (!done) {
        SupportLog::Note("data file: " + path + " not written, " + SupportLog::ErrorText(GetLastError()));
        ShowInstallFailure(target);
    }
    return done;
}

bool InstallEmbeddedFile(const std::string& name, const std::string& type, const std::string& target,
                         bool versionCheck) {
    TLockedResource resource;
    Outcome outcome = Outcome::Failed;
    if (resource.Lock(name, type)) {
        // Without a check, without an installed file or without a way to read
        // its version, the file is simply replaced.
        if (!versionCheck || !IsExistingFile(target) || !HasVersionProbe(type))
            outcome = ReplaceFile(target, resource) ? Outcome::Written : Outcome::Failed;
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

void ShowInstallFailure(const std::string& target) {
    ShowError("Can't install file " + BoxText::SystemName(target),
              "Не удается установить файл " + BoxText::SystemName(target));
}
