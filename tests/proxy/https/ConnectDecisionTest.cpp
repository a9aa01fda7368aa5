// Which CONNECTs are intercepted: none while the switch is off; never the
// listed sites, nor those whose browser refused our certificate last time.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "https/ConnectDecision.h"
#include "https/HttpsPassList.h"
#include "https/RefusedHosts.h"
#include "support/TempFolder.h"

using tls::HandshakeStatus;

namespace {

std::string Shipped(const std::string& name) {
    std::ifstream in(std::string(MORVANE_DATA_DIR) + "/Data/" + name, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

}  // namespace

TEST(ConnectDecision, TunnelsWhenOffListedRefusedOrUncertifiableAndInterceptsTheRest) {
    testsupport::TempFolder dir(true);
    dir.Write(HttpsPassList::kShippedFile, Shipped("https_pass.txt"));
    dir.Write(HttpsPassList::kUserFile, "\xEF\xBB\xBF# mine\r\nMy-Bank.Example\r\n");
    HttpsPassList list;
    RefusedHosts refused(16);
    auto decide = [&](bool on, const std::string& host) { return DecideConnect(on, list, refused, host); };

    for (const std::string host : {"www.example.com", "www.icbc.com.cn", "127.0.0.1"})
        EXPECT_EQ(decide(false, host), ConnectHandling::Tunnel) << host;
    // Shipped entries (a domain covers its subdomains), the user's, and sites
    // that are neither.
    for (const std::string host : {"www.icbc.com.cn", "ICBC.com.cn", "irs.gov", "www.gov.cn", "update.microsoft.com",
                                   "x.windowsupdate.com", "www.my-bank.example"})
        EXPECT_EQ(decide(true, host), ConnectHandling::Tunnel) << host;
    for (const std::string host : {"www.example.com", "news.sina.com.cn", "www.baidu.com", "notgov.example", "127.0.0.1"})
        EXPECT_EQ(decide(true, host), ConnectHandling::Intercept) << host;
    EXPECT_EQ(decide(true, "*.example.com"), ConnectHandling::Tunnel);  // no certificate can be made for it

    // The browser refused our certificate: tunnelled until an interception
    // of that host works again.
    refused.NoteHandshake("Pinned.Example", HandshakeStatus::PeerRefusedCertificate);
    EXPECT_EQ(decide(true, "pinned.example"), ConnectHandling::Tunnel);
    refused.NoteHandshake("pinned.example", HandshakeStatus::TimedOut);
    EXPECT_EQ(decide(true, "pinned.example"), ConnectHandling::Tunnel);
    refused.NoteHandshake("pinned.example", HandshakeStatus::Done);
    EXPECT_EQ(decide(true, "pinned.example"), ConnectHandling::Intercept);

    // Lists are re-read on a reload.
    dir.Write(HttpsPassList::kUserFile, "www.example.com\n");
    list.Reload();
    EXPECT_EQ(decide(true, "www.example.com"), ConnectHandling::Tunnel);
    EXPECT_EQ(decide(true, "www.my-bank.example"), ConnectHandling::Intercept);
}

TEST(ConnectDecision, RefusedHostsAreBounded) {
    RefusedHosts refused(3);
    for (const char* host : {"a.test", "b.test", "c.test"}) refused.NoteHandshake(host, HandshakeStatus::PeerRefusedCertificate);
    refused.NoteHandshake("a.test", HandshakeStatus::PeerRefusedCertificate);  // refused again: the most recent now
    refused.NoteHandshake("d.test", HandshakeStatus::PeerRefusedCertificate);
    EXPECT_EQ(refused.Size(), 3u);
    EXPECT_TRUE(refused.Contains("a.test"));
    EXPECT_FALSE(refused.Contains("b.test"));
    EXPECT_TRUE(refused.Contains("c.test"));
    EXPECT_TRUE(refused.Contains("d.test"));
}
