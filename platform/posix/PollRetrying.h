#pragma once

// poll() that resumes after a signal with the time that is left. Shared by
// the POSIX implementation only.

#include <poll.h>

#include <cerrno>
#include <chrono>

namespace platform::posix {

inline int PollRetrying(pollfd* fds, nfds_t count, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    int wait = timeoutMs;
    for (;;) {
        int r = ::poll(fds, count, wait);
        if (r >= 0 || errno != EINTR) return r;
        if (timeoutMs >= 0) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            wait = left > 0 ? static_cast<int>(left) : 0;
        }
    }
}

}  // namespace platform::posix
