#include "TlsOrigin.h"

#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>

#include <chrono>

namespace tlstest {

namespace {

struct ConnectionNotes {
    std::string protocols;
};

int SelectAlpn(SSL* ssl, const unsigned char** out, unsigned char* outLength, const unsigned char* in,
               unsigned int inLength, void*) {
    auto* notes = static_cast<ConnectionNotes*>(SSL_get_app_data(ssl));
    for (unsigned int i = 0; i < inLength; i += 1 + in[i]) {
        if (!notes->protocols.empty()) notes->protocols += ",";
        notes->protocols.append(reinterpret_cast<const char*>(in + i + 1), in[i]);
    }
    return SSL_select_next_proto(const_cast<unsigned char**>(out), outLength,
                                 reinterpret_cast<const unsigned char*>("\x08http/1.1"), 9, in, inLength) ==
                   OPENSSL_NPN_NEGOTIATED
               ? SSL_TLSEXT_ERR_OK
               : SSL_TLSEXT_ERR_NOACK;
}

}  // namespace

TlsOrigin::TlsOrigin(const KeyPair& identity) {
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    context_ = ctx;
    BIO* cb = BIO_new_mem_buf(identity.certificate.data(), static_cast<int>(identity.certificate.size()));
    X509* cert = PEM_read_bio_X509(cb, nullptr, nullptr, nullptr);
    BIO_free(cb);
    BIO* kb = BIO_new_mem_buf(identity.key.data(), static_cast<int>(identity.key.size()));
    EVP_PKEY* key = PEM_read_bio_PrivateKey(kb, nullptr, nullptr, nullptr);
    BIO_free(kb);
    EXPECT_EQ(SSL_CTX_use_certificate(ctx, cert), 1);
    EXPECT_EQ(SSL_CTX_use_PrivateKey(ctx, key), 1);
    X509_free(cert);
    EVP_PKEY_free(key);
    SSL_CTX_set_alpn_select_cb(ctx, SelectAlpn, nullptr);

    listenSocket_ = platform::CreateTcpSocket().rc;
    EXPECT_EQ(platform::BindIPv4(listenSocket_, "127.0.0.1", 0).rc, 0);
    EXPECT_EQ(platform::ListenOn(listenSocket_, 16).rc, 0);
    port_ = platform::LocalPort(listenSocket_);
    thread_ = std::thread([this] { Serve(); });
}

TlsOrigin::~TlsOrigin() {
    {
        std::lock_guard<std::mutex> g(lock_);
        stopping_ = true;
        if (current_ != platform::kInvalidSocket) platform::ShutdownSocket(current_);
    }
    platform::ShutdownSocket(listenSocket_);
    platform::CloseSocket(listenSocket_);
    thread_.join();
    SSL_CTX_free(static_cast<SSL_CTX*>(context_));
}

void TlsOrigin::Serve() {
    for (;;) {
        platform::Socket s = platform::AcceptOn(listenSocket_).rc;
        if (s == platform::kInvalidSocket) return;
        {
            std::lock_guard<std::mutex> g(lock_);
            if (stopping_) {
                platform::CloseSocket(s);
                return;
            }
            current_ = s;
        }
        ConnectionNotes notes;
        SSL* ssl = SSL_new(static_cast<SSL_CTX*>(context_));
        SSL_set_app_data(ssl, &notes);
        SSL_set_fd(ssl, static_cast<int>(s));
        Seen seen;
        seen.handshakeDone = SSL_accept(ssl) == 1;
        const char* sni = SSL_get_servername(ssl, TLSEXT_NAMETYPE_host_name);
        seen.serverName = sni ? sni : "";
        seen.protocols = notes.protocols;
        {
            std::lock_guard<std::mutex> g(lock_);
            seen_.push_back(seen);
        }
        changed_.notify_all();
        if (seen.handshakeDone) {
            std::string request;
            char buffer[4096];
            while (request.find("\r\n\r\n") == std::string::npos) {
                int n = SSL_read(ssl, buffer, sizeof buffer);
                if (n <= 0) break;
                request.append(buffer, static_cast<size_t>(n));
            }
            static const char kAnswer[] = "HTTP/1.1 200 OK\r\nContent-Length: 6\r\nConnection: close\r\n\r\norigin";
            SSL_write(ssl, kAnswer, sizeof kAnswer - 1);
            SSL_shutdown(ssl);
        }
        SSL_free(ssl);
        ERR_clear_error();
        {
            std::lock_guard<std::mutex> g(lock_);
            current_ = platform::kInvalidSocket;
        }
        platform::ShutdownSocket(s);
        platform::CloseSocket(s);
    }
}

bool TlsOrigin::WaitSeen(size_t index, Seen& seen, int timeoutMs) {
    std::unique_lock<std::mutex> g(lock_);
    if (!changed_.wait_for(g, std::chrono::milliseconds(timeoutMs), [&] { return seen_.size() > index; })) return false;
    seen = seen_[index];
    return true;
}

}  // namespace tlstest
