// Covers: platform/win32.h, host half. Threads and events of the installer's own process.
//
// A simulated thread is a real thread, but only one of them runs at a time:
// the running one keeps going until it waits (for an event, for a message,
// for another thread to handle what it sent), and only then does another
// one whose wait is over take its turn, the lowest-numbered first. The test
// itself is thread 0. A run with threads is therefore exactly repeatable,
// and the machine's state, which is not guarded by locks, is only ever
// touched by the thread whose turn it is. A new thread first runs when its
// creator waits; a wait that no thread can ever end is reported as
// unmodelled instead of hanging the test.
//
// When the machine goes away, a thread still waiting for a message gets the
// quit message, so its loop ends as it would end on WM_QUIT and its object
// is freed; a thread waiting for anything else is unwound where it waits.
#include "tests/sim/sim_threads.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

#ifdef __SANITIZE_ADDRESS__
#include <sanitizer/lsan_interface.h>
#endif

namespace Sim {

namespace {

thread_local int currentThread = 0;

// Thrown into a waiting thread when its machine goes away and its wait
// cannot end otherwise: it unwinds the thread's body without running any
// more of it. Nothing in the product catches it, as it is no Exception and
// no std::exception.
struct ThreadEnds {};

}  // namespace

struct Machine::Threading {
    std::mutex mutex;
    std::condition_variable turn;
    int running = 0;
    std::vector<std::unique_ptr<SimThread>> threads;
    std::map<std::uintptr_t, int> threadHandles;  // handle value -> thread id
    struct EventState {
        bool manualReset = false;
        bool signalled = false;
    };
    std::map<std::uintptr_t, EventState> events;
};

namespace {

Machine::Threading& Threads() {
    Machine& m = pc();
    if (!m.threading) {
        m.threading = std::make_shared<Machine::Threading>();
        auto self = std::make_unique<SimThread>();
        self->id = 0;
        self->started = true;
        m.threading->threads.push_back(std::move(self));
    }
    return *m.threading;
}

bool CanRun(const SimThread& t) {
    return t.started && !t.finished && t.suspendCount == 0 && (!t.waitingFor || t.waitingFor());
}

// The thread to take the next turn, other than `except`; -1 when none can.
int NextToRun(Machine::Threading& ts, int except) {
    for (const auto& t : ts.threads)
        if (t->id != except && CanRun(*t)) return t->id;
    return -1;
}

// Gives the turn to `next` and waits until it comes back.
void HandOver(Machine::Threading& ts, SimThread& self, int next) {
    std::unique_lock<std::mutex> lock(ts.mutex);
    ts.running = next;
    ts.turn.notify_all();
    ts.turn.wait(lock, [&] { return ts.running == self.id || self.killed; });
}

void RunThread(Machine::Threading* ts, SimThread* self) {
    currentThread = self->id;
    {
        std::unique_lock<std::mutex> lock(ts->mutex);
        ts->turn.wait(lock, [&] { return ts->running == self->id || self->killed; });
    }
    bool killed = self->killed;
#ifdef __SANITIZE_ADDRESS__
    // Ended before its first turn, its start routine never runs; on Windows
    // what the thread was handed would go with the process.
    if (killed) __lsan_ignore_object(self->parameter);
#endif
    if (!killed) {
        try {
            self->exitCode = self->start(self->parameter);
        } catch (const ThreadEnds&) {
            killed = true;
        }
    }
    self->finished = true;
    int next = 0;
    if (!killed && !self->killed) {
        // Windows destroys the windows of a thread that ends.
        for (auto& [window, state] : pc().windows)
            if (state.procedure && state.thread == self->id) state.alive = false;
        next = NextToRun(*ts, self->id);
        if (next < 0) next = 0;  // thread 0 finds out that nobody can go on
    }
    std::lock_guard<std::mutex> lock(ts->mutex);
    ts->running = next;
    ts->turn.notify_all();
}

}  // namespace

int CurrentThread() { return currentThread; }

SimThread* ThreadById(int id) {
    Machine::Threading& ts = Threads();
    if (id < 0 || std::size_t(id) >= ts.threads.size()) return nullptr;
    return ts.threads[std::size_t(id)].get();
}

bool WaitUntil(const std::function<bool()>& ready) {
    Machine::Threading& ts = Threads();
    SimThread& self = *ts.threads[std::size_t(currentThread)];
    while (!ready()) {
        int next = NextToRun(ts, self.id);
        if (next < 0) {
            if (self.id == 0) return false;
            next = 0;
        }
        self.waitingFor = ready;
        HandOver(ts, self, next);
        self.waitingFor = nullptr;
        if (self.killed && !ready()) throw ThreadEnds{};
    }
    return true;
}

Machine::~Machine() { EndThreads(); }

void Machine::EndThreads() {
    if (!threading || currentThread != 0) return;
    for (auto& t : threading->threads) {
        if (t->id == 0 || !t->os.joinable()) continue;
        {
            std::unique_lock<std::mutex> lock(threading->mutex);
            if (!t->finished) {
                t->killed = true;
                t->quitPosted = true;
                threading->running = t->id;
                threading->turn.notify_all();
                threading->turn.wait(lock, [&] { return t->finished && threading->running == 0; });
            }
        }
        t->os.join();
    }
}

DWORD WaitForEvent(HANDLE event, DWORD milliseconds) {
    Machine::Threading& ts = Threads();
    const std::uintptr_t key = reinterpret_cast<std::uintptr_t>(event);
    auto signalled = [&ts, key] {
        auto it = ts.events.find(key);
        return it == ts.events.end() || it->second.signalled;
    };
    if (milliseconds != 0 && milliseconds != INFINITE) Unmodelled("a timed wait on an event");
    if (milliseconds == 0 ? !signalled() : !WaitUntil(signalled)) {
        if (milliseconds == 0) return WAIT_TIMEOUT;
        Unmodelled("WaitForSingleObject(INFINITE) on an event nobody can set");
        return Fail(ERROR_INVALID_HANDLE, WAIT_FAILED);
    }
    auto it = ts.events.find(key);
    if (it == ts.events.end()) {
        // Closed while it was waited for.
        return Fail(ERROR_INVALID_HANDLE, WAIT_FAILED);
    }
    if (!it->second.manualReset) it->second.signalled = false;
    return WAIT_OBJECT_0;
}

// A thread's handle is signalled when it has ended; where no thread can
// run, time passes to what falls due, and to the time-out at most.
DWORD WaitForThread(HANDLE thread, DWORD milliseconds) {
    Machine& m = pc();
    const SimThread* t = ThreadById(Threads().threadHandles.at(reinterpret_cast<std::uintptr_t>(thread)));
    const DWORD deadline = m.now + milliseconds;
    while (!WaitUntil([t] { return t->finished; })) {
        if (milliseconds == INFINITE) Unmodelled("WaitForSingleObject(INFINITE) on a thread that never ends");
        if (m.timeline.empty() || m.timeline.begin()->first > deadline) {
            m.now = deadline;
            return WAIT_TIMEOUT;
        }
        m.now = std::max(m.now, m.timeline.begin()->first);
        m.RunDue();
    }
    return WAIT_OBJECT_0;
}

}  // namespace Sim

using Sim::pc;

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stackSize, LPTHREAD_START_ROUTINE start,
                           LPVOID parameter, DWORD flags, LPDWORD threadId) {
    Sim::Machine& m = pc();
    if (auto e = m.Enter("CreateThread", std::to_string(flags))) return Sim::Fail(*e, nullptr);
    if (security || stackSize) Sim::Unmodelled("CreateThread with security attributes or a stack size");
    if (flags & ~DWORD(CREATE_SUSPENDED)) Sim::Unmodelled("CreateThread flags");
    if (!start) return Sim::Fail(ERROR_INVALID_PARAMETER, nullptr);
    Sim::Machine::Threading& ts = Sim::Threads();
    auto thread = std::make_unique<Sim::SimThread>();
    Sim::SimThread* t = thread.get();
    t->id = int(ts.threads.size());
    t->start = start;
    t->parameter = parameter;
    t->suspendCount = (flags & CREATE_SUSPENDED) ? 1 : 0;
    t->started = true;
    ts.threads.push_back(std::move(thread));
    t->os = std::thread(Sim::RunThread, &ts, t);
    HANDLE handle = m.NewHandle(Sim::Machine::Handle{Sim::Machine::Handle::Thread, "", 0, 0});
    ts.threadHandles[reinterpret_cast<std::uintptr_t>(handle)] = t->id;
    if (threadId) *threadId = DWORD(0x1000 + 4 * t->id);
    return handle;
}

DWORD WINAPI ResumeThread(HANDLE thread) {
    if (auto e = pc().Enter("ResumeThread", "")) return Sim::Fail(*e, DWORD(-1));
    Sim::Machine::Threading& ts = Sim::Threads();
    if (!pc().FindHandle(thread, Sim::Machine::Handle::Thread)) return Sim::Fail(ERROR_INVALID_HANDLE, DWORD(-1));
    auto it = ts.threadHandles.find(reinterpret_cast<std::uintptr_t>(thread));
    if (it == ts.threadHandles.end()) {
        Sim::Unmodelled("ResumeThread on the thread of another process");
        return DWORD(-1);
    }
    Sim::SimThread& t = *ts.threads[std::size_t(it->second)];
    return t.suspendCount ? t.suspendCount-- : 0;
}

HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState, LPCSTR name) {
    Sim::Machine& m = pc();
    if (auto e = m.Enter("CreateEventA", name ? name : "")) return Sim::Fail(*e, nullptr);
    if (security || name) Sim::Unmodelled("CreateEventA with security attributes or a name");
    HANDLE handle = m.NewHandle(Sim::Machine::Handle{Sim::Machine::Handle::Event, "", 0, 0});
    Sim::Threads().events[reinterpret_cast<std::uintptr_t>(handle)] = {manualReset != FALSE, initialState != FALSE};
    return Sim::Fail(0, handle);
}

BOOL WINAPI SetEvent(HANDLE event) {
    if (auto e = pc().Enter("SetEvent", "")) return Sim::Fail(*e, FALSE);
    Sim::Machine::Threading& ts = Sim::Threads();
    auto it = ts.events.find(reinterpret_cast<std::uintptr_t>(event));
    if (!pc().FindHandle(event, Sim::Machine::Handle::Event) || it == ts.events.end())
        return Sim::Fail(ERROR_INVALID_HANDLE, FALSE);
    it->second.signalled = true;
    return TRUE;
}
