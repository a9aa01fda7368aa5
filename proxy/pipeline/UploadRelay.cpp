#include "pipeline/UploadRelay.h"

#include <cstring>

#include "net/CLocalProxy.h"

int UploadRelay(ConnectionRecord* record) {
    CLocalProxy& owner = *record->owner;
    char chunk[8192];
    while (record->clientSocket.load() != platform::kInvalidSocket) {
        std::memset(chunk, 0, sizeof chunk);
        int n = owner.Recv(record->clientSocket.load(), chunk, sizeof chunk);
        if (n < 1) break;
        if (owner.Send(record->upstreamSocket.load(), chunk, n) < 0) break;
    }
    return 0;
}
