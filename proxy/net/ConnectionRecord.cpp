#include "net/ConnectionRecord.h"

void ConnectionRecord::CloseSocket(std::atomic<int>& socket) {
    int s = socket.exchange(platform::kInvalidSocket);
    if (s == platform::kInvalidSocket) return;
    platform::ShutdownSocket(s);
    platform::CloseSocket(s);
}

void ConnectionRecord::ShutdownSocket(const std::atomic<int>& socket) {
    int s = socket.load();
    if (s != platform::kInvalidSocket) platform::ShutdownSocket(s);
}
