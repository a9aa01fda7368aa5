#pragma once

#include <cstdint>
#include <functional>

#include <platform/Socket.h>

#include "net/HostCache.h"
#include "net/HostResolver.h"
#include "net/TimedConnect.h"

// How upstream connections are made: where names are resolved, how a connect
// is timed, the slowest connect that may still be chosen, and the register of
// connects a stop must end. Tests replace parts of it; it is not changed while
// connections are served.
struct UpstreamDialer {
    // A connection is chosen only when its connect took less than this.
    static constexpr int kChooseBelowMs = 9000;
    // A remembered address is reused while it connects at most this much slower.
    static constexpr int kReuseSlackMs = 30;

    const IHostResolver* resolver = &SystemHostResolver::Instance();
    using TimedConnectFn = int(uint32_t addressNetworkOrder, uint16_t port, platform::Socket& socket,
                               PendingConnects* pending);
    std::function<TimedConnectFn> timedConnect = [](uint32_t address, uint16_t port, platform::Socket& socket,
                                                    PendingConnects* pending) {
        return TimedConnect(address, port, socket, pending);
    };
    int chooseBelowMs = kChooseBelowMs;
    PendingConnects* pending = nullptr;  // not owned; none when null
};

// Connects `socket` to host:port, preferring the address the cache remembers
// for the host while it stays about as fast as recorded (and, an hour after
// the host was resolved, only while a fresh resolution still gives it);
// otherwise tries every IPv4 address of the host in turn, keeps the fastest
// connection and remembers it. With safeSearch (the caller reads the
// switch), a search engine's host is connected to the addresses of the name
// the engine gives for filtered searches (SafeSearch.h); the request itself
// is not changed. Returns false only when the name cannot be resolved. On
// true, `socket` holds the fastest connection, a slower fallback to the
// remembered address, or kInvalidSocket when nothing connected in time or the
// connects were aborted. Any value `socket` held on entry is not ours and is
// overwritten.
bool ConnectUpstream(HostCache& cache, const UpstreamDialer& dialer, platform::Socket& socket, const char* host,
                     uint16_t port, bool safeSearch = false);
