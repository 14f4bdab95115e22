// The seam checked against the real headers. On the host, platform/win32.h
// declares the SDK's values and structures itself, and the simulated PC
// and the product share them: a wrong error code or flag there would pass
// every host test. Here, where the SDK is at hand, every value of
// win32_host_values.h and the layout of every type of win32_host_types.h
// must be the SDK's, or the build stops naming it.
//
// Only static_asserts: the product library gains an empty object, which no
// link takes, and the installer not a byte.
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "platform/win32.h"
// What bcrypt returns: windows.h leaves most NTSTATUS codes to this header.
#include <ntstatus.h>

// MinGW-w64's winerror.h lacks this one; the Windows SDK's, and
// RmStartSession's documentation, give 353.
#ifndef ERROR_MAX_SESSIONS_REACHED
#define ERROR_MAX_SESSIONS_REACHED 353L
#endif

namespace {

// Equal values: a number as the SDK's type holds it, a text character by
// character, an authority byte by byte.
template <typename T>
constexpr bool Same(T host, std::type_identity_t<T> sdk) {
    return host == sdk;
}
template <typename Char>
constexpr bool Same(const Char* host, const Char* sdk) {
    while (*host && *host == *sdk) ++host, ++sdk;
    return *host == *sdk;
}
constexpr bool Same(const SID_IDENTIFIER_AUTHORITY& host, const SID_IDENTIFIER_AUTHORITY& sdk) {
    for (int i = 0; i < 6; ++i)
        if (host.Value[i] != sdk.Value[i]) return false;
    return true;
}

}  // namespace

// A handle or resource name is a pointer made from a number, which no
// constant expression may compare; GCC still folds the comparison, and
// whether it folded to true is a constant. (Never called, never defined.)
int NotConstant();
#define LEXOMIR_FOLDS_TO_TRUE(condition) __builtin_constant_p((condition) ? 1 : NotConstant())

// Each line of the host's lists becomes a check. A name is spelled as
// written there in the message, and stands for the SDK's value in the test.
#define LEXOMIR_WIN32_VALUE(name, value) static_assert(Same(value, name), "win32.h: " #name " is not the SDK's")
#define LEXOMIR_WIN32_POINTER(name, value) \
    static_assert(LEXOMIR_FOLDS_TO_TRUE((value) == (name)), "win32.h: " #name " is not the SDK's")

// The host's types, under names of their own (the lengths they are
// declared with are checked as they are read).
namespace Win32ValuesCheck::Host {
#include "platform/win32_host_types.h"
}  // namespace Win32ValuesCheck::Host
namespace Host = Win32ValuesCheck::Host;

#include "platform/win32_host_values.h"

// Numbers: as wide as the SDK's, and signed alike.
#define LEXOMIR_SAME_NUMBER(type)                                                                                   \
    static_assert(sizeof(Host::type) == sizeof(::type) && std::is_signed_v<Host::type> == std::is_signed_v<::type>, \
                  "win32.h: " #type " is not the SDK's")
LEXOMIR_SAME_NUMBER(BOOL);
LEXOMIR_SAME_NUMBER(BYTE);
LEXOMIR_SAME_NUMBER(UCHAR);
LEXOMIR_SAME_NUMBER(WORD);
LEXOMIR_SAME_NUMBER(DWORD);
LEXOMIR_SAME_NUMBER(ULONG);
LEXOMIR_SAME_NUMBER(LONG);
LEXOMIR_SAME_NUMBER(UINT);
LEXOMIR_SAME_NUMBER(INT);
LEXOMIR_SAME_NUMBER(CHAR);
LEXOMIR_SAME_NUMBER(WCHAR);
LEXOMIR_SAME_NUMBER(UINT_PTR);
LEXOMIR_SAME_NUMBER(LONG_PTR);
LEXOMIR_SAME_NUMBER(ULONG_PTR);
LEXOMIR_SAME_NUMBER(DWORD_PTR);
LEXOMIR_SAME_NUMBER(LONGLONG);
LEXOMIR_SAME_NUMBER(ULONGLONG);
LEXOMIR_SAME_NUMBER(LSTATUS);
LEXOMIR_SAME_NUMBER(NTSTATUS);
LEXOMIR_SAME_NUMBER(REGSAM);
LEXOMIR_SAME_NUMBER(LCID);
LEXOMIR_SAME_NUMBER(LANGID);
LEXOMIR_SAME_NUMBER(WPARAM);
LEXOMIR_SAME_NUMBER(LPARAM);
LEXOMIR_SAME_NUMBER(LRESULT);
LEXOMIR_SAME_NUMBER(BOOLEAN);
LEXOMIR_SAME_NUMBER(HRESULT);
LEXOMIR_SAME_NUMBER(OLECHAR);
LEXOMIR_SAME_NUMBER(VARTYPE);
LEXOMIR_SAME_NUMBER(ATOM);
LEXOMIR_SAME_NUMBER(SIZE_T);

// Structures and enumerations: as large as the SDK's and aligned alike;
// where padding could hide a field of the wrong size or place, that field.
#define LEXOMIR_SAME_LAYOUT(type)                                                                 \
    static_assert(sizeof(Host::type) == sizeof(::type) && alignof(Host::type) == alignof(::type), \
                  "win32.h: " #type " is not laid out as the SDK's")
#define LEXOMIR_SAME_FIELD(type, field)                                                                               \
    static_assert(                                                                                                    \
        offsetof(Host::type, field) == offsetof(::type, field) && sizeof(Host::type::field) == sizeof(::type::field), \
        "win32.h: " #type "::" #field " is not where the SDK has it")
LEXOMIR_SAME_LAYOUT(LARGE_INTEGER);
LEXOMIR_SAME_LAYOUT(FILETIME);
LEXOMIR_SAME_LAYOUT(WIN32_FIND_DATAA);
LEXOMIR_SAME_FIELD(WIN32_FIND_DATAA, nFileSizeHigh);
LEXOMIR_SAME_FIELD(WIN32_FIND_DATAA, cFileName);
LEXOMIR_SAME_FIELD(WIN32_FIND_DATAA, cAlternateFileName);
LEXOMIR_SAME_LAYOUT(OSVERSIONINFOA);
LEXOMIR_SAME_LAYOUT(OSVERSIONINFOEXA);
LEXOMIR_SAME_FIELD(OSVERSIONINFOEXA, wServicePackMajor);
LEXOMIR_SAME_FIELD(OSVERSIONINFOEXA, wProductType);
LEXOMIR_SAME_LAYOUT(SECURITY_ATTRIBUTES);
LEXOMIR_SAME_FIELD(SECURITY_ATTRIBUTES, bInheritHandle);
LEXOMIR_SAME_LAYOUT(BY_HANDLE_FILE_INFORMATION);
LEXOMIR_SAME_FIELD(BY_HANDLE_FILE_INFORMATION, nFileIndexHigh);
LEXOMIR_SAME_LAYOUT(FILE_INFO_BY_HANDLE_CLASS);
LEXOMIR_SAME_LAYOUT(FILE_RENAME_INFO);
LEXOMIR_SAME_FIELD(FILE_RENAME_INFO, RootDirectory);
LEXOMIR_SAME_FIELD(FILE_RENAME_INFO, FileNameLength);
LEXOMIR_SAME_FIELD(FILE_RENAME_INFO, FileName);
LEXOMIR_SAME_LAYOUT(FILE_DISPOSITION_INFO);
LEXOMIR_SAME_LAYOUT(SID_IDENTIFIER_AUTHORITY);
LEXOMIR_SAME_LAYOUT(STARTUPINFOW);
LEXOMIR_SAME_FIELD(STARTUPINFOW, wShowWindow);
LEXOMIR_SAME_FIELD(STARTUPINFOW, hStdInput);
LEXOMIR_SAME_LAYOUT(TOKEN_ELEVATION);
LEXOMIR_SAME_LAYOUT(TOKEN_INFORMATION_CLASS);
LEXOMIR_SAME_LAYOUT(SID_AND_ATTRIBUTES);
LEXOMIR_SAME_LAYOUT(TOKEN_USER);
LEXOMIR_SAME_LAYOUT(SECURITY_IMPERSONATION_LEVEL);
LEXOMIR_SAME_LAYOUT(TOKEN_TYPE);
LEXOMIR_SAME_LAYOUT(GUID);
LEXOMIR_SAME_LAYOUT(RM_APP_TYPE);
LEXOMIR_SAME_LAYOUT(RM_REBOOT_REASON);
LEXOMIR_SAME_LAYOUT(RM_UNIQUE_PROCESS);
LEXOMIR_SAME_LAYOUT(RM_PROCESS_INFO);
LEXOMIR_SAME_FIELD(RM_PROCESS_INFO, strServiceShortName);
LEXOMIR_SAME_FIELD(RM_PROCESS_INFO, ApplicationType);
LEXOMIR_SAME_FIELD(RM_PROCESS_INFO, bRestartable);
LEXOMIR_SAME_LAYOUT(VARIANT);
LEXOMIR_SAME_LAYOUT(STARTUPINFOA);
LEXOMIR_SAME_FIELD(STARTUPINFOA, wShowWindow);
LEXOMIR_SAME_FIELD(STARTUPINFOA, hStdInput);
LEXOMIR_SAME_LAYOUT(PROCESS_INFORMATION);
LEXOMIR_SAME_FIELD(PROCESS_INFORMATION, dwProcessId);
LEXOMIR_SAME_LAYOUT(SYSTEM_INFO);
LEXOMIR_SAME_FIELD(SYSTEM_INFO, dwPageSize);
LEXOMIR_SAME_FIELD(SYSTEM_INFO, dwNumberOfProcessors);
LEXOMIR_SAME_FIELD(SYSTEM_INFO, wProcessorLevel);
LEXOMIR_SAME_LAYOUT(SHFILEINFOA);
LEXOMIR_SAME_FIELD(SHFILEINFOA, szTypeName);
LEXOMIR_SAME_LAYOUT(WNDCLASSEXA);
LEXOMIR_SAME_FIELD(WNDCLASSEXA, hIconSm);
LEXOMIR_SAME_LAYOUT(CREATESTRUCTA);
LEXOMIR_SAME_FIELD(CREATESTRUCTA, cy);
LEXOMIR_SAME_FIELD(CREATESTRUCTA, dwExStyle);
LEXOMIR_SAME_LAYOUT(POINT);
LEXOMIR_SAME_LAYOUT(MSG);
LEXOMIR_SAME_FIELD(MSG, time);
LEXOMIR_SAME_FIELD(MSG, pt);
LEXOMIR_SAME_LAYOUT(USEROBJECTFLAGS);
LEXOMIR_SAME_LAYOUT(SYSTEMTIME);
LEXOMIR_SAME_LAYOUT(RECT);
LEXOMIR_SAME_LAYOUT(LOGFONTA);
LEXOMIR_SAME_FIELD(LOGFONTA, lfItalic);
LEXOMIR_SAME_FIELD(LOGFONTA, lfFaceName);

// Enumerators, which the SDK declares in C++ rather than as macros.
#define LEXOMIR_SAME_ENUMERATOR(name) \
    static_assert(std::int64_t(Host::name) == std::int64_t(::name), "win32.h: " #name " is not the SDK's")
LEXOMIR_SAME_ENUMERATOR(FileBasicInfo);
LEXOMIR_SAME_ENUMERATOR(FileStandardInfo);
LEXOMIR_SAME_ENUMERATOR(FileNameInfo);
LEXOMIR_SAME_ENUMERATOR(FileRenameInfo);
LEXOMIR_SAME_ENUMERATOR(FileDispositionInfo);
LEXOMIR_SAME_ENUMERATOR(TokenUser);
LEXOMIR_SAME_ENUMERATOR(TokenElevation);
LEXOMIR_SAME_ENUMERATOR(SecurityAnonymous);
LEXOMIR_SAME_ENUMERATOR(SecurityIdentification);
LEXOMIR_SAME_ENUMERATOR(SecurityImpersonation);
LEXOMIR_SAME_ENUMERATOR(SecurityDelegation);
LEXOMIR_SAME_ENUMERATOR(TokenPrimary);
LEXOMIR_SAME_ENUMERATOR(TokenImpersonation);
LEXOMIR_SAME_ENUMERATOR(RmUnknownApp);
LEXOMIR_SAME_ENUMERATOR(RmMainWindow);
LEXOMIR_SAME_ENUMERATOR(RmOtherWindow);
LEXOMIR_SAME_ENUMERATOR(RmService);
LEXOMIR_SAME_ENUMERATOR(RmExplorer);
LEXOMIR_SAME_ENUMERATOR(RmConsole);
LEXOMIR_SAME_ENUMERATOR(RmCritical);
LEXOMIR_SAME_ENUMERATOR(RmRebootReasonNone);
