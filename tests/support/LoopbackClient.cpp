#include "support/LoopbackClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace testsupport {

LoopbackClient::~LoopbackClient() { Close(); }

bool LoopbackClient::Connect(uint16_t port, const std::string& address) {
    Close();
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    ::inet_pton(AF_INET, address.c_str(), &addr.sin_addr);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        Close();
        return false;
    }
    return true;
}

bool LoopbackClient::SendAll(const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

std::string LoopbackClient::ReadUntil(const std::string& marker, int timeoutMs) {
    std::string out;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    char buf[16384];
    while (out.find(marker) == std::string::npos) {
        int left = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count());
        if (left <= 0) return out;
        pollfd p{fd_, POLLIN, 0};
        int r = ::poll(&p, 1, left);
        if (r == 0) return out;
        if (r < 0 && errno == EINTR) continue;
        ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n <= 0) return out;
        out.append(buf, static_cast<size_t>(n));
    }
    return out;
}

std::string LoopbackClient::ReadUntilClosed(int timeoutMs, bool* timedOut) {
    std::string out;
    if (timedOut) *timedOut = false;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    char buf[16384];
    for (;;) {
        int left = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count());
        if (left <= 0) {
            if (timedOut) *timedOut = true;
            return out;
        }
        pollfd p{fd_, POLLIN, 0};
        int r = ::poll(&p, 1, left);
        if (r == 0) {
            if (timedOut) *timedOut = true;
            return out;
        }
        if (r < 0 && errno == EINTR) continue;
        ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n <= 0) return out;
        out.append(buf, static_cast<size_t>(n));
    }
}

bool LoopbackClient::WaitClosed(int timeoutMs) {
    bool timedOut = false;
    ReadUntilClosed(timeoutMs, &timedOut);
    return !timedOut;
}

void LoopbackClient::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

uint16_t FreeLoopbackPort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

}  // namespace testsupport
