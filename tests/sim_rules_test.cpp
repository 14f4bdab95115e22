// Covers: tests/sim/. The simulated PC keeps the Windows rules the installer's hard cases
// depend on. Each case states what Windows does; product tests rely on it.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/demo_pc.h"

namespace {

using Sim::U8;

class SimRules : public DemoPc::SimTest {};

TEST_F(SimRules, FileCallsFollowWindows) {
    const std::string Longest = "C:\\" + std::string(MAX_PATH - 4, 'a');  // MAX_PATH - 1 characters
    const std::string Long = Longest + "a";
    const struct {
        const char* what;
        std::function<void(Sim::Machine&)> arrange;
        std::function<bool()> call;  // true: the call succeeded
        DWORD error;                 // when it failed
    } cases[] = {
        {"CREATE_ALWAYS over a hidden file without naming the attribute",
         [](Sim::Machine& m) { m.files.AddFile("C:\\h.txt", DemoPc::Bytes("x"), FILE_ATTRIBUTE_HIDDEN); },
         [] {
             HANDLE f =
                 CreateFileA("C:\\h.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
             return f != INVALID_HANDLE_VALUE && CloseHandle(f);
         },
         ERROR_ACCESS_DENIED},
        {"CREATE_ALWAYS over a system file naming it",
         [](Sim::Machine& m) { m.files.AddFile("C:\\s.txt", DemoPc::Bytes("x"), FILE_ATTRIBUTE_SYSTEM); },
         [] {
             HANDLE f =
                 CreateFileA("C:\\s.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_SYSTEM, nullptr);
             return f != INVALID_HANDLE_VALUE && CloseHandle(f);
         },
         0},
        {"a name of MAX_PATH characters", [](Sim::Machine&) {},
         [Long] { return GetFileAttributesA(Long.c_str()) != INVALID_FILE_ATTRIBUTES; }, ERROR_FILENAME_EXCED_RANGE},
        {"a name of MAX_PATH - 1 characters is looked up", [](Sim::Machine&) {},
         [Longest] { return GetFileAttributesA(Longest.c_str()) != INVALID_FILE_ATTRIBUTES; }, ERROR_FILE_NOT_FOUND},
        {"a name with a question mark", [](Sim::Machine&) {},
         [] { return GetFileAttributesA("C:\\a?b") != INVALID_FILE_ATTRIBUTES; }, ERROR_INVALID_NAME},
        {"replacing a file held open without delete sharing",
         [](Sim::Machine& m) {
             m.files.AddFile("C:\\new", "n");
             m.files.AddFile("C:\\old", "o");
             m.files.HoldOpen("C:\\old", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
         },
         [] { return MoveFileExA("C:\\new", "C:\\old", MOVEFILE_REPLACE_EXISTING) != FALSE; }, ERROR_ACCESS_DENIED},
        {"replacing a file held open with delete sharing",
         [](Sim::Machine& m) {
             m.files.AddFile("C:\\new", "n");
             m.files.AddFile("C:\\old", "o");
             m.files.HoldOpen("C:\\old", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE);
         },
         [] { return MoveFileExA("C:\\new", "C:\\old", MOVEFILE_REPLACE_EXISTING) != FALSE; }, 0},
        {"deleting a file symbolic link leaves its target",
         [](Sim::Machine& m) {
             m.files.AddFile("C:\\target", "t");
             m.files.AddFileLink("C:\\link", "C:\\target");
         },
         [] { return DeleteFileA("C:\\link") && Sim::pc().files.Exists("C:\\target"); }, 0},
        {"a link's attributes are its own",
         [](Sim::Machine& m) {
             m.files.AddFile("C:\\target", "t");
             m.files.AddFileLink("C:\\link", "C:\\target");
         },
         [] { return (GetFileAttributesA("C:\\link") & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }, 0},
        {"a file opened to be deleted on close is gone when it is closed", [](Sim::Machine&) {},
         [] {
             HANDLE f = CreateFileA("C:\\lock", DELETE, 0, nullptr, OPEN_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
             return f != INVALID_HANDLE_VALUE && CloseHandle(f) && !Sim::pc().files.Exists("C:\\lock");
         },
         0},
        {"opening for deletion what another holds without sharing deletion",
         [](Sim::Machine& m) {
             m.files.AddFile("C:\\lock", "");
             m.files.HoldOpen("C:\\lock", DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE);
         },
         [] {
             return CreateFileA("C:\\lock", DELETE, FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS, 0, nullptr) !=
                    INVALID_HANDLE_VALUE;
         },
         ERROR_SHARING_VIOLATION},
        {"a name deleted while another holds it stays, and cannot be created again",
         [](Sim::Machine& m) {
             m.files.AddFile("C:\\t", "t");
             m.files.HoldOpen("C:\\t", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE);
         },
         [] {
             return DeleteFileA("C:\\t") &&
                    CreateFileA("C:\\t", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr) != INVALID_HANDLE_VALUE;
         },
         ERROR_ACCESS_DENIED},
        {"the file information of a handle opened only to delete",
         [](Sim::Machine& m) { m.files.AddFile("C:\\lock", ""); },
         [] {
             HANDLE f = CreateFileA("C:\\lock", DELETE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
             BY_HANDLE_FILE_INFORMATION info;
             const bool ok = GetFileInformationByHandle(f, &info);
             const DWORD error = GetLastError();
             CloseHandle(f);
             SetLastError(error);
             return ok;
         },
         ERROR_ACCESS_DENIED},
        {"writing through one hard link shows through the other",
         [](Sim::Machine& m) {
             m.files.AddFile("C:\\one", "1");
             m.files.AddHardLink("C:\\two", "C:\\one");
         },
         [] {
             HANDLE f = CreateFileA("C:\\two", GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, 0, nullptr);
             DWORD n = 0;
             const bool ok = f != INVALID_HANDLE_VALUE && WriteFile(f, "22", 2, &n, nullptr) && CloseHandle(f);
             return ok && Sim::pc().files.Read("C:\\one") == DemoPc::Bytes("22");
         },
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Sim::Reset();
        c.arrange(pc());
        SetLastError(0);
        const bool ok = c.call();
        EXPECT_EQ(ok, c.error == 0);
        if (!ok) {
            EXPECT_EQ(GetLastError(), c.error);
        }
    }
}

// The ANSI calls see Unicode names through the code page: on a 1252
// system a Cyrillic folder name comes back as question marks.
TEST_F(SimRules, AnsiCallsGiveQuestionMarksForWhatTheCodePageCannotWrite) {
    pc().ansiCodePage = 1252;
    pc().moduleFileName = U8(u8"C:\\Users\\Пётр\\LexomirUpdate.exe");
    char ansi[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(nullptr, ansi, MAX_PATH), 0u);
    EXPECT_EQ(std::string(ansi), "C:\\Users\\????\\LexomirUpdate.exe");
    WCHAR wide[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(nullptr, wide, MAX_PATH), 0u);
    EXPECT_EQ(Sim::Utf8(wide), pc().moduleFileName);
    EXPECT_EQ(CreateFileA(ansi, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_NAME));
}

}  // namespace
