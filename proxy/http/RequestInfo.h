#pragma once

#include <cstdint>
#include <string>

// The parsed request of one connection; filled by the request parser.
struct RequestInfo {
    uint32_t port = 80;       // from the request target; only 1-65535 is ever connected to
    std::string url;          // the request target exactly as written
    std::string path;         // the target from its first "/"; empty when it has none
    std::string method;       // "GET", "POST", "CONNECT", ...
    std::string version;      // "HTTP/1.0", "HTTP/1.1", ... as written
    std::string host;         // host part of the request target
    std::string refererHost;  // host of the Referer header's URL; empty when absent or unreadable
};

// A port a connection can be made to; anything else is refused, never cut to
// 16 bits (":84536" would reach port 19000).
inline bool HasConnectablePort(const RequestInfo& request) { return request.port >= 1 && request.port <= 65535; }
