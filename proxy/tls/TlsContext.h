#pragma once

#include <memory>
#include <string>

namespace tls {

// The two TLS configurations of interception, each built once (per process
// or per configuration) and shared by every connection: building one loads
// the trust store, which costs far more than a handshake.

// The browser side: TLS 1.2 or later, our leaf for the host, ALPN http/1.1
// only (a browser that offers only h2 gets no protocol and must fall back).
class ServerContext {
public:
    static std::unique_ptr<ServerContext> Create(std::string& error);
    ~ServerContext();
    ServerContext(const ServerContext&) = delete;
    ServerContext& operator=(const ServerContext&) = delete;

    struct Impl;  // the backend's
    Impl& impl() { return *impl_; }
    explicit ServerContext(std::unique_ptr<Impl> impl);

private:
    std::unique_ptr<Impl> impl_;
};

struct ClientSettings {
    // Tests only: trust the certificates of this PEM file instead of the
    // system's store.
    std::string testTrustFile;
    // A root never accepted, even where the store trusts it: our own CA
    // (the system's store holds it once HTTPS filtering is on), so nothing we
    // signed passes for an origin's certificate. PEM; may be empty.
    std::string refusedRootPem;
};

// The origin side: TLS 1.2 or later, the whole chain and the host name
// verified against the system's store, SNI, ALPN http/1.1.
class ClientContext {
public:
    static std::unique_ptr<ClientContext> Create(const ClientSettings& settings, std::string& error);
    ~ClientContext();
    ClientContext(const ClientContext&) = delete;
    ClientContext& operator=(const ClientContext&) = delete;

    struct Impl;  // the backend's
    Impl& impl() { return *impl_; }
    explicit ClientContext(std::unique_ptr<Impl> impl);

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace tls
