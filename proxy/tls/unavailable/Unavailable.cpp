// The TLS layer of a build without a TLS implementation (the Windows cross
// build has no OpenSSL yet): everything fails, and TlsAvailable says why, so
// HTTPS filtering is refused when it is asked for and CONNECT stays a tunnel.
#include "tls/Leaf.h"
#include "tls/LocalCa.h"
#include "tls/TlsBackend.h"
#include "tls/TlsContext.h"
#include "tls/TlsSession.h"

namespace tls {

namespace {
const char kReason[] = "HTTPS filtering is not available in this build: it has no TLS library (OpenSSL)";
}

struct LocalCa::Impl {};
struct Leaf::Impl {};
struct ServerContext::Impl {};
struct ClientContext::Impl {};
struct TlsSession::Impl {};

bool TlsAvailable(std::string& reason) {
    reason = kReason;
    return false;
}

LocalCa::LocalCa(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
LocalCa::~LocalCa() = default;
std::shared_ptr<const LocalCa> LocalCa::Create(std::string& error) {
    error = kReason;
    return nullptr;
}
std::shared_ptr<const LocalCa> LocalCa::Load(const CaPaths&, CaLoad& status) {
    status = CaLoad::Unavailable;
    return nullptr;
}
bool LocalCa::Store(const CaPaths&, std::string& error) const {
    error = kReason;
    return false;
}
std::string LocalCa::CertificatePem() const { return {}; }
std::string LocalCa::Name() const { return {}; }

Leaf::Leaf(std::string host, int64_t notAfter, std::unique_ptr<Impl> impl)
    : host_(std::move(host)), notAfter_(notAfter), impl_(std::move(impl)) {}
Leaf::~Leaf() = default;
std::string Leaf::CertificatePem() const { return {}; }
std::shared_ptr<const Leaf> MintLeaf(const LocalCa&, const std::string&, int64_t) { return nullptr; }

ServerContext::ServerContext(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
ServerContext::~ServerContext() = default;
std::unique_ptr<ServerContext> ServerContext::Create(std::string& error) {
    error = kReason;
    return nullptr;
}

ClientContext::ClientContext(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
ClientContext::~ClientContext() = default;
std::unique_ptr<ClientContext> ClientContext::Create(const ClientSettings&, std::string& error) {
    error = kReason;
    return nullptr;
}

TlsSession::TlsSession(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
TlsSession::~TlsSession() = default;
Handshake TlsSession::Accept(ServerContext&, platform::Socket, const Leaf&, int) { return {}; }
Handshake TlsSession::Connect(ClientContext&, platform::Socket, const std::string&, int) { return {}; }
IoResult TlsSession::Read(char*, size_t, int) { return {IoResult::Status::Failed, 0}; }
bool TlsSession::WriteAll(const char*, size_t) { return false; }
void TlsSession::Close() {}
std::string TlsSession::Protocol() const { return {}; }

}  // namespace tls
