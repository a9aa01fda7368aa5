#include "platform/Socket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {

namespace {
template <typename T>
SysCallResult<T> Result(T rc) {
    return {rc, rc < 0 ? errno : 0};
}
}  // namespace

SysCallResult<Socket> CreateTcpSocket() {
    return Result<Socket>(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
}

SysCallResult<int> BindIPv4(Socket s, const std::string& address, uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    if (::inet_pton(AF_INET, address.c_str(), &addr.sin_addr) != 1) return {-1, EINVAL};
    return Result(::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr));
}

SysCallResult<int> PrepareListeningSocket(Socket s) {
    int on = 1;
    return Result(::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on));
}

bool IsOutOfDescriptors(int errorCode) {
    return errorCode == EMFILE || errorCode == ENFILE || errorCode == ENOBUFS || errorCode == ENOMEM;
}

std::string SocketErrorText(int errorCode) { return std::strerror(errorCode); }

SysCallResult<int> ListenOn(Socket s, int backlog) { return Result(::listen(s, backlog)); }

SysCallResult<Socket> AcceptOn(Socket s) {
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    return Result<Socket>(::accept4(s, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC));
}

SysCallResult<int> RecvSome(Socket s, char* buffer, int length) {
    ssize_t n;
    do {
        n = ::recv(s, buffer, static_cast<size_t>(length), 0);
    } while (n < 0 && errno == EINTR);
    return Result(static_cast<int>(n));
}

SysCallResult<int> SendSome(Socket s, const char* data, int length) {
    ssize_t n;
    do {
        n = ::send(s, data, static_cast<size_t>(length), MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return Result(static_cast<int>(n));
}

SysCallResult<int> ConnectIPv4(Socket s, uint32_t addressNetworkOrder, uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = addressNetworkOrder;
    return Result(::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr));
}

SysCallResult<int> ConnectIPv4Within(Socket s, uint32_t addressNetworkOrder, uint16_t port, int timeoutMs) {
    const int flags = ::fcntl(s, F_GETFL);
    if (flags < 0 || ::fcntl(s, F_SETFL, flags | O_NONBLOCK) != 0) return {-1, errno};
    SysCallResult<int> result = ConnectIPv4(s, addressNetworkOrder, port);
    if (result.rc != 0 && result.errorCode == EINPROGRESS) {
        pollfd p{s, POLLOUT, 0};
        int r;
        do {
            r = ::poll(&p, 1, timeoutMs);
        } while (r < 0 && errno == EINTR);
        if (r == 0) {
            result = {-1, ETIMEDOUT};
        } else if (r < 0) {
            result = {-1, errno};
        } else {
            int error = 0;
            socklen_t len = sizeof error;
            if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &len) != 0) error = errno;
            result = {error == 0 ? 0 : -1, error};
        }
    }
    ::fcntl(s, F_SETFL, flags);
    return result;
}

SysCallResult<int> WaitReadable(Socket s, int timeoutMs) {
    pollfd p{s, POLLIN, 0};
    int r;
    do {
        r = ::poll(&p, 1, timeoutMs);
    } while (r < 0 && errno == EINTR);
    return Result(r);
}

uint16_t LocalPort(Socket s) {
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    if (::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return 0;
    return ntohs(addr.sin_port);
}

void ShutdownSocket(Socket s) {
    if (s >= 0) ::shutdown(s, SHUT_RDWR);
}

void ShutdownSend(Socket s) {
    if (s >= 0) ::shutdown(s, SHUT_WR);
}

void CloseSocket(Socket s) {
    if (s >= 0) ::close(s);
}

void ResetSocket(Socket s) {
    if (s < 0) return;
    linger l{1, 0};
    ::setsockopt(s, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    ::close(s);
}

SysCallResult<int> BytesQueued(Socket s) {
    int queued = 0;
    if (::ioctl(s, FIONREAD, &queued) != 0) return {-1, errno};
    return {queued, 0};
}

std::vector<uint32_t> ResolveIPv4(const std::string& host) {
    std::vector<uint32_t> out;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0) return out;
    for (addrinfo* p = list; p; p = p->ai_next) {
        if (p->ai_family != AF_INET || p->ai_socktype != SOCK_STREAM) continue;
        out.push_back(reinterpret_cast<sockaddr_in*>(p->ai_addr)->sin_addr.s_addr);
    }
    ::freeaddrinfo(list);
    return out;
}

}  // namespace platform
