// The runtime's thread object: an object whose virtual Execute runs on a
// thread of its own.
#pragma once

#include <memory>
#include <utility>

#include "platform/owned_handle.h"
#include "platform/win32.h"
#include "runtime/exception.h"

// A thread that could not be created or started.
class EThread : public Exception {
public:
    using Exception::Exception;
    const char* ClassName() const override { return "EThread"; }
};

class TThread {
public:
    virtual ~TThread();
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    // Lets the thread run. Raises EThread when it cannot be resumed.
    void Start();
    DWORD ThreadId() const { return id_; }

protected:
    // Creates the thread, suspended: the object must be complete before its
    // Execute can run, and a base-class constructor cannot know when that
    // is. NewThread starts it once it is. Raises EThread.
    TThread();

    // Runs on the thread when Execute has returned.
    virtual void DoTerminate();
    // The thread's body. An Exception or std::exception leaving it ends the
    // thread quietly.
    virtual void Execute() = 0;

    // Set: the object destroys itself when its thread has finished. Only
    // the thread itself may delete such an object.
    bool FreeOnTerminate = false;

private:
    static DWORD WINAPI ThreadProc(LPVOID object);

    TOwnedHandle handle_;
    DWORD id_ = 0;
};

// Constructs a thread object and, unless it is to start suspended, lets its
// thread run. A thread object marked FreeOnTerminate may be gone by the
// time this returns; the result is then only a name for it.
template <typename T, typename... Args>
T* NewThread(bool createSuspended, Args&&... args) {
    std::unique_ptr<T> thread(new T(std::forward<Args>(args)...));
    if (!createSuspended) thread->Start();
    return thread.release();
}
