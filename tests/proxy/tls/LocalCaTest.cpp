// The local CA: a root of this install alone, kept with a key that only this
// account may read.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <openssl/x509v3.h>

#include <ctime>
#include <filesystem>

#include "TestPki.h"
#include "support/TempFolder.h"
#include "tls/Leaf.h"
#include "tls/LocalCa.h"

namespace fs = std::filesystem;
using tls::CaLoad;
using tls::LocalCa;

namespace {
constexpr long long kDay = 24 * 3600;
}

TEST(LocalCa, IsARootOfThisInstallAloneWithCaExtensionsForTenYears) {
    std::string error;
    auto ca = LocalCa::Create(error);
    auto other = LocalCa::Create(error);
    ASSERT_TRUE(ca && other) << error;
    const tlstest::CertificateFacts f = tlstest::ReadFacts(ca->CertificatePem());
    ASSERT_TRUE(f.parsed);
    EXPECT_TRUE(f.isCa);
    EXPECT_TRUE(f.basicConstraintsCritical);
    EXPECT_EQ(f.pathLength, 0);
    EXPECT_TRUE(f.keyUsageCritical);
    EXPECT_EQ(f.keyUsage, unsigned{KU_KEY_CERT_SIGN | KU_CRL_SIGN});
    EXPECT_FALSE(f.serverAuth);
    EXPECT_EQ(f.subjectOrganization, "Morvane");
    const std::string prefix = "Morvane local CA ";
    ASSERT_EQ(f.subjectCommonName.rfind(prefix, 0), 0u) << f.subjectCommonName;
    const std::string installId = f.subjectCommonName.substr(prefix.size());
    EXPECT_EQ(installId.size(), 16u);
    EXPECT_EQ(installId.find_first_not_of("0123456789abcdef"), std::string::npos) << installId;
    EXPECT_EQ(f.issuerCommonName, f.subjectCommonName);
    EXPECT_EQ(ca->Name(), f.subjectCommonName);
    EXPECT_TRUE(f.ecP256);
    EXPECT_TRUE(f.sha256);
    EXPECT_GT(f.serialBits, 100);
    const long long now = std::time(nullptr);
    EXPECT_LE(f.notBefore, now);
    EXPECT_NEAR(static_cast<double>(f.notAfter - now), 3650.0 * kDay, 120.0);
    // Two installs never share a CA: another name, another key.
    EXPECT_NE(ca->Name(), other->Name());
    auto leaf = tls::MintLeaf(*ca, "site.test");
    ASSERT_TRUE(leaf);
    EXPECT_TRUE(tlstest::VerifiesFor(leaf->CertificatePem(), ca->CertificatePem(), "site.test"));
    EXPECT_FALSE(tlstest::VerifiesFor(leaf->CertificatePem(), other->CertificatePem(), "site.test"));
}

TEST(LocalCa, KeyIsStoredForThisAccountOnlyAndAnExposedOrForeignKeyIsRefused) {
    testsupport::TempFolder dir;
    const tls::CaPaths paths{dir / "Data/https_ca.crt", dir / "Data/https_ca.key"};
    CaLoad status = CaLoad::Ok;
    EXPECT_FALSE(LocalCa::Load(paths, status));
    EXPECT_EQ(status, CaLoad::Missing);

    std::string error;
    auto ca = LocalCa::Create(error);
    ASSERT_TRUE(ca) << error;
    ASSERT_TRUE(ca->Store(paths, error)) << error;
    EXPECT_EQ(fs::status(paths.key).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    for (const auto& entry : fs::directory_iterator(dir / "Data"))
        EXPECT_THAT(entry.path().filename().string(), testing::AnyOf("https_ca.crt", "https_ca.key"));

    auto loaded = LocalCa::Load(paths, status);
    ASSERT_EQ(status, CaLoad::Ok);
    EXPECT_EQ(loaded->CertificatePem(), ca->CertificatePem());
    // The key read back is the CA's: what it signs verifies against the certificate.
    auto leaf = tls::MintLeaf(*loaded, "site.test");
    ASSERT_TRUE(leaf);
    EXPECT_TRUE(tlstest::VerifiesFor(leaf->CertificatePem(), ca->CertificatePem(), "site.test"));

    fs::permissions(paths.key, fs::perms::group_read, fs::perm_options::add);
    EXPECT_FALSE(LocalCa::Load(paths, status));
    EXPECT_EQ(status, CaLoad::KeyExposed);
    fs::permissions(paths.key, fs::perms::owner_read | fs::perms::owner_write);

    // A certificate that does not belong to the key.
    auto stranger = LocalCa::Create(error);
    dir.Write("Data/https_ca.crt", stranger->CertificatePem());
    EXPECT_FALSE(LocalCa::Load(paths, status));
    EXPECT_EQ(status, CaLoad::Invalid);

    EXPECT_TRUE(LocalCa::Remove(paths));
    EXPECT_FALSE(fs::exists(paths.key));
    EXPECT_FALSE(fs::exists(paths.certificate));
    EXPECT_FALSE(LocalCa::Load(paths, status));
    EXPECT_EQ(status, CaLoad::Missing);
}
