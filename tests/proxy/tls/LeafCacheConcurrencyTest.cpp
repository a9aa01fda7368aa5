// Many connections at once: each host's leaf is minted exactly once.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "InterceptServer.h"
#include "support/TempFolder.h"
#include "tls/LeafCache.h"
#include "tls/LocalCa.h"

TEST(LeafCacheConcurrency, TwoHundredConnectionsForFiftyHostsMintFiftyLeaves) {
    std::string error;
    std::shared_ptr<const tls::LocalCa> ca = tls::LocalCa::Create(error);
    ASSERT_TRUE(ca) << error;
    tls::LeafCache leaves(ca);
    tlstest::InterceptServer server(leaves);
    testsupport::TempFolder dir;
    dir.Write("ca.pem", ca->CertificatePem());
    auto client = tls::ClientContext::Create({dir / "ca.pem", ""}, error);
    ASSERT_TRUE(client) << error;

    constexpr int kConnections = 200, kHosts = 50;
    std::atomic<int> served{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> browsers;
    for (int i = 0; i < kConnections; ++i) {
        browsers.emplace_back([&, i] {
            while (!go.load()) std::this_thread::yield();
            const std::string host = "host" + std::to_string(i % kHosts) + ".test";
            tlstest::TunnelClient tunnel;
            if (tunnel.Open(server.port(), *client, host) && tunnel.Get(host).find("\r\n\r\nhello " + host) != std::string::npos)
                ++served;
        });
    }
    go = true;
    for (auto& b : browsers) b.join();
    EXPECT_EQ(served.load(), kConnections);
    EXPECT_EQ(leaves.Minted(), size_t{kHosts});
    EXPECT_EQ(leaves.Size(), size_t{kHosts});
}
