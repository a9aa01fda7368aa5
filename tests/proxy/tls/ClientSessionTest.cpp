// The origin side: a good certificate passes, every bad one is refused with
// its reason, our own CA never counts, and every wait keeps its deadline.
#include <gtest/gtest.h>

#include <thread>

#include "InterceptServer.h"
#include "TestPki.h"
#include "TlsOrigin.h"
#include "support/TempFolder.h"
#include "tls/LeafCache.h"
#include "tls/LocalCa.h"
#include "tls/TlsContext.h"
#include "tls/TlsSession.h"

using tls::HandshakeStatus;
using tls::VerifyFailure;

namespace {

std::unique_ptr<tls::ClientContext> ClientTrusting(const std::string& trustFile, const std::string& refusedRoot = {}) {
    std::string error;
    auto context = tls::ClientContext::Create({trustFile, refusedRoot}, error);
    EXPECT_TRUE(context) << error;
    return context;
}

platform::Socket ConnectTo(uint16_t port) {
    platform::Socket s = platform::CreateTcpSocket().rc;
    EXPECT_EQ(platform::ConnectIPv4(s, platform::ResolveIPv4("127.0.0.1").at(0), port).rc, 0);
    return s;
}

struct ClosingSocket {
    platform::Socket s;
    ~ClosingSocket() {
        platform::ShutdownSocket(s);
        platform::CloseSocket(s);
    }
};

}  // namespace

TEST(ClientSession, AcceptsAGoodOriginAndRefusesEachBadCertificateWithItsReason) {
    tlstest::TestPki pki;
    testsupport::TempFolder dir;
    dir.Write("upstream.pem", pki.ca.certificate);
    auto context = ClientTrusting(dir / "upstream.pem");
    ASSERT_TRUE(context);
    struct Case {
        const tlstest::KeyPair* identity;
        std::string host;
        HandshakeStatus status;
        VerifyFailure failure;
    };
    const Case cases[] = {
        {&pki.good, "origin.test", HandshakeStatus::Done, VerifyFailure::None},
        {&pki.good, "127.0.0.1", HandshakeStatus::Done, VerifyFailure::None},
        {&pki.good, "other.test", HandshakeStatus::VerifyFailed, VerifyFailure::WrongHost},
        {&pki.good, "127.0.0.2", HandshakeStatus::VerifyFailed, VerifyFailure::WrongHost},
        {&pki.expired, "origin.test", HandshakeStatus::VerifyFailed, VerifyFailure::Expired},
        {&pki.wrongName, "origin.test", HandshakeStatus::VerifyFailed, VerifyFailure::WrongHost},
        {&pki.selfSigned, "origin.test", HandshakeStatus::VerifyFailed, VerifyFailure::SelfSigned},
        {&pki.strangerSigned, "origin.test", HandshakeStatus::VerifyFailed, VerifyFailure::UnknownIssuer},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.host + " / " + tlstest::ReadFacts(c.identity->certificate).alternativeNames);
        tlstest::TlsOrigin origin(*c.identity);
        ClosingSocket s{ConnectTo(origin.port())};
        tls::Handshake hs = tls::TlsSession::Connect(*context, s.s, c.host, 5000);
        EXPECT_EQ(hs.status, c.status);
        EXPECT_EQ(hs.failure, c.failure);
        tlstest::TlsOrigin::Seen seen;
        ASSERT_TRUE(origin.WaitSeen(0, seen));
        // SNI names only names; ALPN offers HTTP/1.1 alone.
        EXPECT_EQ(seen.serverName, c.host[0] == '1' ? "" : c.host);
        EXPECT_EQ(seen.protocols, "http/1.1");
        if (hs.status != HandshakeStatus::Done) {
            EXPECT_FALSE(hs.session);
            EXPECT_FALSE(seen.handshakeDone);  // nothing goes on with a refused origin
            continue;
        }
        ASSERT_TRUE(hs.session);
        EXPECT_EQ(hs.session->Protocol(), "http/1.1");
        const std::string request = "GET / HTTP/1.1\r\nHost: origin.test\r\n\r\n";
        ASSERT_TRUE(hs.session->WriteAll(request.data(), request.size()));
        std::string answer;
        char buffer[256];
        for (tls::IoResult r; (r = hs.session->Read(buffer, sizeof buffer, 5000)).status == tls::IoResult::Status::Ok;)
            answer.append(buffer, r.bytes);
        EXPECT_EQ(answer, "HTTP/1.1 200 OK\r\nContent-Length: 6\r\nConnection: close\r\n\r\norigin");
    }
    EXPECT_STREQ(tls::VerifyFailureText(VerifyFailure::Expired), "the certificate has expired");
}

TEST(ClientSession, NeverTrustsOurOwnCaEvenWhereTheStoreDoes) {
    // Once HTTPS filtering is on, the system's store holds our CA: an origin
    // presenting a certificate we signed must still be refused.
    std::string error;
    std::shared_ptr<const tls::LocalCa> ca = tls::LocalCa::Create(error);
    ASSERT_TRUE(ca) << error;
    tls::LeafCache leaves(ca);
    tlstest::InterceptServer server(leaves);
    testsupport::TempFolder dir;
    tlstest::TestPki pki;
    dir.Write("store.pem", pki.ca.certificate + ca->CertificatePem());

    auto plain = ClientTrusting(dir / "store.pem");
    auto guarded = ClientTrusting(dir / "store.pem", ca->CertificatePem());
    ASSERT_TRUE(plain && guarded);
    tlstest::TunnelClient control, refused;
    EXPECT_TRUE(control.Open(server.port(), *plain, "site.test"));  // the store alone would take it
    EXPECT_FALSE(refused.Open(server.port(), *guarded, "site.test"));
    EXPECT_EQ(refused.handshake.status, HandshakeStatus::VerifyFailed);
    EXPECT_EQ(refused.handshake.failure, VerifyFailure::UnknownIssuer);
}

TEST(ClientSession, HandshakesAndReadsKeepTheirDeadlines) {
    std::string error;
    std::shared_ptr<const tls::LocalCa> ca = tls::LocalCa::Create(error);
    ASSERT_TRUE(ca) << error;
    auto leaf = tls::MintLeaf(*ca, "site.test");
    auto server = tls::ServerContext::Create(error);
    testsupport::TempFolder dir;
    dir.Write("ca.pem", ca->CertificatePem());
    auto client = ClientTrusting(dir / "ca.pem");
    ASSERT_TRUE(leaf && server && client);

    {  // an origin that accepts the connection and says nothing
        tlstest::SocketPair silent;
        EXPECT_EQ(tls::TlsSession::Connect(*client, silent.client, "site.test", 100).status, HandshakeStatus::TimedOut);
    }
    {  // a browser that connects and says nothing
        tlstest::SocketPair silent;
        EXPECT_EQ(tls::TlsSession::Accept(*server, silent.server, *leaf, 100).status, HandshakeStatus::TimedOut);
    }
    {  // a peer that hangs up in the middle: Closed, not a refusal to remember
        tlstest::SocketPair browserGone, originGone;
        platform::ShutdownSocket(browserGone.client);
        platform::ShutdownSocket(originGone.server);
        EXPECT_EQ(tls::TlsSession::Accept(*server, browserGone.server, *leaf, 5000).status, HandshakeStatus::Closed);
        EXPECT_EQ(tls::TlsSession::Connect(*client, originGone.client, "site.test", 5000).status, HandshakeStatus::Closed);
    }
    {  // a read that times out leaves the session usable
        tlstest::SocketPair pair;
        tls::Handshake accepted;
        std::thread browserSide([&] { accepted = tls::TlsSession::Accept(*server, pair.server, *leaf, 5000); });
        tls::Handshake connected = tls::TlsSession::Connect(*client, pair.client, "site.test", 5000);
        browserSide.join();
        ASSERT_TRUE(accepted.session && connected.session);
        char buffer[16];
        EXPECT_EQ(accepted.session->Read(buffer, sizeof buffer, 50).status, tls::IoResult::Status::TimedOut);
        ASSERT_TRUE(connected.session->WriteAll("ping", 4));
        tls::IoResult r = accepted.session->Read(buffer, sizeof buffer, 5000);
        ASSERT_EQ(r.status, tls::IoResult::Status::Ok);
        EXPECT_EQ(std::string(buffer, r.bytes), "ping");
        connected.session->Close();
        EXPECT_EQ(accepted.session->Read(buffer, sizeof buffer, 5000).status, tls::IoResult::Status::Closed);
    }
}
