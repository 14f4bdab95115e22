// Covers: driver/process_state.cpp, driver/program_entry.cpp
// A second run of the installer on the same simulated PC, started while
// the first is inside a call: it runs to its end in a process of its own
// (a new process's state; the first's is put aside whole), and the first
// then goes on as if it had been paused there. The same machine, the same
// files, the same answers to boxes.
#pragma once

#include <string>
#include <utility>

#include "driver/process_state.h"
#include "driver/program_entry.h"
#include "progress/progress_window.h"
#include "tests/sim/machine.h"

namespace SecondRun {

inline int Run(const std::string& commandLine) {
    Sim::Machine& m = Sim::pc();
    TProcessState first;
    Progress::TWindowState window;
    SwapProcessState(first);
    Progress::SwapWindowState(window);
    auto meanwhile = std::exchange(m.meanwhile, nullptr);
    const std::string firstCommandLine = std::exchange(m.commandLine, commandLine);
    const int code = RunInstaller();
    m.commandLine = firstCommandLine;
    m.meanwhile = std::move(meanwhile);
    SwapProcessState(first);
    Progress::SwapWindowState(window);
    return code;
}

}  // namespace SecondRun
