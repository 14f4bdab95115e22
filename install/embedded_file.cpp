#include "install/embedded_file.h"

#include <cstddef>
#include <cstring>
#include <optional>
#include <vector>

#include "install/file_holders.h"
#include "install/file_replacement.h"
#include "messages/messages.h"
#include "messages/support_log.h"
#include "platform/code_pages.h"
#include "platform/files.h"
#include "platform/owned_handle.h"
#include "platform/sha256.h"
#include "platform/win32.h"
#include "runtime/random.h"
#include "runtime/text.h"

namespace {

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

// The data's SHA-256 as the build recorded it beside the data: resource
// `name` of type "SHA256", 64 upper-case hex digits. The self-check has
// covered it with the rest of the file, so a run need not hash 28 MB
// again to tell detection rules what it installed. Empty where it is
// missing or not in that form: the data is then hashed as it is written.
std::string RecordedDigest(const std::string& name) {
    TLockedResource recorded;
    if (!recorded.Lock(name, "SHA256") || recorded.Size() != 64) return std::string();
    std::string text(static_cast<const char*>(recorded.Data()), recorded.Size());
    return text.find_first_not_of("0123456789ABCDEF") == std::string::npos ? text : std::string();
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

}  // namespace

// The steps of file_replacement.h, which the version-compared replacement
// takes too.

bool WriteWhole(HANDLE file, const void* bytes, DWORD size) {
    DWORD written = 0;
    return WriteFile(file, bytes, size, &written, nullptr) && written == size;
}

bool WriteNewFile(Temporary& temp, TLockedResource& resource, std::string* sha256, const TWriteData* writeData) {
    if (!ClearTemporaryName(temp.path) || !CreateFreshFile(temp)) return false;
    const bool ok = writeData ? (*writeData)(temp.file.Get(), resource.Data(), resource.Size())
                              : WriteWhole(temp.file.Get(), resource.Data(), resource.Size());
    if (ok && sha256 && sha256->empty()) *sha256 = Sha256Text(resource.Data(), resource.Size());
    if (!sha256) resource.Release();
    return ok && FlushFileBuffers(temp.file.Get());
}

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

bool ReplaceInstalledFile(const std::string& target, TLockedResource& resource, TInstalledData* data,
                          const TMayPlace* mayPlace, const TWriteData* writeData) {
    Temporary temp;
    temp.path = TempInstallName(target);
    bool done = WriteNewFile(temp, resource, data ? &data->sha256 : nullptr, writeData);
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
                     const TMayPlace& mayPlace, const TWriteData& writeData) {
    TLockedResource resource;
    data.target = target;
    data.sha256 = RecordedDigest(name);
    bool done = false;
    if (resource.Lock(name, type))
        done = ReplaceInstalledFile(target, resource, &data, &mayPlace, writeData ? &writeData : nullptr);
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

void ShowInstallFailure(const std::string& target) {
    ShowError("Can't install file " + BoxText::SystemName(target),
              "Не удается установить файл " + BoxText::SystemName(target));
}
