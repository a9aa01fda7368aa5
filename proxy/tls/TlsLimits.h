#pragma once

#include <cstddef>
#include <cstdint>

namespace tls {

// The bounds of HTTPS interception, in one place (to join the request path's
// limits when it takes them up).
struct TlsLimits {
    // A TLS handshake, either side, must be complete within this time.
    int handshakeTimeoutMs = 10000;
    // Hosts whose leaf certificates are kept; the least recently used goes.
    size_t leafCacheHosts = 1024;
    // A cached leaf is replaced when it has less than this left of its life.
    int64_t leafRenewBeforeSeconds = 30 * 24 * 3600;
    // How long a request waits for another thread minting the leaf it needs.
    int leafMintWaitMs = 10000;
    // Hosts remembered because a browser refused our certificate for them.
    size_t refusedHostsRemembered = 4096;
};

}  // namespace tls
