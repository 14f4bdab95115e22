// Covers: platform/ (owned_handle.h, files, system_library, code_pages), runtime/little_endian.h, registry.cpp.
// The small toolkit every subsystem uses for the system's handles, files,
// library functions and stored numbers, on the simulated PC.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>

#include "environment/registry.h"
#include "platform/code_pages.h"
#include "platform/files.h"
#include "platform/owned_handle.h"
#include "platform/system_library.h"
#include "runtime/little_endian.h"
#include "tests/demo_pc.h"

namespace {

const std::string Folder = "C:\\Data\\";

class Toolkit : public DemoPc::SimTest {
protected:
    void SetUp() override {
        NewPc();
        pc().files.AddFile(Folder + "plain.txt", "text");
        pc().registry.Key(HKEY_LOCAL_MACHINE, "SOFTWARE");
    }
    HANDLE OpenForReading(const std::string& path, DWORD flags = FILE_ATTRIBUTE_NORMAL) {
        return CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, flags, nullptr);
    }
};

// Each kind of handle is closed once, by its own call, when its owner goes;
// a move hands it over without closing it.
TEST_F(Toolkit, EachKindIsClosedOnceByItsOwnCall) {
    const struct {
        const char* kind;
        std::function<void()> ownAndMove;  // opens, moves to a second owner, lets both go
        const char* closer;
    } cases[] = {
        {"file",
         [&] {
             TOwnedFile first(OpenForReading(Folder + "plain.txt"));
             ASSERT_TRUE(first);
             TOwnedFile second(std::move(first));
             EXPECT_FALSE(first);
             EXPECT_EQ(pc().handles.size(), 1u);
         },
         "CloseHandle"},
        {"listing",
         [&] {
             WIN32_FIND_DATAA entry;
             TOwnedFind first(FindFirstFileA((Folder + "*.*").c_str(), &entry));
             ASSERT_TRUE(first);
             TOwnedFind second;
             second = std::move(first);
             EXPECT_EQ(pc().handles.size(), 1u);
         },
         "FindClose"},
        {"key",
         [&] {
             TOwnedKey first;
             ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_QUERY_VALUE, first.Receive()),
                       ERROR_SUCCESS);
             TOwnedKey second(std::move(first));
             EXPECT_EQ(pc().regHandles.size(), 1u);
         },
         "RegCloseKey"},
        {"library",
         [&] {
             TOwnedModule first(LoadSystemLibrary("version.dll"));
             ASSERT_TRUE(first);
             TOwnedModule second(std::move(first));
         },
         "FreeLibrary"},
        {"event",
         [&] {
             TOwnedHandle first(CreateEventA(nullptr, TRUE, FALSE, nullptr));
             ASSERT_TRUE(first);
             TOwnedHandle second(std::move(first));
             EXPECT_EQ(pc().handles.size(), 1u);
         },
         "CloseHandle"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        SetUp();
        c.ownAndMove();
        EXPECT_EQ(pc().CallCount(c.closer), 1);
        EXPECT_TRUE(pc().handles.empty());
        EXPECT_TRUE(pc().regHandles.empty());
        const int otherClosers = pc().CallCount("CloseHandle") + pc().CallCount("FindClose") +
                                 pc().CallCount("RegCloseKey") + pc().CallCount("FreeLibrary") -
                                 pc().CallCount(c.closer);
        EXPECT_EQ(otherClosers, 0) << "closed by another kind's call";
    }
}

TEST_F(Toolkit, ReleaseGivesUpAndReceiveAndResetCloseWhatWasHeld) {
    HANDLE kept = nullptr;
    {
        TOwnedFile file(OpenForReading(Folder + "plain.txt"));
        kept = file.Release();
        EXPECT_FALSE(file);
    }
    EXPECT_EQ(pc().handles.size(), 1u) << "a released handle stays open";
    CloseHandle(kept);

    TOwnedFile file(OpenForReading(Folder + "plain.txt"));
    file.Reset(OpenForReading(Folder + "plain.txt"));
    EXPECT_EQ(pc().handles.size(), 1u) << "Reset closes the handle it replaces";
    TOwnedKey key;
    RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_QUERY_VALUE, key.Receive());
    RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_QUERY_VALUE, key.Receive());
    EXPECT_EQ(pc().regHandles.size(), 1u) << "Receive closes the key it replaces";
}

// A failed close is told, once; nothing held closes successfully.
TEST_F(Toolkit, CloseTellsWhetherTheCloseSucceeded) {
    TOwnedFile nothing;
    EXPECT_TRUE(nothing.Close());
    EXPECT_EQ(pc().CallCount("CloseHandle"), 0);

    TOwnedFile file(OpenForReading(Folder + "plain.txt"));
    pc().Inject("CloseHandle", 1, ERROR_DISK_FULL);
    EXPECT_FALSE(file.Close());
    EXPECT_FALSE(file) << "a failed close still gives the handle up";
    EXPECT_TRUE(file.Close());
    EXPECT_EQ(pc().CallCount("CloseHandle"), 1);
}

TEST_F(Toolkit, FileTests) {
    pc().files.AddFolder(Folder + "folder");
    pc().files.AddFileLink(Folder + "link.txt", Folder + "plain.txt");
    pc().files.AddFileLink(Folder + "dangling.txt", Folder + "gone.txt");
    pc().files.AddHardLink(Folder + "second-name.txt", Folder + "plain.txt");
    pc().files.AddFile(Folder + "other.txt", "other");
    const struct {
        const char* name;
        bool exists;     // IsExistingFile
        bool soleNamed;  // IsSoleNamePlainFile, opened without following a link
    } cases[] = {
        {"other.txt", true, true},        {"plain.txt", true, false},  // it has a second name now
        {"second-name.txt", true, false}, {"link.txt", true, false},   // the link itself is asked
        {"dangling.txt", true, false},    {"folder", false, false},   {"missing.txt", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(IsExistingFile(Folder + c.name), c.exists);
        const TOwnedFile file(OpenForReading(Folder + c.name, FILE_FLAG_OPEN_REPARSE_POINT));
        EXPECT_EQ(file && IsSoleNamePlainFile(file.Get()), c.soleNamed);
    }
}

TEST_F(Toolkit, LookupFunctionFindsWhatTheLibraryExports) {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    ASSERT_NE(kernel, nullptr);
    EXPECT_NE(LookupFunction<decltype(&SetDefaultDllDirectories)>(kernel, "SetDefaultDllDirectories"), nullptr);
    EXPECT_EQ(LookupFunction<decltype(&SetDefaultDllDirectories)>(kernel, "NoSuchFunction"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PROC_NOT_FOUND));
    pc().defaultDllDirectoriesExported = false;
    EXPECT_EQ(LookupFunction<decltype(&SetDefaultDllDirectories)>(kernel, "SetDefaultDllDirectories"), nullptr);
}

// Both ways through Unicode, asking the length first; a refused call fails
// the whole conversion, and empty text asks nothing.
TEST_F(Toolkit, CodePageConversions) {
    const std::string russian = "\xCF\xF0\xE8\xE2\xE5\xF2";  // "Привет" in 1251
    pc().ansiCodePage = 1251;
    const std::optional<std::wstring> wide = ToUnicode(russian, CP_ACP);
    ASSERT_TRUE(wide);
    EXPECT_EQ(*wide, L"\u041F\u0440\u0438\u0432\u0435\u0442");
    EXPECT_EQ(FromUnicode(*wide, 1251), russian);
    EXPECT_EQ(pc().CallCount("MultiByteToWideChar"), 2);
    EXPECT_EQ(pc().CallCount("WideCharToMultiByte"), 2);

    EXPECT_EQ(ToUnicode("", CP_ACP), std::wstring());
    EXPECT_EQ(FromUnicode(L"", CP_ACP), std::string());
    EXPECT_EQ(pc().CallCount("MultiByteToWideChar"), 2);

    for (int occurrence : {1, 2}) {
        pc().Inject("MultiByteToWideChar", occurrence, ERROR_INVALID_PARAMETER);
        EXPECT_FALSE(ToUnicode(russian, CP_ACP)) << occurrence;
        pc().faults.clear();
        pc().Inject("WideCharToMultiByte", occurrence, ERROR_INSUFFICIENT_BUFFER);
        EXPECT_FALSE(FromUnicode(*wide, 1251)) << occurrence;
        pc().faults.clear();
    }
}

TEST(LittleEndian, LowByteFirstWithoutSignExtension) {
    const unsigned char bytes[] = {0x78, 0x56, 0x34, 0x12, 0xFF, 0xFF, 0xFF, 0xFF, 0x80};
    EXPECT_EQ(ReadLittleEndian16(bytes), 0x5678u);
    EXPECT_EQ(ReadLittleEndian32(bytes), 0x12345678u);
    EXPECT_EQ(ReadLittleEndian16(bytes + 4), 0xFFFFu);
    EXPECT_EQ(ReadLittleEndian32(bytes + 4), 0xFFFFFFFFu);
    EXPECT_EQ(ReadLittleEndian32(bytes + 5), 0x80FFFFFFu);
}

// One query into a buffer of the given size: a value that does not fit is
// not read at all.
TEST_F(Toolkit, RegistryReadBytesReadsWhatFitsInOneQuery) {
    const std::string path = "SYSTEM\\Test";
    pc().registry.SetString(HKEY_LOCAL_MACHINE, path, "Fits", std::string(15, 'a'));  // 16 bytes with its NUL
    pc().registry.SetString(HKEY_LOCAL_MACHINE, path, "TooLong", std::string(16, 'a'));
    pc().registry.SetDword(HKEY_LOCAL_MACHINE, path, "Number", 7);
    TRegistry registry(KEY_QUERY_VALUE);
    registry.SelectRoot(HKEY_LOCAL_MACHINE);
    DWORD type = 0;
    std::string bytes;
    EXPECT_FALSE(registry.ReadBytes("Fits", 16, type, bytes)) << "no key open";
    ASSERT_TRUE(registry.OpenPath(path, false));
    ASSERT_TRUE(registry.ReadBytes("Fits", 16, type, bytes));
    EXPECT_EQ(type, DWORD(REG_SZ));
    EXPECT_EQ(bytes, std::string(15, 'a') + '\0');
    EXPECT_FALSE(registry.ReadBytes("TooLong", 16, type, bytes));
    EXPECT_FALSE(registry.ReadBytes("Missing", 16, type, bytes));
    ASSERT_TRUE(registry.ReadBytes("Number", 16, type, bytes));
    EXPECT_EQ(type, DWORD(REG_DWORD));
    EXPECT_EQ(bytes.size(), 4u);
    EXPECT_EQ(pc().CallCount("RegQueryValueExA"), 4);
}

}  // namespace
