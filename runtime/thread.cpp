#include "runtime/thread.h"

#include <exception>
#include <string>

TThread::TThread() {
    handle_.Reset(CreateThread(nullptr, 0, &TThread::ThreadProc, this, CREATE_SUSPENDED, &id_));
    if (!handle_) throw EThread("Thread creation error: " + std::to_string(GetLastError()));
}

TThread::~TThread() = default;

void TThread::Start() {
    if (ResumeThread(handle_.Get()) == DWORD(-1))
        throw EThread("Cannot start the thread: " + std::to_string(GetLastError()));
}

void TThread::DoTerminate() {}

DWORD WINAPI TThread::ThreadProc(LPVOID object) {
    auto* self = static_cast<TThread*>(object);
    try {
        self->Execute();
    } catch (const Exception&) {
    } catch (const std::exception&) {
    }
    const bool free = self->FreeOnTerminate;
    self->DoTerminate();
    if (free) delete self;
    return 0;
}
