#include "pipeline/UploadRelay.h"

#include <platform/Tick.h>
#include <platform/TimedReceive.h>

#include "http/RequestBodyEnd.h"
#include "net/CLocalProxy.h"

int UploadRelay(ConnectionRecord* record, RequestBodyEnd* body) {
    CLocalProxy& owner = *record->owner;
    char chunk[8192];
    while (!body->Complete() && !body->Failed() && record->clientSocket.load() != platform::kInvalidSocket) {
        // With a known length, never read past the body: what follows it is
        // not ours to forward.
        int want = static_cast<int>(sizeof chunk);
        const int64_t known = body->KnownRemaining();
        if (known > 0 && known < want) want = static_cast<int>(known);
        // A browser that stops sending its body for the idle time is let go.
        int n = platform::ReceiveBefore(record->clientSocket.load(), chunk, want,
                                        platform::TickCount() + static_cast<uint64_t>(owner.limits.idleMs));
        if (n < 1) break;
        size_t part = body->Take(std::string_view(chunk, static_cast<size_t>(n)));
        if (part > 0 && owner.Send(record->upstreamSocket.load(), chunk, static_cast<int>(part)) < 0) break;
        record->lastSentTick = platform::TickCount();
    }
    if (body->Failed()) {
        ConnectionRecord::ShutdownSocket(record->upstreamSocket);
        ConnectionRecord::ShutdownSocket(record->clientSocket);
    }
    return 0;
}
