// Covers: platform/win32.h, host half. The Application event log, as the installer's support record reaches it,
// and the local time the record is stamped with.
#include "tests/sim/machine.h"

using Sim::pc;

HANDLE WINAPI RegisterEventSourceW(LPCWSTR server, LPCWSTR source) {
    Sim::Machine& m = pc();
    const std::wstring name = source ? source : L"";
    if (auto e = m.Enter("RegisterEventSourceW", Sim::Utf8(name))) return Sim::Fail(*e, HANDLE(nullptr));
    if (server) Sim::Unmodelled("RegisterEventSourceW on another computer");
    if (name.empty()) return Sim::Fail(ERROR_INVALID_PARAMETER, HANDLE(nullptr));
    return m.NewHandle({Sim::Machine::Handle::EventSource, Sim::Utf8(name), 0, 0});
}

BOOL WINAPI ReportEventW(HANDLE eventLog, WORD type, WORD category, DWORD eventId, PSID user, WORD stringCount,
                         DWORD dataSize, LPCWSTR* strings, LPVOID data) {
    Sim::Machine& m = pc();
    if (auto e = m.Enter("ReportEventW", std::to_string(eventId))) return Sim::Fail(*e, FALSE);
    Sim::Machine::Handle* h = m.FindHandle(eventLog, Sim::Machine::Handle::EventSource);
    if (!h) return Sim::Fail(ERROR_INVALID_HANDLE, FALSE);
    if (category || dataSize || data) Sim::Unmodelled("ReportEventW with a category or data");
    if (stringCount && !strings) return Sim::Fail(ERROR_INVALID_PARAMETER, FALSE);
    Sim::Machine::EventRecord record{Sim::FromUtf8(h->path), type, eventId, {}};
    if (const BYTE* sid = static_cast<const BYTE*>(user)) {
        if (sid[0] != 1 || sid[1] > 15) Sim::Unmodelled("ReportEventW with an invalid SID");
        record.user.assign(sid, sid + 8 + 4 * sid[1]);
    }
    for (WORD i = 0; i < stringCount; ++i) {
        const std::wstring s = strings[i] ? strings[i] : L"";
        // A single insertion string holds at most 31,839 characters.
        if (s.size() > 31839) return Sim::Fail(ERROR_INVALID_PARAMETER, FALSE);
        record.strings.push_back(s);
    }
    m.eventLog.push_back(std::move(record));
    return TRUE;
}

BOOL WINAPI DeregisterEventSource(HANDLE eventLog) {
    return pc().Release("DeregisterEventSource", eventLog, Sim::Machine::Handle::EventSource);
}

// The machine's local time as the virtual clock has moved it on (within
// the day: a test runs for minutes at most).
void WINAPI GetLocalTime(LPSYSTEMTIME time) {
    pc().Enter("GetLocalTime", "");
    SYSTEMTIME t = pc().localTime;
    const DWORD ms = t.wMilliseconds + 1000u * (t.wSecond + 60u * (t.wMinute + 60u * t.wHour)) + pc().now;
    t.wMilliseconds = WORD(ms % 1000);
    t.wSecond = WORD(ms / 1000 % 60);
    t.wMinute = WORD(ms / 60000 % 60);
    t.wHour = WORD(ms / 3600000 % 24);
    *time = t;
}
