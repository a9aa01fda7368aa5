// The browser side: our leaf for the CONNECT host, verified by clients that
// are not ours (OpenSSL itself and curl), and HTTP/1.1 as the only protocol.
#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include "InterceptServer.h"
#include "TestPki.h"
#include "support/TempFolder.h"
#include "tls/LeafCache.h"
#include "tls/LocalCa.h"

using tls::HandshakeStatus;

namespace {

struct Fixture {
    Fixture() {
        std::string error;
        ca = tls::LocalCa::Create(error);
        EXPECT_TRUE(ca) << error;
        dir.Write("ca.pem", ca->CertificatePem());
        dir.Write("upstream.pem", pki.ca.certificate);
    }
    std::shared_ptr<const tls::LocalCa> ca;
    testsupport::TempFolder dir;
    tlstest::TestPki pki;
};

struct OpenSslResult {
    bool verified = false;
    std::string protocol;
    std::string certificate;  // PEM of what the server presented
    std::string answer;
};

// A client on OpenSSL alone: CONNECT, then TLS that must verify against
// `caFile` for `host`, offering `alpn` (wire format).
OpenSslResult OpenSslClient(uint16_t proxyPort, const std::string& caFile, const std::string& host,
                            const std::string& alpn) {
    OpenSslResult result;
    platform::Socket s = platform::CreateTcpSocket().rc;
    if (platform::ConnectIPv4(s, platform::ResolveIPv4("127.0.0.1").at(0), proxyPort).rc != 0) return result;
    const std::string connect = "CONNECT " + host + ":443 HTTP/1.1\r\n\r\n";
    platform::SendSome(s, connect.data(), static_cast<int>(connect.size()));
    std::string reply;
    char c;
    while (reply.find("\r\n\r\n") == std::string::npos && platform::WaitReadable(s, 5000).rc == 1 &&
           platform::RecvSome(s, &c, 1).rc == 1)
        reply += c;
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    SSL_CTX_load_verify_locations(ctx, caFile.c_str(), nullptr);
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
    SSL_CTX_set_alpn_protos(ctx, reinterpret_cast<const unsigned char*>(alpn.data()), static_cast<unsigned>(alpn.size()));
    SSL* ssl = SSL_new(ctx);
    SSL_set1_host(ssl, host.c_str());
    SSL_set_tlsext_host_name(ssl, host.c_str());
    SSL_set_fd(ssl, static_cast<int>(s));
    if (SSL_connect(ssl) == 1) {
        result.verified = SSL_get_verify_result(ssl) == X509_V_OK;
        const unsigned char* p = nullptr;
        unsigned int n = 0;
        SSL_get0_alpn_selected(ssl, &p, &n);
        result.protocol.assign(reinterpret_cast<const char*>(p), p ? n : 0);
        X509* peer = SSL_get1_peer_certificate(ssl);
        BIO* bio = BIO_new(BIO_s_mem());
        PEM_write_bio_X509(bio, peer);
        char* data = nullptr;
        long length = BIO_get_mem_data(bio, &data);
        result.certificate.assign(data, static_cast<size_t>(length));
        BIO_free(bio);
        X509_free(peer);
        const std::string request = "GET / HTTP/1.1\r\nHost: " + host + "\r\n\r\n";
        SSL_write(ssl, request.data(), static_cast<int>(request.size()));
        char buffer[512];
        for (int got; (got = SSL_read(ssl, buffer, sizeof buffer)) > 0;) result.answer.append(buffer, static_cast<size_t>(got));
    }
    SSL_free(ssl);
    SSL_CTX_free(ctx);
    ERR_clear_error();
    platform::ShutdownSocket(s);
    platform::CloseSocket(s);
    return result;
}

}  // namespace

TEST(ServerSession, PresentsALeafForTheHostThatVerifiesAgainstOurCaAndSpeaksOnlyHttp11) {
    Fixture f;
    tls::LeafCache leaves(f.ca);
    tlstest::InterceptServer server(leaves);
    const std::string h2AndHttp11("\x02h2\x08http/1.1", 12);
    const std::string h2Only("\x02h2", 3);
    for (const std::string host : {"site.test", "127.0.0.2"}) {
        SCOPED_TRACE(host);
        OpenSslResult both = OpenSslClient(server.port(), f.dir / "ca.pem", host, h2AndHttp11);
        EXPECT_TRUE(both.verified);
        EXPECT_EQ(both.protocol, "http/1.1");
        EXPECT_EQ(tlstest::ReadFacts(both.certificate).alternativeNames,
                  (host[0] == '1' ? "IP:" : "DNS:") + host);
        EXPECT_NE(both.answer.find("\r\n\r\nhello " + host), std::string::npos) << both.answer;
        // A client that wants HTTP/2 alone gets no protocol: it falls back to
        // HTTP/1.1 or gives up.
        OpenSslResult h2 = OpenSslClient(server.port(), f.dir / "ca.pem", host, h2Only);
        EXPECT_TRUE(h2.verified);
        EXPECT_EQ(h2.protocol, "");
    }
    EXPECT_EQ(leaves.Minted(), 2u);  // four connections, two hosts
}

TEST(ServerSession, CurlTrustingOurCaGetsThePageOverHttp11AndOneThatDoesNotRefusesIt) {
    Fixture f;
    tls::LeafCache leaves(f.ca);
    tlstest::InterceptServer server(leaves);
    const std::string proxy = " -x http://127.0.0.1:" + std::to_string(server.port());
    int status = -1;
    for (const std::string url : {"https://site.test/", "https://127.0.0.3/"}) {
        for (const std::string flags : {"--http1.1", "--http2"}) {
            const std::string out = tlstest::RunCommand(
                "curl -sS --max-time 20 -w ' %{http_version}' --cacert '" + f.dir / "ca.pem" + "' " + flags + proxy + " " + url,
                f.dir / "curl.out", status);
            EXPECT_EQ(status, 0) << url << flags << ": " << out;
            const std::string host = url.substr(8, url.size() - 9);
            EXPECT_EQ(out, "hello " + host + " 1.1") << flags;
        }
    }
    // curl trusting only another CA refuses our certificate with an alert,
    // which the server side reports as such.
    const size_t before = server.Statuses().size();
    const std::string out = tlstest::RunCommand(
        "curl -sS --max-time 20 --cacert '" + f.dir / "upstream.pem" + "'" + proxy + " https://pinned.test/",
        f.dir / "curl.out", status);
    EXPECT_NE(status, 0) << out;
    ASSERT_TRUE(server.WaitHandshakes(before + 1));
    EXPECT_EQ(server.Statuses().back(), HandshakeStatus::PeerRefusedCertificate);
}
