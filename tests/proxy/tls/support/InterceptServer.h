#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <platform/Socket.h>

#include "tls/LeafCache.h"
#include "tls/TlsContext.h"
#include "tls/TlsSession.h"

namespace tlstest {

// A tiny HTTPS-intercepting proxy built on the TLS layer, as the request path
// will use it: it reads "CONNECT host:port", answers "200 Connection
// established", presents the cache's leaf for the host and answers one
// request inside the session with the body "hello <host>". curl and the
// tests' clients talk to it like to the proxy.
class InterceptServer {
public:
    using HandshakeSeen = std::function<void(const std::string& host, tls::HandshakeStatus status)>;

    InterceptServer(tls::LeafCache& leaves, HandshakeSeen onHandshake = {});
    ~InterceptServer();
    InterceptServer(const InterceptServer&) = delete;
    InterceptServer& operator=(const InterceptServer&) = delete;

    uint16_t port() const { return port_; }
    // Waits until `count` browser-side handshakes have ended; false at the deadline.
    bool WaitHandshakes(size_t count, int timeoutMs = 10000);
    std::vector<tls::HandshakeStatus> Statuses();

private:
    void Accept();
    void Serve(platform::Socket s);

    tls::LeafCache& leaves_;
    HandshakeSeen onHandshake_;
    std::unique_ptr<tls::ServerContext> context_;
    platform::Socket listenSocket_ = platform::kInvalidSocket;
    uint16_t port_ = 0;
    std::mutex lock_;  // guards everything below
    std::condition_variable changed_;
    std::vector<tls::HandshakeStatus> statuses_;
    std::vector<platform::Socket> open_;
    std::vector<std::thread> workers_;
    bool stopping_ = false;
    std::thread acceptor_;
};

// A client of InterceptServer (or of the proxy): CONNECT through it, then a
// TLS session verified with `context`. Null session when any step fails;
// `status` tells the handshake's outcome.
struct TunnelClient {
    platform::Socket socket = platform::kInvalidSocket;
    tls::Handshake handshake;
    ~TunnelClient();
    bool Open(uint16_t proxyPort, tls::ClientContext& context, const std::string& host);
    // GET / inside the session; the whole answer (until the server closes).
    std::string Get(const std::string& host);
};

}  // namespace tlstest

namespace tlstest {

// Two connected sockets on 127.0.0.1; both invalid on failure.
struct SocketPair {
    platform::Socket client = platform::kInvalidSocket;
    platform::Socket server = platform::kInvalidSocket;
    SocketPair();
    ~SocketPair();
    SocketPair(const SocketPair&) = delete;
    SocketPair& operator=(const SocketPair&) = delete;
};

// Runs a shell command line (std::system), its output going to a file that
// is then returned; the exit status in `status`.
std::string RunCommand(const std::string& commandLine, const std::string& outputFile, int& status);

}  // namespace tlstest
