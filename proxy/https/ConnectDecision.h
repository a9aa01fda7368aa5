#pragma once

#include <string>

class HttpsPassList;
class RefusedHosts;

// What becomes of an allowed CONNECT, decided before anything is sent back.
enum class ConnectHandling {
    Tunnel,     // bytes relayed untouched, as without HTTPS filtering
    Intercept,  // TLS ended here with our leaf, the origin verified, HTTP filtered
};

// `interceptionOn`: httpsFilter is set and the local CA and both TLS
// contexts are ready. A CONNECT is tunnelled when that is not so, when the
// host is on a pass-through list, when the browser refused our certificate
// for it last time, or when it cannot be named in a certificate; otherwise
// it is intercepted. `host` comes without its port or brackets.
ConnectHandling DecideConnect(bool interceptionOn, const HttpsPassList& passList, const RefusedHosts& refused,
                              const std::string& host);
