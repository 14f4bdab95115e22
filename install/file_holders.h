// Who holds a file open that the installer must replace: a backup agent,
// an indexer, the application in another user's session. The Restart
// Manager knows; where it is missing (Windows XP) or fails, the answer
// says so, and nothing else about the run changes.
#pragma once

#include <string>

// The holders of `path` (a name as the ANSI calls take it), for the
// support log, in the system's ANSI code page (a BoxText::SystemName):
// "Backup Agent (process 4242, session 0), Lexomir (process 77, session 2)",
// at most 8 named, then ", and 3 more"; "nobody the Restart Manager knows
// of"; or "unknown: " and why ("the Restart Manager is missing",
// "RmGetList failed, error 5").
std::string DescribeFileHolders(const std::string& path);
