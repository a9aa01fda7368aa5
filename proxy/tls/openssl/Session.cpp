#include <openssl/err.h>
#include <platform/Tick.h>

#include <climits>

#include "tls/Leaf.h"
#include "tls/TlsSession.h"
#include "tls/openssl/Impl.h"

namespace tls {

namespace {

VerifyFailure FailureOf(long verifyResult) {
    switch (verifyResult) {
        case X509_V_ERR_CERT_HAS_EXPIRED: return VerifyFailure::Expired;
        case X509_V_ERR_CERT_NOT_YET_VALID: return VerifyFailure::NotYetValid;
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH: return VerifyFailure::WrongHost;
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN: return VerifyFailure::SelfSigned;
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        case X509_V_ERR_CERT_UNTRUSTED: return VerifyFailure::UnknownIssuer;
        default: return VerifyFailure::Invalid;  // an OpenSSL code, not one of ours
    }
}

// The alerts with which a client says it does not accept our certificate.
bool IsCertificateRefusal(unsigned long error) {
    if (ERR_GET_LIB(error) != ERR_LIB_SSL) return false;
    switch (ERR_GET_REASON(error)) {
        case SSL_R_TLSV1_ALERT_UNKNOWN_CA:
        case SSL_R_SSLV3_ALERT_BAD_CERTIFICATE:
        case SSL_R_SSLV3_ALERT_CERTIFICATE_UNKNOWN:
        case SSL_R_SSLV3_ALERT_UNSUPPORTED_CERTIFICATE:
        case SSL_R_SSLV3_ALERT_CERTIFICATE_EXPIRED:
        case SSL_R_SSLV3_ALERT_CERTIFICATE_REVOKED:
        case SSL_R_TLSV1_ALERT_ACCESS_DENIED: return true;
        default: return false;  // an OpenSSL code, not one of ours
    }
}

void SetReadDeadline(SocketIo& io, int timeoutMs) {
    io.timedOut = false;
    // 0 means no limit, so a deadline of "now" is at least 1.
    io.readDeadline = timeoutMs < 0 ? 0 : platform::TickCount() + static_cast<uint64_t>(timeoutMs) + (timeoutMs == 0);
}

std::unique_ptr<TlsSession::Impl> NewSession(SSL_CTX* context, BIO_METHOD* method, platform::Socket socket) {
    auto impl = std::make_unique<TlsSession::Impl>();
    impl->io.socket = socket;
    impl->ssl.reset(SSL_new(context));
    if (!impl->ssl) return nullptr;
    BIO* bio = NewSocketBio(method, &impl->io);
    if (!bio) return nullptr;
    SSL_set_bio(impl->ssl.get(), bio, bio);  // the SSL owns it now
    return impl;
}

Handshake RunHandshake(std::unique_ptr<TlsSession::Impl> impl, bool client, int timeoutMs) {
    Handshake result;
    if (!impl) return result;
    SetReadDeadline(impl->io, timeoutMs);
    ERR_clear_error();
    const int rc = SSL_do_handshake(impl->ssl.get());
    impl->io.readDeadline = 0;
    if (rc == 1) {
        result.status = HandshakeStatus::Done;
        result.session = std::make_unique<TlsSession>(std::move(impl));
        return result;
    }
    const int error = SSL_get_error(impl->ssl.get(), rc);
    const unsigned long queued = ERR_peek_error();
    const long verified = SSL_get_verify_result(impl->ssl.get());
    if (impl->io.timedOut) {
        result.status = HandshakeStatus::TimedOut;
    } else if (client && verified != X509_V_OK) {
        result.status = HandshakeStatus::VerifyFailed;
        result.failure = FailureOf(verified);
    } else if (!client && IsCertificateRefusal(queued)) {
        result.status = HandshakeStatus::PeerRefusedCertificate;
    } else if (error == SSL_ERROR_ZERO_RETURN || (error == SSL_ERROR_SYSCALL && queued == 0)) {
        result.status = HandshakeStatus::Closed;
    } else {
        result.status = HandshakeStatus::Failed;
    }
    ERR_clear_error();
    return result;
}

bool IsIpAddress(const std::string& host) {
    ASN1_OCTET_STRING* ip = a2i_IPADDRESS(host.c_str());
    ASN1_OCTET_STRING_free(ip);
    return ip != nullptr;
}

}  // namespace

TlsSession::TlsSession(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
TlsSession::~TlsSession() = default;

Handshake TlsSession::Accept(ServerContext& context, platform::Socket socket, const Leaf& leaf, int timeoutMs) {
    auto impl = NewSession(context.impl().context.get(), context.impl().socketBio.get(), socket);
    if (!impl || SSL_use_certificate(impl->ssl.get(), leaf.impl().certificate.get()) != 1 ||
        SSL_use_PrivateKey(impl->ssl.get(), leaf.impl().key.get()) != 1) {
        ERR_clear_error();
        return {};
    }
    SSL_set_accept_state(impl->ssl.get());
    return RunHandshake(std::move(impl), false, timeoutMs);
}

Handshake TlsSession::Connect(ClientContext& context, platform::Socket socket, const std::string& host,
                              int timeoutMs) {
    auto impl = NewSession(context.impl().context.get(), context.impl().socketBio.get(), socket);
    if (!impl) return {};
    SSL* ssl = impl->ssl.get();
    // SSL_set1_host takes a numeric address as an address (IP: in the
    // certificate); SNI carries names only.
    SSL_set_hostflags(ssl, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    if (host.empty() || SSL_set1_host(ssl, host.c_str()) != 1 ||
        (!IsIpAddress(host) && SSL_set_tlsext_host_name(ssl, host.c_str()) != 1)) {
        ERR_clear_error();
        return {};
    }
    SSL_set_connect_state(ssl);
    return RunHandshake(std::move(impl), true, timeoutMs);
}

IoResult TlsSession::Read(char* buffer, size_t size, int timeoutMs) {
    if (impl_->broken) return {IoResult::Status::Failed, 0};
    SSL* ssl = impl_->ssl.get();
    // Bytes already decrypted need no wait.
    SetReadDeadline(impl_->io, SSL_pending(ssl) > 0 ? -1 : timeoutMs);
    ERR_clear_error();
    size_t got = 0;
    const int rc = SSL_read_ex(ssl, buffer, size, &got);
    impl_->io.readDeadline = 0;
    if (rc == 1) return {IoResult::Status::Ok, got};
    const int error = SSL_get_error(ssl, rc);
    ERR_clear_error();
    if (error == SSL_ERROR_WANT_READ && impl_->io.timedOut) return {IoResult::Status::TimedOut, 0};
    if (error == SSL_ERROR_ZERO_RETURN) return {IoResult::Status::Closed, 0};
    impl_->broken = true;
    return {IoResult::Status::Failed, 0};
}

bool TlsSession::WriteAll(const char* data, size_t size) {
    if (impl_->broken) return false;
    while (size > 0) {
        ERR_clear_error();
        size_t written = 0;
        if (SSL_write_ex(impl_->ssl.get(), data, size, &written) != 1) {
            ERR_clear_error();
            impl_->broken = true;
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

void TlsSession::Close() {
    if (impl_->broken) return;
    ERR_clear_error();
    SSL_shutdown(impl_->ssl.get());  // sends close_notify; the peer's is not awaited
    ERR_clear_error();
    impl_->broken = true;  // nothing more goes out
}

std::string TlsSession::Protocol() const {
    const unsigned char* protocol = nullptr;
    unsigned int length = 0;
    SSL_get0_alpn_selected(impl_->ssl.get(), &protocol, &length);
    return protocol ? std::string(reinterpret_cast<const char*>(protocol), length) : std::string();
}

}  // namespace tls
