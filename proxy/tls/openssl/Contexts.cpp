#include <openssl/err.h>

#include <cstring>

#include "tls/TlsContext.h"
#include "tls/openssl/Impl.h"

namespace tls {

namespace {

constexpr unsigned char kHttp11[] = "\x08http/1.1";

// Picks http/1.1 from the browser's list. Anything else (h2 alone) gets no
// protocol rather than an alert: the browser then speaks HTTP/1.1 or gives up.
int SelectHttp11(SSL*, const unsigned char** out, unsigned char* outLength, const unsigned char* in,
                 unsigned int inLength, void*) {
    for (unsigned int i = 0; i < inLength;) {
        const unsigned int length = in[i];
        if (i + 1 + length > inLength) break;
        if (length == 8 && std::memcmp(in + i + 1, "http/1.1", 8) == 0) {
            *out = in + i + 1;
            *outLength = static_cast<unsigned char>(length);
            return SSL_TLSEXT_ERR_OK;
        }
        i += 1 + length;
    }
    return SSL_TLSEXT_ERR_NOACK;
}

// The chain as the store verifies it, then one more rule: no certificate of
// the chain may be our own CA, whatever the store says of it.
int VerifyChain(X509_STORE_CTX* store, void* arg) {
    const auto* impl = static_cast<const ClientContext::Impl*>(arg);
    if (X509_verify_cert(store) != 1) return 0;
    if (!impl->refusedRoot) return 1;
    STACK_OF(X509)* chain = X509_STORE_CTX_get0_chain(store);
    for (int i = 0; i < sk_X509_num(chain); ++i) {
        if (X509_cmp(sk_X509_value(chain, i), impl->refusedRoot.get()) == 0) {
            X509_STORE_CTX_set_error(store, X509_V_ERR_CERT_UNTRUSTED);
            return 0;
        }
    }
    return 1;
}

bool CommonSetup(SSL_CTX* context) {
    // No renegotiation; a peer that closes without close_notify just ends the
    // session (HTTP frames its own bodies).
    SSL_CTX_set_options(context, SSL_OP_NO_RENEGOTIATION | SSL_OP_IGNORE_UNEXPECTED_EOF);
    SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_OFF);
    return SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION) == 1;
}

}  // namespace

ServerContext::ServerContext(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
ServerContext::~ServerContext() = default;

std::unique_ptr<ServerContext> ServerContext::Create(std::string& error) {
    auto impl = std::make_unique<Impl>();
    impl->context.reset(SSL_CTX_new(TLS_server_method()));
    impl->socketBio = NewSocketBioMethod();
    if (!impl->context || !impl->socketBio || !CommonSetup(impl->context.get())) {
        error = "could not set up TLS for the browser side";
        return nullptr;
    }
    // Every connection gets a full handshake with the leaf of its host: no
    // session of one host can be resumed for another.
    SSL_CTX_set_options(impl->context.get(), SSL_OP_NO_TICKET);
    SSL_CTX_set_num_tickets(impl->context.get(), 0);
    SSL_CTX_set_alpn_select_cb(impl->context.get(), SelectHttp11, nullptr);
    return std::make_unique<ServerContext>(std::move(impl));
}

ClientContext::ClientContext(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
ClientContext::~ClientContext() = default;

std::unique_ptr<ClientContext> ClientContext::Create(const ClientSettings& settings, std::string& error) {
    auto impl = std::make_unique<Impl>();
    impl->context.reset(SSL_CTX_new(TLS_client_method()));
    impl->socketBio = NewSocketBioMethod();
    if (!impl->context || !impl->socketBio || !CommonSetup(impl->context.get()) ||
        SSL_CTX_set_alpn_protos(impl->context.get(), kHttp11, sizeof kHttp11 - 1) != 0) {
        error = "could not set up TLS for the origin side";
        return nullptr;
    }
    const bool trusted = settings.testTrustFile.empty()
                             ? SSL_CTX_set_default_verify_paths(impl->context.get()) == 1
                             : SSL_CTX_load_verify_locations(impl->context.get(), settings.testTrustFile.c_str(), nullptr) == 1;
    if (!trusted) {
        error = "could not load the trusted certificates";
        return nullptr;
    }
    if (!settings.refusedRootPem.empty()) {
        impl->refusedRoot = CertificateFromPem(settings.refusedRootPem);
        if (!impl->refusedRoot) {
            error = "the local CA's certificate cannot be read";
            return nullptr;
        }
        // Its cached fields are filled now, not by the first comparison on
        // some connection's thread.
        X509_check_purpose(impl->refusedRoot.get(), -1, 0);
    }
    SSL_CTX_set_verify(impl->context.get(), SSL_VERIFY_PEER, nullptr);
    SSL_CTX_set_cert_verify_callback(impl->context.get(), VerifyChain, impl.get());
    ERR_clear_error();
    return std::make_unique<ClientContext>(std::move(impl));
}

}  // namespace tls
