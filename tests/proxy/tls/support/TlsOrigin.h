#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <platform/Socket.h>

#include "TestPki.h"

namespace tlstest {

// A TLS origin on 127.0.0.1 built on OpenSSL directly (not on the layer under
// test): it presents the certificate it was given, answers every request with
// "HTTP/1.1 200 OK" and the body "origin", and records what each client
// offered. One connection at a time.
class TlsOrigin {
public:
    explicit TlsOrigin(const KeyPair& identity);
    ~TlsOrigin();
    TlsOrigin(const TlsOrigin&) = delete;
    TlsOrigin& operator=(const TlsOrigin&) = delete;

    uint16_t port() const { return port_; }

    struct Seen {
        std::string serverName;  // SNI, empty when none was sent
        std::string protocols;   // the ALPN list offered, comma separated
        bool handshakeDone = false;
    };
    // The n-th connection's record, once its handshake has ended; false
    // when none came within the deadline.
    bool WaitSeen(size_t index, Seen& seen, int timeoutMs = 5000);

private:
    void Serve();

    platform::Socket listenSocket_ = platform::kInvalidSocket;
    uint16_t port_ = 0;
    void* context_ = nullptr;  // SSL_CTX
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<Seen> seen_;
    platform::Socket current_ = platform::kInvalidSocket;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace tlstest
