// Leaf certificates: one host each, signed by the local CA, kept in a
// bounded cache.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

#include "TestPki.h"
#include "tls/Leaf.h"
#include "tls/LeafCache.h"
#include "tls/LocalCa.h"

namespace {

constexpr long long kDay = 24 * 3600;

std::shared_ptr<const tls::LocalCa> NewCa() {
    std::string error;
    auto ca = tls::LocalCa::Create(error);
    EXPECT_TRUE(ca) << error;
    return ca;
}

}  // namespace

TEST(Leaf, NamesOnlyItsHostIsNoCaAndVerifiesAgainstTheLocalCa) {
    auto ca = NewCa();
    const std::string longName = std::string(40, 'a') + "." + std::string(40, 'b') + ".test";  // too long for a common name
    struct Case {
        std::string host;
        std::string names;
        std::string commonName;
    };
    const Case cases[] = {
        {"Shop.Example.TEST", "DNS:shop.example.test", "shop.example.test"},
        {"127.0.0.1", "IP:127.0.0.1", "127.0.0.1"},
        {"::1", "IP:(16 bytes)", "::1"},
        {longName, "DNS:" + longName, ""},
    };
    const long long now = std::time(nullptr);
    for (const auto& c : cases) {
        auto leaf = tls::MintLeaf(*ca, c.host);
        ASSERT_TRUE(leaf) << c.host;
        const tlstest::CertificateFacts f = tlstest::ReadFacts(leaf->CertificatePem());
        EXPECT_EQ(f.alternativeNames, c.names) << c.host;
        EXPECT_EQ(f.subjectCommonName, c.commonName) << c.host;
        EXPECT_EQ(f.issuerCommonName, ca->Name());
        EXPECT_FALSE(f.isCa);
        EXPECT_TRUE(f.basicConstraintsCritical);
        EXPECT_TRUE(f.serverAuth);
        EXPECT_TRUE(f.ecP256);
        EXPECT_TRUE(f.sha256);
        EXPECT_GT(f.serialBits, 100);
        EXPECT_LE(f.serialBits, 128);
        EXPECT_NEAR(static_cast<double>(f.notBefore), static_cast<double>(now - kDay), 120.0) << c.host;
        EXPECT_EQ(f.notAfter - f.notBefore, 90 * kDay);
        EXPECT_EQ(leaf->NotAfter(), f.notAfter);
        EXPECT_TRUE(tlstest::VerifiesFor(leaf->CertificatePem(), ca->CertificatePem(), c.host)) << c.host;
        EXPECT_FALSE(tlstest::VerifiesFor(leaf->CertificatePem(), ca->CertificatePem(), "other.test"));
    }
    // Every leaf has its own key and serial.
    EXPECT_NE(tls::MintLeaf(*ca, "a.test")->CertificatePem(), tls::MintLeaf(*ca, "a.test")->CertificatePem());
}

TEST(Leaf, OnlyPlainNamesAndAddressesAreCertified) {
    auto ca = NewCa();
    for (const std::string host : {"a.test", "x_y.example", "2001:db8::1", "::ffff:192.0.2.1", "192.0.2.1"})
        EXPECT_TRUE(tls::IsCertifiableHost(host)) << host;
    // Wildcards, empty labels, text that a certificate tool could read as a
    // second name, brackets and zones, overlong names.
    for (const std::string& host : std::vector<std::string>{"", "*.example.com", "a..b", ".a.test", "a.test.", "a b.test",
                                   "a.test,DNS:evil.test", "[::1]", "fe80::1%eth0", "1:2", "2001:db8::1::2",
                                   std::string(64, 'a') + ".test", std::string(254, 'a')}) {
        EXPECT_FALSE(tls::IsCertifiableHost(host)) << host;
        EXPECT_FALSE(tls::MintLeaf(*ca, host)) << host;
    }
}

TEST(LeafCache, KeepsTheMostRecentHostsAndRenewsLeavesNearTheirEnd) {
    int64_t now = std::time(nullptr);
    tls::TlsLimits limits;
    limits.leafCacheHosts = 2;
    tls::LeafCache cache(NewCa(), limits, [&] { return now; });
    auto a = cache.Get("a.test");
    auto b = cache.Get("b.test");
    ASSERT_TRUE(a && b);
    EXPECT_EQ(cache.Get("A.TEST"), a);  // one host in any case; a is now the most recent
    auto c = cache.Get("c.test");       // b goes
    EXPECT_EQ(cache.Size(), 2u);
    EXPECT_EQ(cache.Minted(), 3u);
    EXPECT_EQ(cache.Get("a.test"), a);
    EXPECT_NE(cache.Get("b.test"), b);
    EXPECT_EQ(cache.Minted(), 4u);
    EXPECT_FALSE(cache.Get("*.test"));
    EXPECT_EQ(cache.Minted(), 4u);

    // Sixty-five days on, a has less than thirty left: a fresh one.
    now += 65 * 24 * 3600;
    auto renewed = cache.Get("a.test");
    ASSERT_TRUE(renewed);
    EXPECT_NE(renewed, a);
    EXPECT_EQ(cache.Get("a.test"), renewed);
}
