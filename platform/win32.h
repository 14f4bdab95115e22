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

// The SDK's macros that take arguments.
#define MAKEINTRESOURCEA(i) ((LPSTR)((ULONG_PTR)((WORD)(i))))
#define IS_INTRESOURCE(r) ((((ULONG_PTR)(r)) >> 16) == 0)
#define MAKELANGID(p, s) ((((WORD)(s)) << 10) | (WORD)(p))
#define NT_SUCCESS(s) (((NTSTATUS)(s)) >= 0)
#define LOWORD(l) ((WORD)(((DWORD_PTR)(l)) & 0xffff))
#define V_VT(v) ((v)->vt)
#define V_I4(v) ((v)->lVal)
#define V_BSTR(v) ((v)->bstrVal)
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)

// The types, then the values, each in a file of its own so that
// platform/windows/win32_values_check.cpp can check them against the SDK.
#define LEXOMIR_WIN32_VALUE(name, value) inline constexpr auto name = value
#define LEXOMIR_WIN32_POINTER(name, value) inline const auto name = value
#include "platform/win32_host_types.h"
#include "platform/win32_host_values.h"
#undef LEXOMIR_WIN32_VALUE
#undef LEXOMIR_WIN32_POINTER

// ------------------------------------------------------------------------
// The desktop shell's automation objects (driver/desktop_user), with only
// the methods the installer calls. (Macros in the SDK, these references
// stay out of win32_host_types.h.)
typedef const GUID& REFGUID;
typedef const IID& REFIID;
typedef const CLSID& REFCLSID;
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
