// The console dialog's waits: poll on the input descriptor and on a pipe
// that Post() writes to.
#include "platform/ConsoleDialog.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

struct ConsoleInput::Impl {
    int readFd = -1;
    int writeFd = -1;    // a feed's writing end
    bool owned = false;  // standard input is not ours to close
};

ConsoleInput::ConsoleInput(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

ConsoleInput::~ConsoleInput() {
    EndInput();
    if (impl_->owned && impl_->readFd >= 0) ::close(impl_->readFd);
}

std::shared_ptr<ConsoleInput> ConsoleInput::Standard() {
    auto impl = std::make_unique<Impl>();
    impl->readFd = STDIN_FILENO;
    return std::shared_ptr<ConsoleInput>(new ConsoleInput(std::move(impl)));
}

std::shared_ptr<ConsoleInput> ConsoleInput::MakeFeed() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return nullptr;
    auto impl = std::make_unique<Impl>();
    impl->readFd = fds[0];
    impl->writeFd = fds[1];
    impl->owned = true;
    return std::shared_ptr<ConsoleInput>(new ConsoleInput(std::move(impl)));
}

bool ConsoleInput::Type(const std::string& keys) {
    if (impl_->writeFd < 0) return false;
    size_t done = 0;
    while (done < keys.size()) {
        const ssize_t n = ::write(impl_->writeFd, keys.data() + done, keys.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

void ConsoleInput::EndInput() {
    if (impl_->writeFd < 0) return;
    ::close(impl_->writeFd);
    impl_->writeFd = -1;
}

struct ConsoleDialog::Wake {
    int readFd = -1;
    int writeFd = -1;
};

ConsoleDialog::ConsoleDialog(std::shared_ptr<ConsoleInput> input, std::FILE* out, std::FILE* err)
    : input_(std::move(input)), out_(out), err_(err), wake_(std::make_unique<Wake>()) {
    int wake[2];
    if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) == 0) {
        wake_->readFd = wake[0];
        wake_->writeFd = wake[1];
    }
}

ConsoleDialog::~ConsoleDialog() {
    {
        std::lock_guard lock(mutex_);
        EndProgressLine();
    }
    if (wake_->readFd >= 0) ::close(wake_->readFd);
    if (wake_->writeFd >= 0) ::close(wake_->writeFd);
}

void ConsoleDialog::Write(std::FILE* stream, const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

void ConsoleDialog::Post(int code) {
    {
        std::lock_guard lock(mutex_);
        posted_.push_back(code);
    }
    const char byte = 1;
    // A full pipe already means "wake up"; nothing is lost since codes live
    // in posted_.
    while (::write(wake_->writeFd, &byte, 1) < 0 && errno == EINTR) {
    }
}

DialogEvent ConsoleDialog::WaitEvent(bool readInput) {
    const int inputFd = input_ ? input_->impl_->readFd : -1;
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            DialogEvent event{DialogEventKind::Close, 0};
            if (TakeReadyEvent(readInput, event)) return event;
        }
        if (readInput && inputFd < 0) return DialogEvent{DialogEventKind::Close, 0};
        pollfd fds[2] = {{wake_->readFd, POLLIN, 0}, {readInput ? inputFd : -1, POLLIN, 0}};
        int r = ::poll(fds, 2, -1);
        if (r < 0) {
            if (errno == EINTR) continue;
            return DialogEvent{DialogEventKind::Close, 0};
        }
        if (fds[0].revents & POLLIN) {
            char drain[64];
            while (::read(wake_->readFd, drain, sizeof drain) > 0) {
            }
        }
        if (readInput && fds[1].revents != 0) {
            char buffer[256];
            ssize_t n = ::read(inputFd, buffer, sizeof buffer);
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (n <= 0) return DialogEvent{DialogEventKind::Close, 0};
            std::lock_guard lock(mutex_);
            pendingInput_.append(buffer, static_cast<size_t>(n));
        }
    }
}

}  // namespace platform
