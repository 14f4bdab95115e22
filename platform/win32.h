// The installer's whole contact with the operating system.
//
// Product code includes this header and nothing else of the platform. On
// Windows it is the SDK itself; on the host it declares the same subset,
// with the same names, values and signatures, and tests/sim implements
// it as a simulated PC. A function that is not listed here is not used.
#pragma once

#ifdef _WIN32

// windows.h first: the other SDK headers need its definitions, so this
// order is kept as written.
// clang-format off
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <exdisp.h>
#include <shldisp.h>
#include <servprov.h>
#include <bcrypt.h>
#include <commctrl.h>
#include <sddl.h>
#include <restartmanager.h>
// clang-format on

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif
#if WINVER < 0x0605
// Windows 10 version 1607 and later; looked up at run time.
extern "C" __declspec(dllimport) UINT WINAPI GetDpiForWindow(HWND window);
#endif
#ifndef NT_SUCCESS
#define NT_SUCCESS(s) (((NTSTATUS)(s)) >= 0)
#endif

#else  // the simulated PC

#include <cstddef>
#include <cstdint>

#define WINAPI
#define CALLBACK
#define CONST const

typedef int BOOL;
typedef std::uint8_t BYTE;
typedef std::uint8_t UCHAR;
typedef std::uint16_t WORD;
typedef std::uint32_t DWORD;
typedef std::uint32_t ULONG;
typedef std::int32_t LONG;
typedef std::uint32_t UINT;
typedef std::int32_t INT;
typedef char CHAR;
typedef std::uintptr_t UINT_PTR;
typedef std::intptr_t LONG_PTR;
typedef std::uintptr_t ULONG_PTR;
typedef std::uintptr_t DWORD_PTR;
typedef std::int64_t LONGLONG;
typedef std::uint64_t ULONGLONG;
typedef LONG LSTATUS;
typedef LONG NTSTATUS;
typedef DWORD REGSAM;
typedef DWORD LCID;
typedef WORD LANGID;
typedef UINT_PTR WPARAM;
typedef LONG_PTR LPARAM;
typedef LONG_PTR LRESULT;

typedef void* LPVOID;
typedef const void* LPCVOID;
typedef void* PVOID;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef wchar_t WCHAR;
typedef wchar_t* LPWSTR;
typedef const wchar_t* LPCWSTR;
typedef DWORD* LPDWORD;
typedef LONG* PLONG;
typedef BYTE* LPBYTE;
typedef const BYTE* PCBYTE;
typedef UCHAR* PUCHAR;
typedef ULONG* PULONG;

typedef void* HANDLE;
typedef HANDLE* PHANDLE;
typedef HANDLE HGLOBAL;
struct HKEY__;
typedef HKEY__* HKEY;
typedef HKEY* PHKEY;
struct HWND__;
typedef HWND__* HWND;
struct HINSTANCE__;
typedef HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;
struct HRSRC__;
typedef HRSRC__* HRSRC;
typedef LONG_PTR (*FARPROC)();

typedef void* BCRYPT_HANDLE;
typedef void* BCRYPT_ALG_HANDLE;
typedef void* BCRYPT_HASH_HANDLE;

typedef union _LARGE_INTEGER {
    struct {
        DWORD LowPart;
        LONG HighPart;
    };
    LONGLONG QuadPart;
} LARGE_INTEGER, *PLARGE_INTEGER;

typedef struct _FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
} FILETIME;

#define MAX_PATH 260

typedef struct _WIN32_FIND_DATAA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    CHAR cFileName[MAX_PATH];
    CHAR cAlternateFileName[14];
} WIN32_FIND_DATAA, *LPWIN32_FIND_DATAA;

typedef struct _OSVERSIONINFOA {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    CHAR szCSDVersion[128];
} OSVERSIONINFOA, *LPOSVERSIONINFOA;

typedef struct _OSVERSIONINFOEXA {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    CHAR szCSDVersion[128];
    WORD wServicePackMajor;
    WORD wServicePackMinor;
    WORD wSuiteMask;
    BYTE wProductType;
    BYTE wReserved;
} OSVERSIONINFOEXA;

typedef struct _SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

typedef struct _BY_HANDLE_FILE_INFORMATION {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD dwVolumeSerialNumber;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD nNumberOfLinks;
    DWORD nFileIndexHigh;
    DWORD nFileIndexLow;
} BY_HANDLE_FILE_INFORMATION, *LPBY_HANDLE_FILE_INFORMATION;

struct _OVERLAPPED;
typedef _OVERLAPPED* LPOVERLAPPED;

typedef BYTE BOOLEAN;
typedef enum _FILE_INFO_BY_HANDLE_CLASS {
    FileBasicInfo,
    FileStandardInfo,
    FileNameInfo,
    FileRenameInfo,
    FileDispositionInfo,
} FILE_INFO_BY_HANDLE_CLASS;
typedef struct _FILE_RENAME_INFO {
    BOOLEAN ReplaceIfExists;
    HANDLE RootDirectory;
    DWORD FileNameLength;
    WCHAR FileName[1];
} FILE_RENAME_INFO, *PFILE_RENAME_INFO;
typedef struct _FILE_DISPOSITION_INFO {
    BOOLEAN DeleteFile;
} FILE_DISPOSITION_INFO, *PFILE_DISPOSITION_INFO;

// Values, exactly as the SDK defines them.
#define TRUE 1
#define FALSE 0
#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)
#define INVALID_FILE_ATTRIBUTES ((DWORD)-1)
#define INVALID_SET_FILE_POINTER ((DWORD)-1)
#define INFINITE 0xFFFFFFFF
#define MAKEINTRESOURCEA(i) ((LPSTR)((ULONG_PTR)((WORD)(i))))
#define IS_INTRESOURCE(r) ((((ULONG_PTR)(r)) >> 16) == 0)
#define RT_RCDATA MAKEINTRESOURCEA(10)
#define MAKELANGID(p, s) ((((WORD)(s)) << 10) | (WORD)(p))
#define LANG_NEUTRAL 0x00
#define LANG_RUSSIAN 0x19
#define SUBLANG_NEUTRAL 0x00
#define SUBLANG_DEFAULT 0x01
#define NT_SUCCESS(s) (((NTSTATUS)(s)) >= 0)

#define ERROR_SUCCESS 0L
#define NO_ERROR 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_NOT_SAME_DEVICE 17L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_WRITE_FAULT 29L
#define ERROR_READ_FAULT 30L
#define ERROR_SHARING_VIOLATION 32L
#define ERROR_HANDLE_EOF 38L
#define ERROR_FILE_EXISTS 80L
#define ERROR_FILENAME_EXCED_RANGE 206L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_DISK_FULL 112L
#define ERROR_CALL_NOT_IMPLEMENTED 120L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_INVALID_NAME 123L
#define ERROR_MOD_NOT_FOUND 126L
#define ERROR_PROC_NOT_FOUND 127L
#define ERROR_NEGATIVE_SEEK 131L
#define ERROR_DIR_NOT_EMPTY 145L
#define ERROR_BAD_PATHNAME 161L
#define ERROR_ALREADY_EXISTS 183L
#define ERROR_DIRECTORY 267L
#define ERROR_LOCK_VIOLATION 33L
#define ERROR_PRIVILEGE_NOT_HELD 1314L
#define ERROR_NOT_OWNER 288L
#define ERROR_MORE_DATA 234L
#define ERROR_BAD_ARGUMENTS 160L
#define ERROR_MAX_SESSIONS_REACHED 353L
#define ERROR_NO_MORE_FILES 18L
#define ERROR_CANT_RESOLVE_FILENAME 1921L
#define ERROR_INVALID_WINDOW_HANDLE 1400L
#define ERROR_RESOURCE_DATA_NOT_FOUND 1812L
#define ERROR_RESOURCE_TYPE_NOT_FOUND 1813L
#define ERROR_RESOURCE_NAME_NOT_FOUND 1814L
#define ERROR_RESOURCE_LANG_NOT_FOUND 1815L

#define GENERIC_READ 0x80000000UL
#define GENERIC_WRITE 0x40000000UL
#define FILE_SHARE_READ 0x00000001
#define FILE_SHARE_WRITE 0x00000002
#define FILE_SHARE_DELETE 0x00000004
#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5
#define FILE_ATTRIBUTE_READONLY 0x00000001
#define FILE_ATTRIBUTE_HIDDEN 0x00000002
#define FILE_ATTRIBUTE_SYSTEM 0x00000004
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020
#define FILE_ATTRIBUTE_NORMAL 0x00000080
#define FILE_ATTRIBUTE_REPARSE_POINT 0x00000400
#define FILE_FLAG_SEQUENTIAL_SCAN 0x08000000
#define FILE_FLAG_OPEN_REPARSE_POINT 0x00200000
#define FILE_FLAG_DELETE_ON_CLOSE 0x04000000
#define FILE_FLAG_BACKUP_SEMANTICS 0x02000000
#define DELETE 0x00010000L
#define FILE_READ_ATTRIBUTES 0x0080
#define FILE_BEGIN 0
#define FILE_CURRENT 1
#define FILE_END 2
#define MOVEFILE_REPLACE_EXISTING 0x00000001
#define MOVEFILE_DELAY_UNTIL_REBOOT 0x00000004
#define MOVEFILE_WRITE_THROUGH 0x00000008

#define FILE_MAP_READ 0x0004
#define CP_ACP 0
#define CP_OEMCP 1
#define MB_ERR_INVALID_CHARS 0x00000008
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800

#define HKEY_CURRENT_USER ((HKEY)(ULONG_PTR)((LONG)0x80000001))
#define HKEY_LOCAL_MACHINE ((HKEY)(ULONG_PTR)((LONG)0x80000002))
#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_NOTIFY 0x0010
#define KEY_CREATE_LINK 0x0020
#define KEY_WOW64_64KEY 0x0100
#define KEY_WOW64_32KEY 0x0200
#define KEY_READ 0x20019
#define KEY_WRITE 0x20006
#define KEY_ALL_ACCESS 0xF003F
#define REG_OPTION_NON_VOLATILE 0x00000000
#define REG_CREATED_NEW_KEY 0x00000001
#define REG_OPENED_EXISTING_KEY 0x00000002
#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_MULTI_SZ 7
#define REG_QWORD 11

#define VER_PLATFORM_WIN32s 0
#define VER_PLATFORM_WIN32_WINDOWS 1
#define VER_PLATFORM_WIN32_NT 2

#define MB_OK 0x00000000L
#define MB_YESNO 0x00000004L
#define MB_ICONHAND 0x00000010L
#define MB_ICONQUESTION 0x00000020L
#define MB_ICONASTERISK 0x00000040L
#define MB_TASKMODAL 0x00002000L
#define MB_TOPMOST 0x00040000L
#define MB_SERVICE_NOTIFICATION 0x00200000L
#define MB_TYPEMASK 0x0000000FL
#define IDOK 1
#define IDCANCEL 2
#define IDYES 6
#define IDNO 7

#define WM_QUIT 0x0012
#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_SHOWMINIMIZED 2

#define BCRYPT_SHA256_ALGORITHM L"SHA256"
#define BCRYPT_OBJECT_LENGTH L"ObjectLength"
#define BCRYPT_HASH_LENGTH L"HashDigestLength"
#define STATUS_SUCCESS ((NTSTATUS)0x00000000L)
#define STATUS_INVALID_PARAMETER ((NTSTATUS)0xC000000DL)
#define STATUS_INVALID_HANDLE ((NTSTATUS)0xC0000008L)
#define STATUS_NOT_FOUND ((NTSTATUS)0xC0000225L)
#define STATUS_BUFFER_TOO_SMALL ((NTSTATUS)0xC0000023L)

// The administrators' group, asked of the process's token.
typedef void* PSID;
typedef BOOL* PBOOL;
typedef struct _SID_IDENTIFIER_AUTHORITY {
    BYTE Value[6];
} SID_IDENTIFIER_AUTHORITY, *PSID_IDENTIFIER_AUTHORITY;
#define SECURITY_NT_AUTHORITY \
    { 0, 0, 0, 0, 0, 5 }
#define SECURITY_BUILTIN_DOMAIN_RID 0x00000020L
#define DOMAIN_ALIAS_RID_ADMINS 0x00000220L

// A guard only administrators can take: a mutex in a private namespace.
typedef unsigned char BOOLEAN;
typedef HANDLE HLOCAL;
typedef void* PSECURITY_DESCRIPTOR;
#define SDDL_REVISION_1 1

// ------------------------------------------------------------------------
// Starting the application as the desktop user (driver/desktop_user).

typedef struct _STARTUPINFOW {
    DWORD cb;
    LPWSTR lpReserved;
    LPWSTR lpDesktop;
    LPWSTR lpTitle;
    DWORD dwX;
    DWORD dwY;
    DWORD dwXSize;
    DWORD dwYSize;
    DWORD dwXCountChars;
    DWORD dwYCountChars;
    DWORD dwFillAttribute;
    DWORD dwFlags;
    WORD wShowWindow;
    WORD cbReserved2;
    LPBYTE lpReserved2;
    HANDLE hStdInput;
    HANDLE hStdOutput;
    HANDLE hStdError;
} STARTUPINFOW, *LPSTARTUPINFOW;

typedef struct _TOKEN_ELEVATION {
    DWORD TokenIsElevated;
} TOKEN_ELEVATION;

typedef enum _TOKEN_INFORMATION_CLASS { TokenUser = 1, TokenElevation = 20 } TOKEN_INFORMATION_CLASS;
// The token's user, whom the support log's records name.
typedef struct _SID_AND_ATTRIBUTES {
    PSID Sid;
    DWORD Attributes;
} SID_AND_ATTRIBUTES;
typedef struct _TOKEN_USER {
    SID_AND_ATTRIBUTES User;
} TOKEN_USER;
#define SECURITY_MAX_SID_SIZE 68
typedef enum _SECURITY_IMPERSONATION_LEVEL {
    SecurityAnonymous,
    SecurityIdentification,
    SecurityImpersonation,
    SecurityDelegation
} SECURITY_IMPERSONATION_LEVEL;
typedef enum _TOKEN_TYPE { TokenPrimary = 1, TokenImpersonation } TOKEN_TYPE;

#define TOKEN_ASSIGN_PRIMARY 0x0001
#define TOKEN_DUPLICATE 0x0002
#define TOKEN_IMPERSONATE 0x0004
#define TOKEN_QUERY 0x0008
#define TOKEN_ADJUST_DEFAULT 0x0080
#define TOKEN_ADJUST_SESSIONID 0x0100
#define PROCESS_QUERY_INFORMATION 0x0400
#define PROCESS_QUERY_LIMITED_INFORMATION 0x1000
#define ERROR_SERVICE_DISABLED 1058L
#define ERROR_BAD_TOKEN_TYPE 1349L
#define ERROR_BAD_LENGTH 24L

// ------------------------------------------------------------------------
// Having the desktop shell start the application (driver/desktop_user):
// COM and the shell's automation objects, with only the methods the
// installer calls.

typedef LONG HRESULT;
typedef WCHAR OLECHAR;
typedef OLECHAR* BSTR;
typedef WORD VARTYPE;
typedef struct _GUID {
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];
} GUID, IID, CLSID;
typedef const GUID& REFGUID;

// The Restart Manager (rstrtmgr.dll): which processes hold a file open.
#define RM_SESSION_KEY_LEN sizeof(GUID)
#define CCH_RM_SESSION_KEY RM_SESSION_KEY_LEN * 2
#define CCH_RM_MAX_APP_NAME 255
#define CCH_RM_MAX_SVC_NAME 63
#define RM_INVALID_TS_SESSION -1
typedef enum _RM_APP_TYPE {
    RmUnknownApp = 0,
    RmMainWindow,
    RmOtherWindow,
    RmService,
    RmExplorer,
    RmConsole,
    RmCritical = 1000
} RM_APP_TYPE;
typedef enum _RM_REBOOT_REASON { RmRebootReasonNone = 0x0 } RM_REBOOT_REASON;
typedef struct _RM_UNIQUE_PROCESS {
    DWORD dwProcessId;
    FILETIME ProcessStartTime;
} RM_UNIQUE_PROCESS, *PRM_UNIQUE_PROCESS;
typedef struct _RM_PROCESS_INFO {
    RM_UNIQUE_PROCESS Process;
    WCHAR strAppName[CCH_RM_MAX_APP_NAME + 1];
    WCHAR strServiceShortName[CCH_RM_MAX_SVC_NAME + 1];
    RM_APP_TYPE ApplicationType;
    ULONG AppStatus;
    DWORD TSSessionId;
    BOOL bRestartable;
} RM_PROCESS_INFO, *PRM_PROCESS_INFO;
typedef const IID& REFIID;
typedef const CLSID& REFCLSID;

typedef struct tagVARIANT {
    VARTYPE vt;
    WORD wReserved1, wReserved2, wReserved3;
    union {
        LONG lVal;
        BSTR bstrVal;
    };
} VARIANT;
#define V_VT(v) ((v)->vt)
#define V_I4(v) ((v)->lVal)
#define V_BSTR(v) ((v)->bstrVal)
#define VT_EMPTY 0
#define VT_I4 3
#define VT_BSTR 8

#define S_OK ((HRESULT)0L)
#define S_FALSE ((HRESULT)1L)
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)
#define COINIT_APARTMENTTHREADED 0x2
#define COINIT_DISABLE_OLE1DDE 0x4
#define CLSCTX_LOCAL_SERVER 0x4
#define CSIDL_DESKTOP 0x0000
#define SWC_DESKTOP 0x8
#define SWFO_NEEDDISPATCH 0x1
#define SVGIO_BACKGROUND 0x00000000

struct IUnknown {
    virtual HRESULT QueryInterface(REFIID riid, void** object) = 0;
    virtual ULONG Release() = 0;
};
struct IDispatch : IUnknown {};
struct IShellWindows : IDispatch {
    virtual HRESULT FindWindowSW(VARIANT* location, VARIANT* root, int windowClass, long* window, int options,
                                 IDispatch** found) = 0;
};
struct IServiceProvider : IUnknown {
    virtual HRESULT QueryService(REFGUID service, REFIID riid, void** object) = 0;
};
struct IShellView : IUnknown {
    virtual HRESULT GetItemObject(UINT item, REFIID riid, void** object) = 0;
};
struct IShellBrowser : IUnknown {
    virtual HRESULT QueryActiveShellView(IShellView** view) = 0;
};
struct IShellFolderViewDual : IDispatch {
    virtual HRESULT get_Application(IDispatch** application) = 0;
};
struct IShellDispatch2 : IDispatch {
    virtual HRESULT ShellExecute(BSTR file, VARIANT arguments, VARIANT directory, VARIANT operation, VARIANT show) = 0;
};
extern const CLSID CLSID_ShellWindows;
extern const GUID SID_STopLevelBrowser;
extern const IID IID_IDispatch, IID_IShellWindows, IID_IServiceProvider, IID_IShellBrowser, IID_IShellFolderViewDual,
    IID_IShellDispatch2;

// ------------------------------------------------------------------------
// Identifying the system and running a console command (osinfo/).

typedef struct _STARTUPINFOA {
    DWORD cb;
    LPSTR lpReserved;
    LPSTR lpDesktop;
    LPSTR lpTitle;
    DWORD dwX;
    DWORD dwY;
    DWORD dwXSize;
    DWORD dwYSize;
    DWORD dwXCountChars;
    DWORD dwYCountChars;
    DWORD dwFillAttribute;
    DWORD dwFlags;
    WORD wShowWindow;
    WORD cbReserved2;
    LPBYTE lpReserved2;
    HANDLE hStdInput;
    HANDLE hStdOutput;
    HANDLE hStdError;
} STARTUPINFOA, *LPSTARTUPINFOA;

typedef struct _PROCESS_INFORMATION {
    HANDLE hProcess;
    HANDLE hThread;
    DWORD dwProcessId;
    DWORD dwThreadId;
} PROCESS_INFORMATION, *PPROCESS_INFORMATION, *LPPROCESS_INFORMATION;

typedef struct _SYSTEM_INFO {
    union {
        DWORD dwOemId;
        struct {
            WORD wProcessorArchitecture;
            WORD wReserved;
        };
    };
    DWORD dwPageSize;
    LPVOID lpMinimumApplicationAddress;
    LPVOID lpMaximumApplicationAddress;
    DWORD_PTR dwActiveProcessorMask;
    DWORD dwNumberOfProcessors;
    DWORD dwProcessorType;
    DWORD dwAllocationGranularity;
    WORD wProcessorLevel;
    WORD wProcessorRevision;
} SYSTEM_INFO, *LPSYSTEM_INFO;

#define STARTF_USESHOWWINDOW 0x00000001
#define CREATE_NEW_CONSOLE 0x00000010
#define CREATE_NEW_PROCESS_GROUP 0x00000200
#define WAIT_OBJECT_0 0x00000000L
#define WAIT_TIMEOUT 258L
#define WAIT_FAILED ((DWORD)0xFFFFFFFF)
#define WAIT_ABANDONED 0x00000080L
#define STILL_ACTIVE 259L
#define ERROR_ENVVAR_NOT_FOUND 203L
#define ERROR_BAD_EXE_FORMAT 193L

#define PROCESSOR_ARCHITECTURE_INTEL 0
#define PROCESSOR_ARCHITECTURE_ARM 5
#define PROCESSOR_ARCHITECTURE_IA64 6
#define PROCESSOR_ARCHITECTURE_AMD64 9
#define PROCESSOR_ARCHITECTURE_ARM64 12
#define PROCESSOR_ARCHITECTURE_UNKNOWN 0xFFFF
#define PROCESSOR_INTEL_PENTIUM 586
#define PROCESSOR_AMD_X8664 8664

#define SM_TABLETPC 86
#define SM_MEDIACENTER 87
#define SM_STARTER 88
#define SM_SERVERR2 89

#define VER_NT_WORKSTATION 0x0000001
#define VER_NT_DOMAIN_CONTROLLER 0x0000002
#define VER_NT_SERVER 0x0000003
#define VER_SUITE_ENTERPRISE 0x00000002
#define VER_SUITE_EMBEDDEDNT 0x00000040
#define VER_SUITE_DATACENTER 0x00000080
#define VER_SUITE_PERSONAL 0x00000200
#define VER_SUITE_BLADE 0x00000400
#define VER_SUITE_STORAGE_SERVER 0x00002000
#define VER_SUITE_COMPUTE_SERVER 0x00004000

// ------------------------------------------------------------------------
// File versions (install/version_probes), the progress window and its

struct HICON__;
typedef HICON__* HICON;
typedef HICON HCURSOR;
typedef void* HGDIOBJ;
struct HBRUSH__;
typedef HBRUSH__* HBRUSH;
struct HMENU__;
typedef HMENU__* HMENU;
typedef WORD ATOM;
typedef UINT* PUINT;
typedef std::size_t SIZE_T;

typedef LRESULT(CALLBACK* WNDPROC)(HWND, UINT, WPARAM, LPARAM);
typedef DWORD(WINAPI* PTHREAD_START_ROUTINE)(LPVOID parameter);
typedef PTHREAD_START_ROUTINE LPTHREAD_START_ROUTINE;

typedef struct _SHFILEINFOA {
    HICON hIcon;
    int iIcon;
    DWORD dwAttributes;
    CHAR szDisplayName[MAX_PATH];
    CHAR szTypeName[80];
} SHFILEINFOA;

typedef struct tagWNDCLASSEXA {
    UINT cbSize;
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    HICON hIcon;
    HCURSOR hCursor;
    HBRUSH hbrBackground;
    LPCSTR lpszMenuName;
    LPCSTR lpszClassName;
    HICON hIconSm;
} WNDCLASSEXA;

typedef struct tagCREATESTRUCTA {
    LPVOID lpCreateParams;
    HINSTANCE hInstance;
    HMENU hMenu;
    HWND hwndParent;
    int cy;
    int cx;
    int y;
    int x;
    LONG style;
    LPCSTR lpszName;
    LPCSTR lpszClass;
    DWORD dwExStyle;
} CREATESTRUCTA;

typedef struct tagPOINT {
    LONG x;
    LONG y;
} POINT;

typedef struct tagMSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
} MSG, *LPMSG;

#define SHGFI_EXETYPE 0x00002000
#define RT_VERSION MAKEINTRESOURCEA(16)
#define RT_GROUP_ICON MAKEINTRESOURCEA(14)
#define CREATE_SUSPENDED 0x00000004
#define ERROR_TLW_WITH_WSCHILD 1406L
#define ERROR_CANNOT_FIND_WND_CLASS 1407L
#define ERROR_CLASS_ALREADY_EXISTS 1410L

#define WM_CREATE 0x0001
#define WM_DESTROY 0x0002
#define WM_SETTEXT 0x000C
#define WM_NCCREATE 0x0081
#define WM_NCDESTROY 0x0082
#define CS_VREDRAW 0x0001
#define CS_HREDRAW 0x0002
#define CS_NOCLOSE 0x0200
#define WS_POPUP 0x80000000L
#define WS_CHILD 0x40000000L
#define WS_VISIBLE 0x10000000L
#define WS_DLGFRAME 0x00400000L
#define WS_SYSMENU 0x00080000L
#define WS_THICKFRAME 0x00040000L
#define WS_EX_DLGMODALFRAME 0x00000001L
#define WS_EX_TOPMOST 0x00000008L
#define WS_EX_STATICEDGE 0x00020000L
#define HWND_TOPMOST ((HWND)(LONG_PTR)-1)
#define SWP_SHOWWINDOW 0x0040
#define SWP_HIDEWINDOW 0x0080
#define SM_CXSCREEN 0
#define SM_CYSCREEN 1
#define IDC_ARROW MAKEINTRESOURCEA(32512)
#define GRAY_BRUSH 2
#define PROGRESS_CLASSA "msctls_progress32"

// ------------------------------------------------------------------------
// Who can see a box (the process's window station), the support log (the
// Application event log) and the local time it is stamped with.

struct HWINSTA__;
typedef HWINSTA__* HWINSTA;
typedef struct tagUSEROBJECTFLAGS {
    BOOL fInherit;
    BOOL fReserved;
    DWORD dwFlags;
} USEROBJECTFLAGS;
#define UOI_FLAGS 1
#define WSF_VISIBLE 0x0001L

typedef struct _SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
} SYSTEMTIME, *LPSYSTEMTIME;

#define EVENTLOG_SUCCESS 0x0000
#define EVENTLOG_ERROR_TYPE 0x0001
#define EVENTLOG_WARNING_TYPE 0x0002
#define EVENTLOG_INFORMATION_TYPE 0x0004
#define RPC_S_SERVER_UNAVAILABLE 1722L

// The progress window's scale: the screen's and the window's DPI, and the
// system font at another DPI.
struct HDC__;
typedef HDC__* HDC;
struct HFONT__;
typedef HFONT__* HFONT;

typedef struct tagRECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
} RECT;

#define LF_FACESIZE 32
typedef struct tagLOGFONTA {
    LONG lfHeight;
    LONG lfWidth;
    LONG lfEscapement;
    LONG lfOrientation;
    LONG lfWeight;
    BYTE lfItalic;
    BYTE lfUnderline;
    BYTE lfStrikeOut;
    BYTE lfCharSet;
    BYTE lfOutPrecision;
    BYTE lfClipPrecision;
    BYTE lfQuality;
    BYTE lfPitchAndFamily;
    CHAR lfFaceName[LF_FACESIZE];
} LOGFONTA;

#define LOWORD(l) ((WORD)(((DWORD_PTR)(l)) & 0xffff))
#define WM_SETFONT 0x0030
#define WM_DPICHANGED 0x02E0
#define SWP_NOZORDER 0x0004
#define SWP_NOACTIVATE 0x0010
#define LOGPIXELSY 90
#define SYSTEM_FONT 13
#define USER_DEFAULT_SCREEN_DPI 96

// ========================================================================
// The functions, each under the library that exports it, each library in
// one place. The simulated PC knows which calls load a GUI library by
// these headings (tests/gui_libraries_test.cpp checks its table against
// them): a GUI function goes under its own library's heading.

// kernel32: errors, the process's own facts, time
LPSTR WINAPI GetCommandLineA();
DWORD WINAPI GetLastError();
void WINAPI SetLastError(DWORD error);
LCID WINAPI GetUserDefaultLCID();
BOOL WINAPI QueryPerformanceCounter(LARGE_INTEGER* count);
DWORD WINAPI GetTickCount();
void WINAPI Sleep(DWORD milliseconds);
int WINAPI MulDiv(int number, int numerator, int denominator);
BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info);
DWORD WINAPI GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size);
UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size);
UINT WINAPI GetWindowsDirectoryA(LPSTR buffer, UINT size);
DWORD WINAPI ExpandEnvironmentStringsA(LPCSTR source, LPSTR destination, DWORD size);
int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int length, LPWSTR out, int size);
int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR text, int length, LPSTR out, int size,
                               LPCSTR defaultChar, BOOL* usedDefault);
BOOL WINAPI SetCurrentDirectoryA(LPCSTR path);
void WINAPI GetSystemInfo(LPSYSTEM_INFO info);
// Not imported: looked up in kernel32 at run time, as Windows 2000 lacks it.
void WINAPI GetNativeSystemInfo(LPSYSTEM_INFO info);
void WINAPI GetLocalTime(LPSYSTEMTIME time);

// kernel32: files and folders
BOOL WINAPI CloseHandle(HANDLE handle);
HANDLE WINAPI CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                          DWORD flags, HANDLE templ);
HANDLE WINAPI CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                          DWORD flags, HANDLE templ);
BOOL WINAPI GetFileInformationByHandle(HANDLE file, LPBY_HANDLE_FILE_INFORMATION info);
#define FILE_NAME_NORMALIZED 0x0
#define VOLUME_NAME_DOS 0x0
#define CSTR_LESS_THAN 1
#define CSTR_EQUAL 2
#define CSTR_GREATER_THAN 3
DWORD WINAPI GetFinalPathNameByHandleW(HANDLE file, LPWSTR path, DWORD size, DWORD flags);
int WINAPI CompareStringOrdinal(LPCWSTR first, int firstLength, LPCWSTR second, int secondLength, BOOL ignoreCase);
BOOL WINAPI SetFileInformationByHandle(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID info, DWORD size);
BOOL WINAPI SetFileAttributesA(LPCSTR name, DWORD attributes);
BOOL WINAPI RemoveDirectoryA(LPCSTR name);
BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD read, LPOVERLAPPED overlapped);
BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD written, LPOVERLAPPED overlapped);
BOOL WINAPI SetFilePointerEx(HANDLE file, LARGE_INTEGER distance, PLARGE_INTEGER newPosition, DWORD method);
BOOL WINAPI GetFileSizeEx(HANDLE file, PLARGE_INTEGER size);
BOOL WINAPI FlushFileBuffers(HANDLE file);
BOOL WINAPI DeleteFileA(LPCSTR name);
BOOL WINAPI MoveFileExA(LPCSTR existing, LPCSTR target, DWORD flags);
DWORD WINAPI GetFileAttributesA(LPCSTR name);
HANDLE WINAPI FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA data);
BOOL WINAPI FindNextFileA(HANDLE find, LPWIN32_FIND_DATAA data);
BOOL WINAPI FindClose(HANDLE find);

// kernel32: the own module, its resources, libraries, named objects
DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size);
DWORD WINAPI GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size);
HMODULE WINAPI GetModuleHandleA(LPCSTR name);
HRSRC WINAPI FindResourceA(HMODULE module, LPCSTR name, LPCSTR type);
HGLOBAL WINAPI LoadResource(HMODULE module, HRSRC resource);
LPVOID WINAPI LockResource(HGLOBAL data);
DWORD WINAPI SizeofResource(HMODULE module, HRSRC resource);
BOOL WINAPI FreeResource(HGLOBAL data);
HMODULE WINAPI LoadLibraryExA(LPCSTR name, HANDLE file, DWORD flags);
BOOL WINAPI SetDllDirectoryA(LPCSTR path);
// Windows 7 with its search-path update and later; looked up at run time.
BOOL WINAPI SetDefaultDllDirectories(DWORD flags);
FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name);
BOOL WINAPI FreeLibrary(HMODULE module);
HANDLE WINAPI OpenFileMappingA(DWORD access, BOOL inheritHandle, LPCSTR name);

// kernel32: processes, threads and events
HANDLE WINAPI GetCurrentProcess();
DWORD WINAPI GetCurrentProcessId();
BOOL WINAPI ProcessIdToSessionId(DWORD processId, DWORD* sessionId);
HANDLE WINAPI OpenProcess(DWORD access, BOOL inheritHandle, DWORD processId);
BOOL WINAPI CreateProcessA(LPCSTR applicationName, LPSTR commandLine, LPSECURITY_ATTRIBUTES processAttributes,
                           LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles, DWORD creationFlags,
                           LPVOID environment, LPCSTR currentDirectory, LPSTARTUPINFOA startupInfo,
                           LPPROCESS_INFORMATION processInformation);
DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds);
BOOL WINAPI TerminateProcess(HANDLE process, UINT exitCode);
BOOL WINAPI GetExitCodeProcess(HANDLE process, LPDWORD exitCode);
HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stackSize, LPTHREAD_START_ROUTINE start,
                           LPVOID parameter, DWORD flags, LPDWORD threadId);
DWORD WINAPI ResumeThread(HANDLE thread);
HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState, LPCSTR name);
BOOL WINAPI SetEvent(HANDLE event);
HANDLE WINAPI CreateMutexW(LPSECURITY_ATTRIBUTES security, BOOL initialOwner, LPCWSTR name);
BOOL WINAPI ReleaseMutex(HANDLE mutex);
HLOCAL WINAPI LocalFree(HLOCAL memory);

// kernel32: private namespaces. Windows Vista and later; looked up at run
// time, as Windows XP and Wine lack them.
HANDLE WINAPI CreateBoundaryDescriptorW(LPCWSTR name, ULONG flags);
BOOL WINAPI AddSIDToBoundaryDescriptor(HANDLE* boundary, PSID sid);
void WINAPI DeleteBoundaryDescriptor(HANDLE boundary);
HANDLE WINAPI CreatePrivateNamespaceW(LPSECURITY_ATTRIBUTES security, LPVOID boundary, LPCWSTR aliasPrefix);
HANDLE WINAPI OpenPrivateNamespaceW(LPVOID boundary, LPCWSTR aliasPrefix);
BOOLEAN WINAPI ClosePrivateNamespace(HANDLE handle, ULONG flags);

// advapi32: the registry
LSTATUS WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result);
LSTATUS WINAPI RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR className, DWORD options, REGSAM access,
                               LPSECURITY_ATTRIBUTES security, PHKEY result, LPDWORD disposition);
LSTATUS WINAPI RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size);
LSTATUS WINAPI RegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size);
LSTATUS WINAPI RegCloseKey(HKEY key);

// advapi32: tokens, and the administrators' group in them
BOOL WINAPI AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY authority, BYTE count, DWORD sub0, DWORD sub1,
                                     DWORD sub2, DWORD sub3, DWORD sub4, DWORD sub5, DWORD sub6, DWORD sub7, PSID* sid);
BOOL WINAPI CheckTokenMembership(HANDLE token, PSID sid, PBOOL isMember);
PVOID WINAPI FreeSid(PSID sid);
BOOL WINAPI ConvertStringSecurityDescriptorToSecurityDescriptorW(LPCWSTR text, DWORD revision,
                                                                 PSECURITY_DESCRIPTOR* descriptor, PULONG size);
BOOL WINAPI OpenProcessToken(HANDLE process, DWORD access, PHANDLE token);
BOOL WINAPI GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS infoClass, LPVOID info, DWORD size,
                                LPDWORD returned);
BOOL WINAPI DuplicateTokenEx(HANDLE token, DWORD access, LPSECURITY_ATTRIBUTES attributes,
                             SECURITY_IMPERSONATION_LEVEL level, TOKEN_TYPE type, PHANDLE newToken);
BOOL WINAPI CreateProcessWithTokenW(HANDLE token, DWORD logonFlags, LPCWSTR applicationName, LPWSTR commandLine,
                                    DWORD creationFlags, LPVOID environment, LPCWSTR currentDirectory,
                                    LPSTARTUPINFOW startupInfo, struct _PROCESS_INFORMATION* processInformation);

// advapi32: the event log
HANDLE WINAPI RegisterEventSourceW(LPCWSTR server, LPCWSTR source);
BOOL WINAPI ReportEventW(HANDLE eventLog, WORD type, WORD category, DWORD eventId, PSID user, WORD stringCount,
                         DWORD dataSize, LPCWSTR* strings, LPVOID data);
BOOL WINAPI DeregisterEventSource(HANDLE eventLog);

// user32: boxes, and the windows of other programs
int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT style);
int WINAPI MessageBoxExA(HWND owner, LPCSTR text, LPCSTR caption, UINT style, WORD language);
int WINAPI MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT style);
int WINAPI MessageBoxExW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT style, WORD language);
HWND WINAPI FindWindowA(LPCSTR className, LPCSTR windowName);
BOOL WINAPI PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL WINAPI ShowWindow(HWND window, int command);
BOOL WINAPI ShowWindowAsync(HWND window, int command);
BOOL WINAPI SetForegroundWindow(HWND window);
HWND WINAPI GetShellWindow();
DWORD WINAPI GetWindowThreadProcessId(HWND window, LPDWORD processId);
HWINSTA WINAPI GetProcessWindowStation();
BOOL WINAPI GetUserObjectInformationW(HANDLE object, int index, PVOID info, DWORD size, LPDWORD needed);

// user32: the screen
int WINAPI GetSystemMetrics(int index);
HDC WINAPI GetDC(HWND window);
int WINAPI ReleaseDC(HWND window, HDC dc);
// Windows 10 version 1607 and later; looked up at run time.
UINT WINAPI GetDpiForWindow(HWND window);

// user32: window classes, windows and the message loop
HICON WINAPI LoadIconA(HINSTANCE module, LPCSTR name);
HCURSOR WINAPI LoadCursorA(HINSTANCE module, LPCSTR name);
ATOM WINAPI RegisterClassExA(const WNDCLASSEXA* windowClass);
HWND WINAPI CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y, int width,
                            int height, HWND parent, HMENU menu, HINSTANCE module, LPVOID parameter);
LRESULT WINAPI DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL WINAPI GetMessageA(LPMSG message, HWND window, UINT filterMin, UINT filterMax);
BOOL WINAPI TranslateMessage(const MSG* message);
LRESULT WINAPI DispatchMessageA(const MSG* message);
void WINAPI PostQuitMessage(int exitCode);
BOOL WINAPI SetWindowTextA(HWND window, LPCSTR text);
BOOL WINAPI SetWindowPos(HWND window, HWND insertAfter, int x, int y, int width, int height, UINT flags);
LRESULT WINAPI SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// gdi32
HGDIOBJ WINAPI GetStockObject(int object);
int WINAPI GetDeviceCaps(HDC dc, int index);
int WINAPI GetObjectA(HANDLE object, int size, LPVOID buffer);
HFONT WINAPI CreateFontIndirectA(const LOGFONTA* font);
BOOL WINAPI DeleteObject(HGDIOBJ object);

// comctl32
void WINAPI InitCommonControls();

// ole32: COM, for the desktop shell's automation objects
HRESULT WINAPI CoInitializeEx(LPVOID reserved, DWORD flags);
HRESULT WINAPI CoCreateInstance(REFCLSID classId, IUnknown* outer, DWORD context, REFIID riid, LPVOID* object);
void WINAPI CoUninitialize();

// oleaut32: the strings COM passes
BSTR WINAPI SysAllocString(const OLECHAR* text);
void WINAPI SysFreeString(BSTR text);

// shell32
HINSTANCE WINAPI ShellExecuteA(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters, LPCSTR directory, INT show);
DWORD_PTR WINAPI SHGetFileInfoA(LPCSTR path, DWORD fileAttributes, SHFILEINFOA* info, UINT infoSize, UINT flags);

// version: never imported; loaded from the system folder at run time.
DWORD WINAPI GetFileVersionInfoSizeA(LPCSTR fileName, LPDWORD handle);
BOOL WINAPI GetFileVersionInfoA(LPCSTR fileName, DWORD handle, DWORD size, LPVOID data);
BOOL WINAPI VerQueryValueA(LPCVOID block, LPCSTR subBlock, LPVOID* buffer, PUINT length);

// bcrypt: never imported; loaded from the system folder at run time.
NTSTATUS WINAPI BCryptOpenAlgorithmProvider(BCRYPT_ALG_HANDLE* algorithm, LPCWSTR id, LPCWSTR implementation,
                                            ULONG flags);
NTSTATUS WINAPI BCryptGetProperty(BCRYPT_HANDLE object, LPCWSTR property, PUCHAR output, ULONG size, ULONG* result,
                                  ULONG flags);
NTSTATUS WINAPI BCryptCreateHash(BCRYPT_ALG_HANDLE algorithm, BCRYPT_HASH_HANDLE* hash, PUCHAR object, ULONG objectSize,
                                 PUCHAR secret, ULONG secretSize, ULONG flags);
NTSTATUS WINAPI BCryptHashData(BCRYPT_HASH_HANDLE hash, PUCHAR input, ULONG size, ULONG flags);
NTSTATUS WINAPI BCryptFinishHash(BCRYPT_HASH_HANDLE hash, PUCHAR output, ULONG size, ULONG flags);
NTSTATUS WINAPI BCryptDestroyHash(BCRYPT_HASH_HANDLE hash);
NTSTATUS WINAPI BCryptCloseAlgorithmProvider(BCRYPT_ALG_HANDLE algorithm, ULONG flags);

// rstrtmgr: never imported; loaded from the system folder at run time
// (Windows Vista and later). Each returns its error code.
DWORD WINAPI RmStartSession(DWORD* pSessionHandle, DWORD dwSessionFlags, WCHAR strSessionKey[]);
DWORD WINAPI RmEndSession(DWORD dwSessionHandle);
DWORD WINAPI RmRegisterResources(DWORD dwSessionHandle, UINT nFiles, LPCWSTR rgsFileNames[], UINT nApplications,
                                 RM_UNIQUE_PROCESS rgApplications[], UINT nServices, LPCWSTR rgsServiceNames[]);
DWORD WINAPI RmGetList(DWORD dwSessionHandle, UINT* pnProcInfoNeeded, UINT* pnProcInfo,
                       RM_PROCESS_INFO rgAffectedApps[], LPDWORD lpdwRebootReasons);

#endif
