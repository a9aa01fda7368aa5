#include "net/TunnelRelay.h"

#include <platform/Socket.h>

#include "net/ConnectionRecord.h"

int TunnelRelay(ConnectionRecord* record) {
    char buffer[8192];
    for (;;) {
        int received = platform::RecvSome(record->upstreamSocket.load(), buffer, sizeof buffer).rc;
        if (received <= 0) break;
        // A short send must not drop the rest: the tunnel carries TLS records.
        int sent = 0;
        while (sent < received) {
            int n = platform::SendSome(record->clientSocket.load(), buffer + sent, received - sent).rc;
            if (n <= 0) return 0;
            sent += n;
        }
    }
    return 0;
}
