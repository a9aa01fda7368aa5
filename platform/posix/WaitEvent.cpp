#include "platform/WaitEvent.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>

namespace platform {

namespace {

// poll() that resumes after a signal with the time that is left.
int PollRetrying(pollfd* fds, nfds_t count, int timeoutMs) {
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

}  // namespace

// The event never reads its counter back, so once written it stays readable:
// a manual-reset event that is never reset.
WaitEvent::WaitEvent() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

WaitEvent::~WaitEvent() {
    if (fd_ >= 0) ::close(fd_);
}

void WaitEvent::Set() {
    if (fd_ < 0) return;
    std::uint64_t one = 1;
    // Cannot block: the counter would need 2^64-2 sets to fill up.
    [[maybe_unused]] ssize_t n = ::write(fd_, &one, sizeof one);
}

bool WaitEvent::IsSet() const { return Wait(0); }

bool WaitEvent::Wait(int timeoutMs) const {
    if (fd_ < 0) return false;
    pollfd p{fd_, POLLIN, 0};
    return PollRetrying(&p, 1, timeoutMs) > 0;
}

ProcessWaitResult WaitForProcessOrEvent(ProcessId pid, const WaitEvent& event, int timeoutMs) {
    if (pid <= 0) return ProcessWaitResult::Failed;
    int processFd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (processFd < 0) return errno == ESRCH ? ProcessWaitResult::Ended : ProcessWaitResult::Failed;
    pollfd fds[2] = {{processFd, POLLIN, 0}, {event.Native(), POLLIN, 0}};
    int r = PollRetrying(fds, 2, timeoutMs);
    ::close(processFd);
    if (r < 0) return ProcessWaitResult::Failed;
    if (r == 0) return ProcessWaitResult::TimedOut;
    // When both are ready the process's end is the more useful news.
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) return ProcessWaitResult::Ended;
    return ProcessWaitResult::EventSet;
}

}  // namespace platform
