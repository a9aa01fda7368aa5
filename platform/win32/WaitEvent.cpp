#include "platform/WaitEvent.h"

#include <windows.h>

#include "ProcessHandle.h"

namespace platform {

struct WaitEvent::State {
    HANDLE event = nullptr;
};

// Manual reset: once set, every wait sees it until the object goes.
WaitEvent::WaitEvent() : state_(std::make_unique<State>()) {
    state_->event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

WaitEvent::~WaitEvent() {
    if (state_->event) CloseHandle(state_->event);
}

void WaitEvent::Set() {
    if (state_->event) SetEvent(state_->event);
}

bool WaitEvent::IsSet() const { return Wait(0); }

bool WaitEvent::Wait(int timeoutMs) const {
    if (!state_->event) return false;
    return WaitForSingleObject(state_->event, win32::WaitTime(timeoutMs)) == WAIT_OBJECT_0;
}

ProcessWaitResult WaitForProcessOrEvent(Process& process, const WaitEvent& event, int timeoutMs) {
    Process::Handle* handle = process.handle_.get();
    if (!handle) return ProcessWaitResult::Failed;
    if (handle->ended) return ProcessWaitResult::Ended;
    // An event that could not be created is never set: wait on the process alone.
    if (!event.state_->event) return process.Wait(timeoutMs);
    // The process comes first: when both are signalled, the wait names the
    // lower index, and the process's end is the more useful news.
    const HANDLE objects[2] = {handle->process, event.state_->event};
    switch (WaitForMultipleObjects(2, objects, FALSE, win32::WaitTime(timeoutMs))) {
        case WAIT_OBJECT_0:
            return handle->Finish();
        case WAIT_OBJECT_0 + 1:
            return ProcessWaitResult::EventSet;
        case WAIT_TIMEOUT:
            return ProcessWaitResult::TimedOut;
        default:
            return ProcessWaitResult::Failed;
    }
}

}  // namespace platform
