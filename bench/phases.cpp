// The installer's own run, timed stage by stage. phases.exe is linked from
// the installer's objects (its entry point, terminate handler, product
// library, resources, and the same placing of the resources and seal) and
// this one file, which adds no step to the run: before WinMain it sets the
// product's RunStageListener (runtime/run_stages.h), and the sequence
// announces each stage as it enters it. Each announcement is stamped with
// QueryPerformanceCounter, which Wine and Windows keep alike in every
// process, so the stamps can be set against the launcher's own start and
// end of the run.
//
// The write stage is cut further where the data file's last WriteFile
// returns: before it the resource, the temporary file and the write; after
// it the flush, the close and the rename. The link redirects the product's
// calls of WriteFile, FlushFileBuffers and SetFileInformationByHandle (the
// rename) through this file
// (-Wl,--wrap on their import slots, bench/CMakeLists.txt), which stamps
// them and calls the system's function.
//
// At exit one line of key=value pairs is appended to the file named by
// BENCH_PHASES_OUT: the counter's frequency, the stamps (-1 for a stage
// never announced), the number of announcements of each stage, and the
// count and time inside each of the three calls during the write stage.
// windows.h comes first: the other SDK headers need it.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "runtime/run_stages.h"

namespace {

constexpr int StageCount = int(RunStage::Ending) + 1;
const char* const StageNames[StageCount] = {"sequence", "selfcheck", "write", "size", "ending"};

struct CallTally {
    int count = 0;
    long long inside = 0;  // counts spent in the call
    long long lastReturn = -1;
};

long long Now() {
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t.QuadPart;
}

long long Constructed = -1;
long long AtExit = -1;
long long Stamps[StageCount] = {-1, -1, -1, -1, -1};
int Announced[StageCount] = {};
int Current = -1;
CallTally Writes, Flushes, Moves;

void Record(RunStage stage) {
    const long long now = Now();
    const int i = int(stage);
    if (i < 0 || i >= StageCount) return;
    if (Announced[i]++ == 0) Stamps[i] = now;
    Current = i;
}

// Tallied only while the sequence is in the write stage.
template <typename Call>
auto Timed(CallTally& tally, Call call) {
    const long long before = Now();
    auto result = call();
    const long long after = Now();
    if (Current == int(RunStage::Write)) {
        tally.count++;
        tally.inside += after - before;
        tally.lastReturn = after;
    }
    return result;
}

void Report() {
    AtExit = Now();
    const char* out = std::getenv("BENCH_PHASES_OUT");
    if (!out) return;
    FILE* f = std::fopen(out, "ab");
    if (!f) return;
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    std::fprintf(f, "freq=%lld constructed=%lld", (long long)frequency.QuadPart, Constructed);
    for (int i = 0; i < StageCount; ++i)
        std::fprintf(f, " %s=%lld %s_marks=%d", StageNames[i], Stamps[i], StageNames[i], Announced[i]);
    std::fprintf(
        f, " atexit=%lld written=%lld writes=%d write_in=%lld flushes=%d flush_in=%lld moves=%d move_in=%lld\n", AtExit,
        Writes.lastReturn, Writes.count, Writes.inside, Flushes.count, Flushes.inside, Moves.count, Moves.inside);
    std::fclose(f);
}

struct Listen {
    Listen() {
        Constructed = Now();
        RunStageListener = Record;
        std::atexit(Report);
    }
} listen;

}  // namespace

// The import slots the product's calls go through, redirected here by the
// link; the __real_ names are the system's slots.
extern "C" {
extern decltype(&WriteFile) __real___imp_WriteFile;
extern decltype(&FlushFileBuffers) __real___imp_FlushFileBuffers;
extern decltype(&SetFileInformationByHandle) __real___imp_SetFileInformationByHandle;

static BOOL WINAPI TimedWriteFile(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
    return Timed(Writes, [&] { return __real___imp_WriteFile(file, data, size, written, overlapped); });
}
static BOOL WINAPI TimedFlushFileBuffers(HANDLE file) {
    return Timed(Flushes, [&] { return __real___imp_FlushFileBuffers(file); });
}
static BOOL WINAPI TimedSetFileInformationByHandle(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID info,
                                                   DWORD size) {
    return Timed(Moves, [&] { return __real___imp_SetFileInformationByHandle(file, kind, info, size); });
}

decltype(&WriteFile) __wrap___imp_WriteFile = TimedWriteFile;
decltype(&FlushFileBuffers) __wrap___imp_FlushFileBuffers = TimedFlushFileBuffers;
decltype(&SetFileInformationByHandle) __wrap___imp_SetFileInformationByHandle = TimedSetFileInformationByHandle;
}
