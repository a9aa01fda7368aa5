#pragma once

// What stands behind a platform::Process on POSIX. Shared by the POSIX
// implementation only.

#include <sys/types.h>

#include <optional>

#include "platform/Process.h"

namespace platform {

struct Process::Handle {
    pid_t pid = 0;
    // Readable once the process has ended; -1 when it could not be opened
    // (then only a started child can be waited for, without limit).
    int pidfd = -1;
    // Started by this process: a wait that sees it end reaps it.
    bool child = false;
    bool ended = false;
    std::optional<int> exitCode;

    ~Handle();
    // After the pidfd said the process has ended (or, with no pidfd, to wait
    // for a child without limit): reaps a child and notes its exit code.
    ProcessWaitResult Finish();
};

}  // namespace platform
