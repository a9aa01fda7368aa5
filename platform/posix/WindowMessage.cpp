#include "platform/WindowMessage.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace platform {

namespace {

// Wire form of a message: message, wParam, lParam, little-endian, 20 bytes.
constexpr size_t kWireSize = 4 + 8 + 8;
constexpr char kAck = 'A';

std::string RuntimeFolder() {
    const char* dir = std::getenv("XDG_RUNTIME_DIR");
    return (dir && *dir) ? dir : "/tmp";
}

std::string SocketPathFor(const std::string& title) { return RuntimeFolder() + "/" + title + ".window"; }

bool MakeAddress(const std::string& path, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.data(), path.size());
    return true;
}

int ConnectTo(const std::string& title) {
    sockaddr_un address;
    if (!MakeAddress(SocketPathFor(title), address)) return -1;
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    int rc;
    do {
        rc = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    } while (rc < 0 && errno == EINTR);
    if (rc < 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void PutLE(unsigned char* out, uint64_t value, size_t bytes) {
    for (size_t i = 0; i < bytes; ++i) out[i] = static_cast<unsigned char>(value >> (8 * i));
}

uint64_t GetLE(const unsigned char* in, size_t bytes) {
    uint64_t value = 0;
    for (size_t i = 0; i < bytes; ++i) value |= static_cast<uint64_t>(in[i]) << (8 * i);
    return value;
}

// Waits for fd to become readable; false on time-out or error.
bool WaitReadable(int fd, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    int r;
    do {
        r = ::poll(&p, 1, timeoutMs);
    } while (r < 0 && errno == EINTR);
    return r > 0;
}

bool WriteAll(int fd, const unsigned char* data, size_t size) {
    while (size > 0) {
        ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Reads exactly size bytes, each wait bounded by timeoutMs (< 0: no limit).
bool ReadAll(int fd, unsigned char* data, size_t size, int timeoutMs) {
    while (size > 0) {
        if (!WaitReadable(fd, timeoutMs)) return false;
        ssize_t n = ::recv(fd, data, size, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

bool FindWindowByTitle(const std::string& title) {
    int fd = ConnectTo(title);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

bool SendMessageToWindow(const std::string& title, const WindowMessage& message, int timeoutMs) {
    int fd = ConnectTo(title);
    if (fd < 0) return false;
    unsigned char wire[kWireSize];
    PutLE(wire, message.message, 4);
    PutLE(wire + 4, message.wParam, 8);
    PutLE(wire + 12, static_cast<uint64_t>(message.lParam), 8);
    unsigned char ack = 0;
    const bool ok = WriteAll(fd, wire, sizeof wire) && ReadAll(fd, &ack, 1, timeoutMs) && ack == kAck;
    ::close(fd);
    return ok;
}

// The stand-in window: a listening socket at the title's path, and a pipe
// that wakes the serving thread when the window closes.
struct MessageWindow::Impl {
    std::string path;
    int listenFd = -1;
    int wakeRead = -1;
    int wakeWrite = -1;
    std::thread thread;

    void Serve(const Handler& handler);
};

MessageWindow::MessageWindow(std::string title, Handler handler)
    : title_(std::move(title)), handler_(std::move(handler)) {}

MessageWindow::~MessageWindow() { Close(); }

bool MessageWindow::Open() {
    if (isOpen()) return true;
    const std::string path = SocketPathFor(title_);
    sockaddr_un address;
    if (!MakeAddress(path, address)) return false;
    // A socket file nobody answers on is left over from a program that
    // ended without closing its window; a live one means the title is taken.
    if (FindWindowByTitle(title_)) return false;
    ::unlink(path.c_str());

    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0 || ::listen(fd, 16) < 0) {
        ::close(fd);
        return false;
    }
    int wake[2];
    if (::pipe2(wake, O_CLOEXEC) < 0) {
        ::close(fd);
        ::unlink(path.c_str());
        return false;
    }
    impl_ = std::make_unique<Impl>();
    impl_->path = path;
    impl_->listenFd = fd;
    impl_->wakeRead = wake[0];
    impl_->wakeWrite = wake[1];
    impl_->thread = std::thread([impl = impl_.get(), handler = &handler_] { impl->Serve(*handler); });
    return true;
}

void MessageWindow::Close() {
    if (!isOpen()) return;
    const char stop = 1;
    while (::write(impl_->wakeWrite, &stop, 1) < 0 && errno == EINTR) {
    }
    impl_->thread.join();
    ::close(impl_->listenFd);
    ::close(impl_->wakeRead);
    ::close(impl_->wakeWrite);
    ::unlink(impl_->path.c_str());
    impl_.reset();
}

void MessageWindow::Impl::Serve(const Handler& handler) {
    for (;;) {
        pollfd fds[2] = {{listenFd, POLLIN, 0}, {wakeRead, POLLIN, 0}};
        int r = ::poll(fds, 2, -1);
        if (r < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents != 0) return;
        if ((fds[0].revents & POLLIN) == 0) continue;
        int client = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        // A sender writes its message at once; one that connects only to
        // find the window sends nothing and closes. Either way a silent
        // peer must not hold the window up for long.
        unsigned char wire[kWireSize];
        if (ReadAll(client, wire, sizeof wire, 2000)) {
            WindowMessage message;
            message.message = static_cast<uint32_t>(GetLE(wire, 4));
            message.wParam = GetLE(wire + 4, 8);
            message.lParam = static_cast<int64_t>(GetLE(wire + 12, 8));
            if (handler) handler(message);
            const unsigned char ack = kAck;
            WriteAll(client, &ack, 1);
        }
        ::close(client);
    }
}

}  // namespace platform
