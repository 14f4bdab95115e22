#include "messages/support_log.h"

#include <utility>
#include <vector>

#include "platform/owned_handle.h"

namespace {

// Bounds of one record: a run has about twenty facts to tell.
constexpr std::size_t MaxLines = 48;
constexpr std::size_t MaxLineCharacters = 400;
constexpr DWORD FirstEventId = 1000;

SupportLog::TRecord Record;

// A line as the event log takes it: on one line, and not too long.
std::wstring Flattened(const BoxText& line) {
    std::wstring text;
    if (const std::optional<std::wstring> wide = line.Wide()) {
        text = *wide;
    } else {
        // Where a conversion fails the line is still told, but for the
        // letters beyond ASCII.
        for (unsigned char c : line.Bytes()) text += c < 0x80 ? wchar_t(c) : L'?';
    }
    std::wstring flat;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool lineBreak = text[i] == L'\r' || text[i] == L'\n';
        if (lineBreak && text[i] == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') ++i;
        flat += lineBreak ? L' ' : text[i];
    }
    text = flat;
    if (text.size() > MaxLineCharacters) text = text.substr(0, MaxLineCharacters - 3) + L"...";
    return text;
}

// Room for the token's user and its SID, aligned as the user wants.
union TTokenUser {
    TOKEN_USER user;
    BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
};

// The user this process runs as, for the record's user field: an
// administrator tells by it a record of this installer from one that any
// user could write under the same source name. Null where it cannot be
// had; the record then goes without.
PSID ProcessUser(TTokenUser& buffer) {
    TOwnedHandle token;
    DWORD size = 0;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Receive()) ||
        !GetTokenInformation(token.Get(), TokenUser, &buffer, sizeof buffer, &size))
        return nullptr;
    return buffer.user.User.Sid;
}

}  // namespace

namespace SupportLog {

void Begin(const BoxText& firstLine) { Record = {{firstLine}, 0}; }

void Note(const BoxText& line) {
    if (Record.lines.size() < MaxLines - 2)  // room for the count of the rest, and the exit code
        Record.lines.push_back(line);
    else
        ++Record.leftOut;
}

void SwapRecord(TRecord& other) { std::swap(Record, other); }

std::string ErrorText(DWORD error) { return "error " + std::to_string(error); }

void Write(int exitCode) {
    if (Record.leftOut) Record.lines.push_back(std::to_string(Record.leftOut) + " more lines left out");
    Record.lines.push_back("exit code " + std::to_string(exitCode));
    std::vector<std::wstring> text;
    for (const BoxText& line : Record.lines) text.push_back(Flattened(line));
    Record = {};
    std::vector<LPCWSTR> strings;
    for (const std::wstring& line : text) strings.push_back(line.c_str());

    // A No, and a wait for another run that an engine retries by itself,
    // are not faults of the PC; a staged install is an install.
    const WORD type = exitCode == 0 || exitCode == 3010   ? EVENTLOG_INFORMATION_TYPE
                      : exitCode == 3 || exitCode == 1618 ? EVENTLOG_WARNING_TYPE
                                                          : EVENTLOG_ERROR_TYPE;
    const TOwnedEventSource source(RegisterEventSourceW(nullptr, L"LexomirUpdate"));
    TTokenUser user{};
    if (source)
        ReportEventW(source.Get(), type, 0, FirstEventId + DWORD(exitCode), ProcessUser(user), WORD(strings.size()), 0,
                     strings.data(), nullptr);
}

}  // namespace SupportLog
