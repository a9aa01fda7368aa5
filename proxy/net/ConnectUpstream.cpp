#include "net/ConnectUpstream.h"

#include <string>

#include <platform/Socket.h>

bool ConnectUpstream(HostCache& cache, const UpstreamDialer& dialer, platform::Socket& socket, const char* host,
                     uint16_t port) {
    const std::string name = host ? host : "";
    socket = platform::kInvalidSocket;

    if (std::optional<HostCache::Hit> hit = cache.Lookup(name)) {
        platform::Socket s = platform::kInvalidSocket;
        int ms = dialer.timedConnect(hit->address, port, s, dialer.pending);
        if (ms >= kConnectFailedMs) {
            platform::CloseSocket(s);
        } else if (static_cast<int64_t>(ms) <= static_cast<int64_t>(hit->connectMs) + UpstreamDialer::kReuseSlackMs) {
            socket = s;
            return true;
        } else {
            socket = s;  // slower than remembered: a fallback while we look for better
        }
    }

    const std::vector<uint32_t> addresses = dialer.resolver->Resolve(name);
    if (addresses.empty()) return false;

    int best = dialer.chooseBelowMs;
    for (uint32_t address : addresses) {
        platform::Socket fresh = platform::kInvalidSocket;
        int ms = dialer.timedConnect(address, port, fresh, dialer.pending);
        if (ms < best) {
            platform::CloseSocket(socket);
            socket = fresh;
            best = ms;
            cache.Store(HostRecord::Make(address, name, ms, cache.Now32()));
        } else {
            platform::CloseSocket(fresh);  // slower, or failed
        }
    }
    if (dialer.pending && dialer.pending->Aborted()) {
        // Stopping: a connection made now would only keep the worker waiting.
        platform::CloseSocket(socket);
        socket = platform::kInvalidSocket;
    }
    return true;
}
