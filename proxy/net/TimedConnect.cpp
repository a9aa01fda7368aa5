#include "net/TimedConnect.h"

#include <platform/Socket.h>
#include <platform/Tick.h>

int TimedConnect(uint32_t addressNetworkOrder, uint16_t port, int& socket) {
    socket = platform::CreateTcpSocket().rc;
    if (socket < 0) {
        socket = platform::kInvalidSocket;
        return kConnectFailedMs;
    }
    uint64_t before = platform::TickCount();
    if (platform::ConnectIPv4(socket, addressNetworkOrder, port).rc != 0) return kConnectFailedMs;
    uint64_t took = platform::TickCount() - before;
    // The platform's own connect time-out ends a connect long before this.
    return took < static_cast<uint64_t>(kConnectFailedMs) ? static_cast<int>(took) : kConnectFailedMs;
}
