#include "net/TunnelRelay.h"

#include <platform/SendAll.h>
#include <platform/Socket.h>
#include <platform/Tick.h>
#include <platform/TimedReceive.h>

#include "net/ConnectionRecord.h"

int TunnelRelay(ConnectionRecord* record, std::atomic<uint64_t>* lastByteTick, int idleMs) {
    char buffer[8192];
    for (;;) {
        const uint64_t deadline = lastByteTick->load() + static_cast<uint64_t>(idleMs);
        int received = platform::ReceiveBefore(record->upstreamSocket.load(), buffer, sizeof buffer, deadline);
        // Quiet this way while the other direction carries bytes: wait on.
        if (received == platform::kReceiveTimedOut && platform::TickCount() < lastByteTick->load() + idleMs) continue;
        if (received <= 0) break;
        lastByteTick->store(platform::TickCount());
        // A short send must not drop the rest: the tunnel carries TLS records.
        if (!platform::SendAll(record->clientSocket.load(), buffer, static_cast<size_t>(received))) return 0;
    }
    return 0;
}
