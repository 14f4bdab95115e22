#include "install/file_holders.h"

#include <optional>
#include <vector>

#include "messages/support_log.h"
#include "platform/code_pages.h"
#include "platform/owned_handle.h"
#include "platform/system_library.h"

namespace {

constexpr std::size_t MostNamed = 8;
// The list may grow between one RmGetList and the next: asked this many
// times, a list that still outgrows its array is given up on.
constexpr int ListTries = 4;

struct RestartManager {
    decltype(&RmStartSession) start;
    decltype(&RmRegisterResources) registerResources;
    decltype(&RmGetList) getList;
    decltype(&RmEndSession) end;
};

std::string Failed(const char* call, DWORD error) {
    return std::string("unknown: ") + call + " failed, " + SupportLog::ErrorText(error);
}

// Windows XP has no rstrtmgr.dll; anything else keeps its error.
std::string Missing(const char* what, DWORD error) {
    if (error == ERROR_MOD_NOT_FOUND || error == ERROR_PROC_NOT_FOUND) return "unknown: the Restart Manager is missing";
    return std::string("unknown: ") + what + ", " + SupportLog::ErrorText(error);
}

std::string Holder(const RM_PROCESS_INFO& info) {
    std::wstring wide(info.strAppName, CCH_RM_MAX_APP_NAME + 1);
    wide.resize(wide.find(L'\0') == std::wstring::npos ? CCH_RM_MAX_APP_NAME : wide.find(L'\0'));
    const std::optional<std::string> name = FromUnicode(wide, CP_ACP);
    std::string text = name && !name->empty() ? *name : "a program without a name";
    text += " (process " + std::to_string(info.Process.dwProcessId) + ", ";
    if (info.TSSessionId == DWORD(RM_INVALID_TS_SESSION))
        text += "session unknown)";
    else
        text += "session " + std::to_string(info.TSSessionId) + ")";
    return text;
}

// The list of a session the file is registered with.
std::string List(const RestartManager& rm, DWORD session) {
    std::vector<RM_PROCESS_INFO> found(MostNamed);
    for (int tries = 0; tries < ListTries; ++tries) {
        UINT needed = 0, count = UINT(found.size());
        DWORD reasons = 0;
        const DWORD error = rm.getList(session, &needed, &count, found.data(), &reasons);
        if (error == ERROR_MORE_DATA) {
            found.resize(needed + MostNamed);
            continue;
        }
        if (error != ERROR_SUCCESS) return Failed("RmGetList", error);
        if (count == 0) return "nobody the Restart Manager knows of";
        std::string text;
        for (UINT i = 0; i < count && i < MostNamed; ++i) text += (i ? ", " : "") + Holder(found[i]);
        if (count > MostNamed) text += ", and " + std::to_string(count - MostNamed) + " more";
        return text;
    }
    return Failed("RmGetList", ERROR_MORE_DATA);
}

}  // namespace

std::string DescribeFileHolders(const std::string& path) {
    const TOwnedModule library(LoadSystemLibrary("rstrtmgr.dll"));
    if (!library) return Missing("rstrtmgr.dll could not be loaded", GetLastError());
    const RestartManager rm{LookupFunction<decltype(&RmStartSession)>(library.Get(), "RmStartSession"),
                            LookupFunction<decltype(&RmRegisterResources)>(library.Get(), "RmRegisterResources"),
                            LookupFunction<decltype(&RmGetList)>(library.Get(), "RmGetList"),
                            LookupFunction<decltype(&RmEndSession)>(library.Get(), "RmEndSession")};
    if (!rm.start || !rm.registerResources || !rm.getList || !rm.end)
        return Missing("its calls could not be found", GetLastError());
    const std::optional<std::wstring> wide = ToUnicode(path, CP_ACP);
    if (!wide) return "unknown: the path could not be converted, " + SupportLog::ErrorText(GetLastError());

    DWORD session = 0;
    WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
    if (const DWORD error = rm.start(&session, 0, key)) return Failed("RmStartSession", error);
    LPCWSTR files[] = {wide->c_str()};
    const DWORD error = rm.registerResources(session, 1, files, 0, nullptr, 0, nullptr);
    const std::string text = error ? Failed("RmRegisterResources", error) : List(rm, session);
    // A session left open counts against the user's 64 until the process
    // ends; what it found stands whether or not it ends cleanly.
    rm.end(session);
    return text;
}
