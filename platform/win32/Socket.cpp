#include "platform/Socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <unordered_set>

#include "SocketMode.h"

namespace platform {

namespace {

// The sockets this process has shut down for good (ShutdownSocket) and not
// yet closed. A WSAPoll that begins just after such a shutdown is not always
// woken by it (seen under Wine), so a wait runs in slices and asks here
// between them.
class ShutDownSockets {
public:
    void Add(Socket s) {
        std::lock_guard<std::mutex> g(lock_);
        sockets_.insert(s);
    }
    void Remove(Socket s) {
        std::lock_guard<std::mutex> g(lock_);
        sockets_.erase(s);
    }
    bool Contains(Socket s) const {
        std::lock_guard<std::mutex> g(lock_);
        return sockets_.count(s) != 0;
    }

private:
    mutable std::mutex lock_;
    std::unordered_set<Socket> sockets_;
};

ShutDownSockets& ShutDown() {
    static ShutDownSockets sockets;
    return sockets;
}

// The longest a wait goes without asking whether its socket was shut down.
constexpr int kWaitSliceMs = 200;

// Windows Sockets is started once for the process, on the first call that
// needs it, and stays up until the process ends.
bool WinsockStarted() {
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

template <typename T>
SysCallResult<T> Result(T rc, bool failed) {
    return {rc, failed ? WSAGetLastError() : 0};
}

SysCallResult<int> IntResult(int rc) { return Result(rc, rc == SOCKET_ERROR); }

}  // namespace

SysCallResult<Socket> CreateTcpSocket() {
    if (!WinsockStarted()) return {kInvalidSocket, WSANOTINITIALISED};
    // Not inherited by programs this process starts.
    SOCKET s = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    return Result<Socket>(s, s == INVALID_SOCKET);
}

SysCallResult<int> BindIPv4(Socket s, const std::string& address, uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    if (InetPtonA(AF_INET, address.c_str(), &addr.sin_addr) != 1) return {-1, WSAEINVAL};
    return IntResult(::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr));
}

SysCallResult<int> PrepareListeningSocket(Socket s) {
    BOOL on = TRUE;
    SysCallResult<int> result =
        IntResult(::setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof on));
    if (result.rc != 0) return result;
    // Non-blocking: an accept never waits (a waiting one may miss its wake-up
    // under Wine); the accepting loops wait for a connection first.
    u_long nonBlocking = 1;
    return IntResult(::ioctlsocket(s, FIONBIO, &nonBlocking));
}

bool IsOutOfDescriptors(int errorCode) { return errorCode == WSAEMFILE || errorCode == WSAENOBUFS; }

std::string SocketErrorText(int errorCode) {
    char text[512] = {};
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             static_cast<DWORD>(errorCode), 0, text, sizeof text, nullptr);
    while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' ' || text[n - 1] == '.')) --n;
    if (n == 0) return "error " + std::to_string(errorCode);
    return std::string(text, n);
}

SysCallResult<int> ListenOn(Socket s, int backlog) { return IntResult(::listen(s, backlog)); }

SysCallResult<Socket> AcceptOn(Socket s) {
    SOCKET c = ::accept(s, nullptr, nullptr);
    SysCallResult<Socket> result = Result<Socket>(c, c == INVALID_SOCKET);
    if (c != INVALID_SOCKET) MakeBlocking(c);
    return result;
}

SysCallResult<int> RecvSome(Socket s, char* buffer, int length) { return IntResult(::recv(s, buffer, length, 0)); }

// Windows never raises a signal for a closed peer; the send just fails.
SysCallResult<int> SendSome(Socket s, const char* data, int length) { return IntResult(::send(s, data, length, 0)); }

SysCallResult<int> ConnectIPv4(Socket s, uint32_t addressNetworkOrder, uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = addressNetworkOrder;
    return IntResult(::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr));
}

namespace {

struct ConnectWatch {
    SOCKET socket;
    volatile LONG fired;
};

// Ends a connect that is still blocked when its time is up, as a stop does.
VOID CALLBACK ConnectTimeUp(PVOID parameter, BOOLEAN) {
    auto* watch = static_cast<ConnectWatch*>(parameter);
    InterlockedExchange(&watch->fired, 1);
    CancelIoEx(reinterpret_cast<HANDLE>(watch->socket), nullptr);
}

}  // namespace

SysCallResult<int> ConnectIPv4Within(Socket s, uint32_t addressNetworkOrder, uint16_t port, int timeoutMs) {
    // The connect stays blocking, so that a stop's shutdown and cancel end it
    // as before; a timer cancels it the same way when its time is up.
    ConnectWatch watch{s, 0};
    HANDLE timer = nullptr;
    if (!CreateTimerQueueTimer(&timer, nullptr, &ConnectTimeUp, &watch, static_cast<DWORD>(timeoutMs < 0 ? 0 : timeoutMs),
                               0, WT_EXECUTEONLYONCE))
        timer = nullptr;
    SysCallResult<int> result = ConnectIPv4(s, addressNetworkOrder, port);
    // Waits for a callback under way, so nothing cancels this socket later.
    if (timer) DeleteTimerQueueTimer(nullptr, timer, INVALID_HANDLE_VALUE);
    if (result.rc != 0 && InterlockedCompareExchange(&watch.fired, 0, 0) != 0) result.errorCode = WSAETIMEDOUT;
    return result;
}

SysCallResult<int> WaitReadable(Socket s, int timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(std::max(timeoutMs, 0));
    for (;;) {
        // Shut down: the receive that follows fails at once.
        if (ShutDown().Contains(s)) return {1, 0};
        int slice = kWaitSliceMs;
        if (timeoutMs >= 0) {
            const ULONGLONG now = GetTickCount64();
            slice = static_cast<int>(std::min<ULONGLONG>(kWaitSliceMs, now >= deadline ? 0 : deadline - now));
        }
        WSAPOLLFD p{};
        p.fd = s;
        p.events = POLLRDNORM;
        const int ready = WSAPoll(&p, 1, slice);
        if (ready != 0) return IntResult(ready);
        if (timeoutMs >= 0 && GetTickCount64() >= deadline) return {0, 0};
    }
}

uint16_t LocalPort(Socket s) {
    sockaddr_in addr{};
    int len = sizeof addr;
    if (::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return 0;
    return ntohs(addr.sin_port);
}

void ShutdownSocket(Socket s) {
    if (s == kInvalidSocket) return;
    // A shutdown makes every later call on the socket fail at once, but it
    // wakes no call already blocked on it (and a listening or connecting
    // socket refuses it): those are cancelled. The handle stays valid, so no
    // other socket can take its number meanwhile.
    ShutDown().Add(s);
    ::shutdown(s, SD_BOTH);
    CancelIoEx(reinterpret_cast<HANDLE>(s), nullptr);
}

void ShutdownSend(Socket s) {
    if (s != kInvalidSocket) ::shutdown(s, SD_SEND);
}

void CloseSocket(Socket s) {
    if (s == kInvalidSocket) return;
    ShutDown().Remove(s);  // before the number can go to another socket
    ::closesocket(s);
}

void ResetSocket(Socket s) {
    if (s == kInvalidSocket) return;
    linger l{};
    l.l_onoff = 1;
    l.l_linger = 0;
    ::setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l);
    ShutDown().Remove(s);
    ::closesocket(s);
}

SysCallResult<int> BytesQueued(Socket s) {
    u_long queued = 0;
    if (::ioctlsocket(s, FIONREAD, &queued) != 0) return {-1, WSAGetLastError()};
    return {static_cast<int>(queued), 0};
}

std::vector<uint32_t> ResolveIPv4(const std::string& host) {
    std::vector<uint32_t> out;
    if (!WinsockStarted()) return out;
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
