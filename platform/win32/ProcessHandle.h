#pragma once

// What stands behind a platform::Process on Windows. Shared by the Win32
// implementation only.

#include <windows.h>

#include <optional>

#include "platform/Process.h"

namespace platform {

struct Process::Handle {
    HANDLE process = nullptr;
    ProcessId id = kNoProcess;
    bool ended = false;
    std::optional<int> exitCode;

    ~Handle();
    // After a wait on the handle was satisfied: notes the exit code.
    ProcessWaitResult Finish();
};

namespace win32 {

// A wait's time limit as the wait functions take it.
inline DWORD WaitTime(int timeoutMs) { return timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs); }

}  // namespace win32

}  // namespace platform
