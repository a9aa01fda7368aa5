#include "platform/Socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/Tick.h"

namespace platform {

namespace {

// A stop ends a thread's wait in WaitReadable by shutting its socket down
// (ShutdownSocket). The shutdown alone wakes no poll (under Wine the socket
// does not even turn readable), so ShutdownSocket also cancels the socket's
// I/O; but a cancel reaches only a poll that has begun, and a thread that was
// just about to poll would then wait until its deadline (30 s for a request
// header). So the polls are counted per socket: a poll that would begin on a
// socket already shut down returns at once, and a socket shut down while it
// is counted is cancelled again every few milliseconds, by a helper thread
// that runs only while there are such sockets, until its poll has returned.
struct PollWatch {
    std::mutex lock;  // guards every member
    std::unordered_map<Socket, unsigned> polling;      // threads in a poll on the socket
    std::unordered_set<Socket> shutDown;               // shut down and not closed yet
    std::vector<std::pair<Socket, uint64_t>> recancel;  // socket, tick at which to give up
    bool helperRunning = false;
};

// Never destroyed: the helper may still run while the process ends.
PollWatch& Watch() {
    static PollWatch* watch = new PollWatch;
    return *watch;
}

constexpr int kRecancelIntervalMs = 5;
constexpr uint64_t kRecancelGiveUpMs = 2000;

void RecancelPolls() {
    PollWatch& w = Watch();
    std::unique_lock<std::mutex> g(w.lock);
    while (!w.recancel.empty()) {
        g.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(kRecancelIntervalMs));
        g.lock();
        const uint64_t now = TickCount();
        auto kept = w.recancel.begin();
        for (const auto& entry : w.recancel) {
            const Socket s = entry.first;
            if (now >= entry.second || !w.polling.count(s) || !w.shutDown.count(s)) continue;
            CancelIoEx(reinterpret_cast<HANDLE>(s), nullptr);
            *kept++ = entry;
        }
        w.recancel.erase(kept, w.recancel.end());
    }
    w.helperRunning = false;
}

// Under the watch's lock.
void RecancelLocked(PollWatch& w, Socket s) {
    w.recancel.emplace_back(s, TickCount() + kRecancelGiveUpMs);
    if (w.helperRunning) return;
    try {
        std::thread(&RecancelPolls).detach();
        w.helperRunning = true;
    } catch (const std::system_error&) {
        w.recancel.clear();  // no helper: the first cancel has to do
    }
}

// Before the socket's handle is closed, so nothing is cancelled on a handle
// that a new socket may get next.
void ForgetSocket(Socket s) {
    PollWatch& w = Watch();
    std::lock_guard<std::mutex> g(w.lock);
    w.shutDown.erase(s);
    for (auto& entry : w.recancel)
        if (entry.first == s) entry.second = 0;  // dropped at the helper's next round
}

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
    return IntResult(::setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof on));
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
    return Result<Socket>(c, c == INVALID_SOCKET);
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
    PollWatch& w = Watch();
    {
        std::lock_guard<std::mutex> g(w.lock);
        if (w.shutDown.count(s)) return {-1, WSAESHUTDOWN};
        ++w.polling[s];
    }
    WSAPOLLFD p{};
    p.fd = s;
    p.events = POLLRDNORM;
    SysCallResult<int> result = IntResult(WSAPoll(&p, 1, timeoutMs < 0 ? -1 : timeoutMs));
    std::lock_guard<std::mutex> g(w.lock);
    auto counted = w.polling.find(s);
    if (counted != w.polling.end() && --counted->second == 0) w.polling.erase(counted);
    if (w.shutDown.count(s)) return {-1, WSAESHUTDOWN};
    return result;
}

uint16_t LocalPort(Socket s) {
    sockaddr_in addr{};
    int len = sizeof addr;
    if (::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return 0;
    return ntohs(addr.sin_port);
}

void ShutdownSocket(Socket s) {
    if (s == kInvalidSocket) return;
    PollWatch& w = Watch();
    bool polled;
    {
        std::lock_guard<std::mutex> g(w.lock);
        w.shutDown.insert(s);
        polled = w.polling.count(s) != 0;
    }
    // A shutdown makes every later call on the socket fail at once, but it
    // wakes no call already blocked on it (and a listening or connecting
    // socket refuses it): those are cancelled, a poll until it has returned
    // (see PollWatch). The handle stays valid, so no other socket can take
    // its number meanwhile.
    ::shutdown(s, SD_BOTH);
    CancelIoEx(reinterpret_cast<HANDLE>(s), nullptr);
    if (polled) {
        std::lock_guard<std::mutex> g(w.lock);
        if (w.polling.count(s)) RecancelLocked(w, s);
    }
}

void ShutdownSend(Socket s) {
    if (s != kInvalidSocket) ::shutdown(s, SD_SEND);
}

void CloseSocket(Socket s) {
    if (s == kInvalidSocket) return;
    ForgetSocket(s);
    ::closesocket(s);
}

void ResetSocket(Socket s) {
    if (s == kInvalidSocket) return;
    linger l{};
    l.l_onoff = 1;
    l.l_linger = 0;
    ::setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l);
    ForgetSocket(s);
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
