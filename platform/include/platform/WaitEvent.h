#pragma once

#include <memory>

#include "platform/Process.h"

namespace platform {

// A manual-reset event: once set it stays set. A thread that waits on a
// process or sleeps can also wait on it, so it can be told to stop without
// waiting for the process to end.
class WaitEvent {
public:
    WaitEvent();
    ~WaitEvent();
    WaitEvent(const WaitEvent&) = delete;
    WaitEvent& operator=(const WaitEvent&) = delete;

    // From any thread.
    void Set();
    bool IsSet() const;
    // True when the event is (or becomes) set within timeoutMs; timeoutMs < 0
    // waits without limit. Doubles as an interruptible sleep.
    bool Wait(int timeoutMs) const;

    // The system's event object, defined by each implementation.
    struct State;

private:
    std::unique_ptr<State> state_;
    friend ProcessWaitResult WaitForProcessOrEvent(Process& process, const WaitEvent& event, int timeoutMs);
};

// Waits until the process ends or the event is set, whichever comes first;
// when both have happened, the process's end is reported. Works for any
// process; once it has ended, a started one's exit code is known.
// timeoutMs < 0 waits without limit.
ProcessWaitResult WaitForProcessOrEvent(Process& process, const WaitEvent& event, int timeoutMs = -1);

}  // namespace platform
