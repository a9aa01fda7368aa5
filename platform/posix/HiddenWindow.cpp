// Hidden window stand-in: nothing to draw, only a life. The message loop
// waits for the window's destruction, which arrives as a write to an eventfd
// (Destroy) or as SIGTERM / SIGINT read through a signalfd.
#include "platform/HiddenWindow.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <thread>

namespace platform {

struct HiddenWindow::State {
    std::string title;
    int signalFd = -1;
    int destroyFd = -1;
    sigset_t previousMask{};
    std::thread::id creator;

    ~State() {
        if (signalFd >= 0) ::close(signalFd);
        if (destroyFd >= 0) ::close(destroyFd);
    }
};

namespace {

sigset_t EndSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    return set;
}

// Takes every pending end signal, so none is left to strike with its default
// action once the mask is restored.
void DrainSignals(int signalFd) {
    signalfd_siginfo info;
    while (::read(signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
    }
}

}  // namespace

std::unique_ptr<HiddenWindow> HiddenWindow::Create(const std::string& className, const std::string& title) {
    (void)className;  // only a window system needs the class
    auto state = std::make_unique<State>();
    state->title = title;
    state->creator = std::this_thread::get_id();
    const sigset_t endSignals = EndSignals();
    if (::pthread_sigmask(SIG_BLOCK, &endSignals, &state->previousMask) != 0) return nullptr;
    state->signalFd = ::signalfd(-1, &endSignals, SFD_CLOEXEC | SFD_NONBLOCK);
    state->destroyFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (state->signalFd < 0 || state->destroyFd < 0) {
        ::pthread_sigmask(SIG_SETMASK, &state->previousMask, nullptr);
        return nullptr;
    }
    return std::unique_ptr<HiddenWindow>(new HiddenWindow(std::move(state)));
}

HiddenWindow::HiddenWindow(std::unique_ptr<State> state) : state_(std::move(state)) {}

HiddenWindow::~HiddenWindow() {
    DrainSignals(state_->signalFd);
    // The mask belongs to the creating thread; another thread cannot restore it.
    if (std::this_thread::get_id() == state_->creator)
        ::pthread_sigmask(SIG_SETMASK, &state_->previousMask, nullptr);
}

const std::string& HiddenWindow::Title() const { return state_->title; }

int HiddenWindow::RunMessageLoop() {
    pollfd fds[2] = {{state_->signalFd, POLLIN, 0}, {state_->destroyFd, POLLIN, 0}};
    for (;;) {
        int r = ::poll(fds, 2, -1);
        if (r > 0) break;
        if (r < 0 && errno != EINTR) break;  // nothing left to wait with: end as if destroyed
    }
    DrainSignals(state_->signalFd);
    Destroy();  // a signal destroys the window too: a later loop ends at once
    // The destruction posts quit code 0.
    return 0;
}

void HiddenWindow::Destroy() {
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(state_->destroyFd, &one, sizeof one);
}

}  // namespace platform
