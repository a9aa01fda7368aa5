#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include <platform/Socket.h>

#include "tls/VerifyFailure.h"

namespace tls {

class ClientContext;
class Leaf;
class ServerContext;

enum class HandshakeStatus {
    Done,
    TimedOut,                // the peer did not complete it in time
    Closed,                  // the peer closed the connection during it
    PeerRefusedCertificate,  // the browser does not trust our certificate (it said so with an alert)
    VerifyFailed,            // the origin's certificate is not good: see the VerifyFailure
    Failed,                  // no common protocol version or cipher, garbage, a socket error
};

struct IoResult {
    enum class Status {
        Ok,        // `bytes` (at least 1) were read
        Closed,    // the peer ended the session or closed the connection
        TimedOut,  // nothing arrived in time; the session can go on
        Failed,    // a socket or protocol error; the session is over
    };
    Status status;
    size_t bytes;
};

struct Handshake;

// One TLS session on a connected socket, blocking, errors as values. The
// session does not own the socket: its owner closes it, and a socket shut
// down by another thread ends a blocked call. One thread at a time may use
// a session (a read and a write must not run at once).
class TlsSession {
public:
    // The browser side on an accepted socket, presenting the leaf.
    static Handshake Accept(ServerContext& context, platform::Socket socket, const Leaf& leaf, int timeoutMs);
    // The origin side on a connected socket: `host` goes out as SNI (a name,
    // not an address) and the certificate must be valid for it.
    static Handshake Connect(ClientContext& context, platform::Socket socket, const std::string& host,
                             int timeoutMs);

    // Reads what is there, up to `size` bytes, waiting at most timeoutMs for
    // the first (timeoutMs < 0 waits without limit).
    IoResult Read(char* buffer, size_t size, int timeoutMs);
    // Sends everything; false when the session failed on the way.
    bool WriteAll(const char* data, size_t size);
    // Tells the peer the session ends (close_notify). The socket stays open.
    void Close();
    // The protocol agreed through ALPN ("http/1.1"), empty when none was.
    std::string Protocol() const;

    ~TlsSession();
    TlsSession(const TlsSession&) = delete;
    TlsSession& operator=(const TlsSession&) = delete;

    struct Impl;  // the backend's
    explicit TlsSession(std::unique_ptr<Impl> impl);

private:
    std::unique_ptr<Impl> impl_;
};

struct Handshake {
    HandshakeStatus status = HandshakeStatus::Failed;
    VerifyFailure failure = VerifyFailure::None;  // set with VerifyFailed
    std::unique_ptr<TlsSession> session;          // set with Done
};

}  // namespace tls
