// Covers: platform/win32.h, host half. The simulated threads of the installer's process, shared by the thread
// and window parts of the simulated PC (sim_threads.cpp, sim_windowing.cpp).
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <thread>

#include "tests/sim/machine.h"

namespace Sim {

// Work handed to the thread that owns a window, as SendMessage does: the
// sender waits until that thread has done it in its message loop.
struct SentWork {
    std::function<LRESULT()> work;
    LRESULT result = 0;
    bool done = false;
};

struct SimThread {
    int id = 0;
    LPTHREAD_START_ROUTINE start = nullptr;
    LPVOID parameter = nullptr;
    DWORD suspendCount = 0;
    DWORD exitCode = STILL_ACTIVE;
    bool started = false;   // created (thread 0: always)
    bool finished = false;  // its body has returned, or its machine ended it
    bool killed = false;
    std::function<bool()> waitingFor;  // while it waits: whether it may go on
    std::thread os;

    // Its message queue.
    std::deque<std::shared_ptr<SentWork>> sent;
    std::deque<MSG> posted;
    bool quitPosted = false;
    int quitCode = 0;
};

// The simulated thread that is running now (the test itself is 0).
int CurrentThread();
SimThread* ThreadById(int id);
// Lets the other threads take their turns until `ready` holds. False when
// no thread can run any more and `ready` still does not hold: the wait
// would never end. Only thread 0 ever gets false; another thread then
// hands its turn to thread 0, which reports it.
bool WaitUntil(const std::function<bool()>& ready);

}  // namespace Sim
