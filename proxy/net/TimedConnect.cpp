#include "net/TimedConnect.h"

#include <platform/Socket.h>
#include <platform/Tick.h>

bool PendingConnects::Begin(platform::Socket socket) {
    std::lock_guard<std::mutex> g(lock_);
    if (aborted_) return false;
    sockets_.insert(socket);
    return true;
}

void PendingConnects::End(platform::Socket socket) {
    std::lock_guard<std::mutex> g(lock_);
    sockets_.erase(socket);
}

void PendingConnects::AbortAll() {
    std::lock_guard<std::mutex> g(lock_);
    aborted_ = true;
    // Under the lock: End cannot run, so none of these has been closed yet.
    for (platform::Socket s : sockets_) platform::ShutdownSocket(s);
}

bool PendingConnects::Aborted() const {
    std::lock_guard<std::mutex> g(lock_);
    return aborted_;
}

int TimedConnect(uint32_t addressNetworkOrder, uint16_t port, platform::Socket& socket, PendingConnects* pending,
                 int timeoutMs) {
    socket = platform::CreateTcpSocket().rc;
    if (socket == platform::kInvalidSocket) return kConnectFailedMs;
    if (pending && !pending->Begin(socket)) return kConnectFailedMs;
    uint64_t before = platform::TickCount();
    bool connected = platform::ConnectIPv4Within(socket, addressNetworkOrder, port, timeoutMs).rc == 0;
    uint64_t took = platform::TickCount() - before;
    if (pending) pending->End(socket);
    if (!connected) return kConnectFailedMs;
    return took < static_cast<uint64_t>(kConnectFailedMs) ? static_cast<int>(took) : kConnectFailedMs;
}
