#include "platform/WaitEvent.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

#include "PollRetrying.h"
#include "ProcessHandle.h"

namespace platform {

struct WaitEvent::State {
    int fd = -1;
};

// The event never reads its counter back, so once written it stays readable:
// a manual-reset event that is never reset.
WaitEvent::WaitEvent() : state_(std::make_unique<State>()) {
    state_->fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

WaitEvent::~WaitEvent() {
    if (state_->fd >= 0) ::close(state_->fd);
}

void WaitEvent::Set() {
    if (state_->fd < 0) return;
    std::uint64_t one = 1;
    // Cannot block: the counter would need 2^64-2 sets to fill up.
    [[maybe_unused]] ssize_t n = ::write(state_->fd, &one, sizeof one);
}

bool WaitEvent::IsSet() const { return Wait(0); }

bool WaitEvent::Wait(int timeoutMs) const {
    if (state_->fd < 0) return false;
    pollfd p{state_->fd, POLLIN, 0};
    return posix::PollRetrying(&p, 1, timeoutMs) > 0;
}

ProcessWaitResult WaitForProcessOrEvent(Process& process, const WaitEvent& event, int timeoutMs) {
    Process::Handle* handle = process.handle_.get();
    if (!handle) return ProcessWaitResult::Failed;
    if (handle->ended) return ProcessWaitResult::Ended;
    if (handle->pidfd < 0) return ProcessWaitResult::Failed;
    pollfd fds[2] = {{handle->pidfd, POLLIN, 0}, {event.state_->fd, POLLIN, 0}};
    int r = posix::PollRetrying(fds, 2, timeoutMs);
    if (r < 0) return ProcessWaitResult::Failed;
    if (r == 0) return ProcessWaitResult::TimedOut;
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) return handle->Finish();
    return ProcessWaitResult::EventSet;
}

}  // namespace platform
