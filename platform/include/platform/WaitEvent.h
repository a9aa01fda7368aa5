#pragma once

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

    // The OS object the waits below combine with a process wait.
    int Native() const { return fd_; }

private:
    int fd_;
};

enum class ProcessWaitResult {
    Ended,     // the process has ended (or no longer exists)
    EventSet,  // the event was set first
    TimedOut,
    Failed,    // the process cannot be waited on
};

// Waits until the process ends or the event is set, whichever comes first.
// Works for any process; a child that ended still has to be reaped with
// WaitForChild. timeoutMs < 0 waits without limit.
ProcessWaitResult WaitForProcessOrEvent(ProcessId pid, const WaitEvent& event, int timeoutMs = -1);

}  // namespace platform
