#include "net/ConnectionRecord.h"

void ConnectionRecord::CloseSocket(std::atomic<platform::Socket>& socket) {
    platform::Socket s = socket.exchange(platform::kInvalidSocket);
    if (s == platform::kInvalidSocket) return;
    platform::ShutdownSocket(s);
    platform::CloseSocket(s);
}

void ConnectionRecord::ShutdownSocket(const std::atomic<platform::Socket>& socket) {
    platform::Socket s = socket.load();
    if (s != platform::kInvalidSocket) platform::ShutdownSocket(s);
}
