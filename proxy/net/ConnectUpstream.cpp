#include "net/ConnectUpstream.h"

#include <algorithm>
#include <string>

#include <platform/Socket.h>

#include "net/SafeSearch.h"

bool ConnectUpstream(HostCache& cache, const UpstreamDialer& dialer, platform::Socket& socket, const char* host,
                     uint16_t port, bool safeSearch) {
    const std::string name = host ? host : "";
    socket = platform::kInvalidSocket;

    // The name whose addresses serve the host: its own, or with SafeSearch
    // on, the one its search engine gives for filtered searches. The cache
    // keeps the host under its own name either way.
    const std::string_view safeName = safeSearch ? SafeSearchAddressName(name) : std::string_view();
    const std::string resolveName = safeName.empty() ? name : std::string(safeName);
    const HostCache::Resolution resolution =
        safeName.empty() ? HostCache::Resolution::OwnName : HostCache::Resolution::SafeSearchName;

    std::vector<uint32_t> addresses;
    bool resolved = false;
    if (std::optional<HostCache::Hit> hit = cache.Lookup(name, resolution)) {
        bool usable = hit->confirmed;
        if (!usable) {
            // Resolved too long ago (or for the other SafeSearch setting):
            // the address is used only while the host still has it.
            addresses = dialer.resolver->Resolve(resolveName);
            resolved = true;
            if (addresses.empty()) return false;
            usable = std::find(addresses.begin(), addresses.end(), hit->address) != addresses.end();
            if (usable) cache.Confirm(name, hit->address, resolution);
            else cache.Forget(name, hit->address);
        }
        if (usable) {
            platform::Socket s = platform::kInvalidSocket;
            int ms = dialer.timedConnect(hit->address, port, s, dialer.pending);
            if (ms >= kConnectFailedMs) {
                platform::CloseSocket(s);
            } else if (static_cast<int64_t>(ms) <=
                       static_cast<int64_t>(hit->connectMs) + UpstreamDialer::kReuseSlackMs) {
                socket = s;
                return true;
            } else {
                socket = s;  // slower than remembered: a fallback while we look for better
            }
        }
    }

    if (!resolved) addresses = dialer.resolver->Resolve(resolveName);
    if (addresses.empty()) return false;

    int best = dialer.chooseBelowMs;
    for (uint32_t address : addresses) {
        platform::Socket fresh = platform::kInvalidSocket;
        int ms = dialer.timedConnect(address, port, fresh, dialer.pending);
        if (ms < best) {
            platform::CloseSocket(socket);
            socket = fresh;
            best = ms;
            cache.Store(HostRecord::Make(address, name, ms, cache.Now32()), resolution);
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
