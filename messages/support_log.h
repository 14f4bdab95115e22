// A short record of each run for whoever supports the installation: a
// quiet run started by another program leaves an exit code and nothing
// else to tell why it failed. Each line is one fact: what was run, on what
// Windows, each stage reached with its outcome and Windows error code, the
// boxes shown and how they were answered, and the exit code.
//
// The record is appended to the Windows Application event log as one
// event of source "LexomirUpdate", under the user that ran the installer
// (the event's user field): an administrator finds it there, a
// standard user can neither plant a link in its way nor fill a disk with
// it, and Windows keeps the log to its size. It holds nothing personal but
// paths and that user. A record that cannot be written changes nothing else in the run.
#pragma once

#include <string>
#include <vector>

#include "messages/box_text.h"

namespace SupportLog {

// The record being made, as the process keeps it from Begin to Write.
struct TRecord {
    std::vector<BoxText> lines;
    std::size_t leftOut = 0;  // lines past the bound, counted
};

// A new record, with its first line: whatever an earlier run noted goes.
void Begin(const BoxText& firstLine);
// One line of the record; its pieces keep their code pages, as a box's do.
void Note(const BoxText& line);
// The record so far, ended with the exit code, appended to the event log
// (event id 1000 + the exit code), and forgotten.
void Write(int exitCode);
// Trades the record being made for `other`.
void SwapRecord(TRecord& other);
// The Windows error code as the record writes it: "error 5".
std::string ErrorText(DWORD error);

}  // namespace SupportLog
