/* Starts one program, waits for it and reports what it cost: wall time from
 * just before CreateProcess to the end of the wait (QueryPerformanceCounter),
 * the exit code, and the memory counters of GetProcessMemoryInfo.
 *
 *   launcher.exe [--poll MS] [--cwd DIR] [--out FILE] [--delete-value KEY NAME]
 *                [--query-dword KEY NAME] -- PROGRAM [ARGS...]
 *
 * Prints (and appends to FILE when given) one line of key=value pairs:
 *   exit=0 wall_ms=123.456 start_qpc=... end_qpc=... qpc_freq=... peak_ws=...
 *   peak_private=... peak_pagefile=... final_private=... samples=N
 *   counters_after_exit=0|1 [dword=N]
 *
 * --delete-value removes a value under HKEY_LOCAL_MACHINE\KEY (64-bit view)
 * before the start, --query-dword reads one after the end (dword=-1 when
 * there is none): the registry is prepared and checked outside the timing,
 * without a process of its own for each.
 *
 * Without --poll the launcher only waits, so the timing is not disturbed.
 * With --poll it samples the counters every MS milliseconds while the child
 * runs and keeps the largest value of each. Sampling is needed under Wine:
 * there PrivateUsage and PeakPagefileUsage are both the current anonymous
 * resident size (RssAnon + VmSwap of the Unix process), not a peak, and the
 * counters of a process that has ended cannot be read at all. Only
 * PeakWorkingSetSize (VmHWM) is a true peak there. On Windows the counters
 * read after the wait are exact and win over the samples.
 *
 * The start time is also put in the child's environment as
 * BENCH_LAUNCH_QPC (decimal counts), so that a child that reads
 * QueryPerformanceCounter first thing can tell how long its own start-up
 * took. */
// windows.h comes first: the other SDK headers need it.
#include <windows.h>

#include <psapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static void append_arg(char* cmd, size_t cap, const char* arg) {
    size_t len = strlen(cmd);
    int quote = arg[0] == '\0' || strpbrk(arg, " \t") != NULL;
    if (len && len + 1 < cap) cmd[len++] = ' ';
    if (quote && len + 1 < cap) cmd[len++] = '"';
    for (const char* p = arg; *p && len + 1 < cap; ++p) cmd[len++] = *p;
    if (quote && len + 1 < cap) cmd[len++] = '"';
    cmd[len] = '\0';
}

typedef struct {
    SIZE_T peak_ws, peak_private, peak_pagefile, final_private;
    int samples;
} Memory;

static int sample(HANDLE process, Memory* m) {
    PROCESS_MEMORY_COUNTERS_EX c;
    memset(&c, 0, sizeof c);
    c.cb = sizeof c;
    if (!GetProcessMemoryInfo(process, (PROCESS_MEMORY_COUNTERS*)&c, sizeof c)) return 0;
    if (c.PeakWorkingSetSize > m->peak_ws) m->peak_ws = c.PeakWorkingSetSize;
    if (c.PrivateUsage > m->peak_private) m->peak_private = c.PrivateUsage;
    if (c.PeakPagefileUsage > m->peak_pagefile) m->peak_pagefile = c.PeakPagefileUsage;
    /* Windows keeps no peak of PrivateUsage, but PeakPagefileUsage is that
     * peak (both count the commit charge of the process). */
    if (c.PeakPagefileUsage > m->peak_private) m->peak_private = c.PeakPagefileUsage;
    m->final_private = c.PrivateUsage;
    m->samples++;
    return 1;
}

static HKEY open_key(const char* key, REGSAM access) {
    HKEY h = NULL;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, access | KEY_WOW64_64KEY, &h) != ERROR_SUCCESS) return NULL;
    return h;
}

int main(int argc, char** argv) {
    int poll = 0;
    const char *cwd = NULL, *out = NULL;
    const char *delete_key = NULL, *delete_name = NULL, *query_key = NULL, *query_name = NULL;
    int i = 1;
    for (; i < argc; ++i) {
        if (!strcmp(argv[i], "--poll") && i + 1 < argc)
            poll = atoi(argv[++i]);
        else if (!strcmp(argv[i], "--cwd") && i + 1 < argc)
            cwd = argv[++i];
        else if (!strcmp(argv[i], "--out") && i + 1 < argc)
            out = argv[++i];
        else if (!strcmp(argv[i], "--delete-value") && i + 2 < argc) {
            delete_key = argv[++i];
            delete_name = argv[++i];
        } else if (!strcmp(argv[i], "--query-dword") && i + 2 < argc) {
            query_key = argv[++i];
            query_name = argv[++i];
        } else if (!strcmp(argv[i], "--")) {
            ++i;
            break;
        } else
            break;
    }
    if (i >= argc) {
        fprintf(stderr,
                "usage: launcher [--poll MS] [--cwd DIR] [--out FILE] [--delete-value KEY NAME] "
                "[--query-dword KEY NAME] -- PROGRAM [ARGS...]\n");
        return 100;
    }
    static char cmd[32768];
    cmd[0] = '\0';
    for (int k = i; k < argc; ++k) append_arg(cmd, sizeof cmd, argv[k]);

    LARGE_INTEGER freq, start, end;
    QueryPerformanceFrequency(&freq);
    STARTUPINFOA si;
    PROCESS_INFORMATION pi;
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    Memory m;
    memset(&m, 0, sizeof m);

    if (delete_key) {
        HKEY h = open_key(delete_key, KEY_SET_VALUE);
        LONG rc = h ? RegDeleteValueA(h, delete_name) : ERROR_FILE_NOT_FOUND;
        if (h) RegCloseKey(h);
        if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) {
            fprintf(stderr, "launcher: cannot delete %s\\%s (%ld)\n", delete_key, delete_name, rc);
            return 102;
        }
    }

    QueryPerformanceCounter(&start);
    char stamp[32];
    snprintf(stamp, sizeof stamp, "%lld", (long long)start.QuadPart);
    SetEnvironmentVariableA("BENCH_LAUNCH_QPC", stamp);
    if (!CreateProcessA(NULL, cmd, NULL, NULL, FALSE, 0, NULL, cwd, &si, &pi)) {
        fprintf(stderr, "launcher: CreateProcess failed (%lu): %s\n", GetLastError(), cmd);
        return 101;
    }
    if (poll > 0) {
        while (WaitForSingleObject(pi.hProcess, (DWORD)poll) == WAIT_TIMEOUT) sample(pi.hProcess, &m);
    } else {
        WaitForSingleObject(pi.hProcess, INFINITE);
    }
    QueryPerformanceCounter(&end);

    /* Exact on Windows; fails under Wine once the process has ended. */
    Memory after;
    memset(&after, 0, sizeof after);
    /* Under Wine the call may succeed on an ended process and return zeros. */
    int after_ok = sample(pi.hProcess, &after) && after.peak_ws != 0;
    if (after_ok) {
        if (after.peak_ws > m.peak_ws) m.peak_ws = after.peak_ws;
        if (after.peak_private > m.peak_private) m.peak_private = after.peak_private;
        if (after.peak_pagefile > m.peak_pagefile) m.peak_pagefile = after.peak_pagefile;
        m.final_private = after.final_private;
        m.samples++;
    }

    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);

    char dword[32] = "";
    if (query_key) {
        DWORD value = 0, type = 0, size = sizeof value;
        HKEY h = open_key(query_key, KEY_QUERY_VALUE);
        LONG rc = h ? RegQueryValueExA(h, query_name, NULL, &type, (BYTE*)&value, &size) : ERROR_FILE_NOT_FOUND;
        if (h) RegCloseKey(h);
        if (rc == ERROR_SUCCESS && type == REG_DWORD)
            snprintf(dword, sizeof dword, " dword=%lu", value);
        else
            snprintf(dword, sizeof dword, " dword=-1");
    }

    double ms = (double)(end.QuadPart - start.QuadPart) * 1000.0 / (double)freq.QuadPart;
    char line[640];
    snprintf(line, sizeof line,
             "exit=%lu wall_ms=%.3f start_qpc=%lld end_qpc=%lld qpc_freq=%lld peak_ws=%llu peak_private=%llu "
             "peak_pagefile=%llu final_private=%llu samples=%d counters_after_exit=%d%s\n",
             code, ms, (long long)start.QuadPart, (long long)end.QuadPart, (long long)freq.QuadPart,
             (unsigned long long)m.peak_ws, (unsigned long long)m.peak_private, (unsigned long long)m.peak_pagefile,
             (unsigned long long)m.final_private, m.samples, after_ok, dword);
    fputs(line, stdout);
    if (out) {
        FILE* f = fopen(out, "ab");
        if (f) {
            fputs(line, f);
            fclose(f);
        }
    }
    return 0;
}
