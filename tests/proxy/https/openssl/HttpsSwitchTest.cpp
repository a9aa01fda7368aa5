// Switching HTTPS filtering on and off against trust stores in test folders:
// the real update-ca-certificates (pointed at folders of the test's own) and
// a private NSS database, never the machine's.
#include <gtest/gtest.h>
#include <sievekit/CProxyConfig.h>

#include <cstdlib>
#include <filesystem>

#include "InterceptServer.h"
#include "TestPki.h"
#include "https/ConnectDecision.h"
#include "https/HttpsPassList.h"
#include "https/HttpsSwitch.h"
#include "https/RefusedHosts.h"
#include "support/TempFolder.h"
#include "tls/LeafCache.h"

namespace fs = std::filesystem;

namespace {

// A program folder with its configuration, and trust stores of its own.
struct SwitchFixture {
    SwitchFixture() {
        program.Write("Data/config.ini", "[Proxy]\n; keep me\nshowControl=0\n");
        stores.Write("etc/.keep", "");
        stores.Write("hooks/.keep", "");
        // One certificate of the "distribution", which must stay trusted.
        stores.Write("share/distribution/root.crt", distribution.ca.certificate);
        stores.Write("ca-certificates.conf", "# the distribution's certificates\ndistribution/root.crt\n");
        const std::string d = stores.path();
        stores.Write("update", "#!/bin/sh\nexec update-ca-certificates --certsconf '" + d + "/ca-certificates.conf' --certsdir '" +
                                   d + "/share' --localcertsdir '" + d + "/local' --etccertsdir '" + d +
                                   "/etc' --hooksdir '" + d + "/hooks' \"$@\"\n");
        fs::permissions(stores / "update", fs::perms::owner_all);
        settings.ca = {program / "Data/https_ca.crt", program / "Data/https_ca.key"};
        settings.trust.systemFolder = stores / "local";
        settings.trust.systemUpdate = stores / "update";
        settings.trust.browserDatabase = stores / "nssdb";
        config.LoadData();
    }
    // The certificate's base64 body, as it stands in a bundle.
    static std::string Body(const std::string& pem) {
        const size_t begin = pem.find('\n') + 1;
        return pem.substr(begin, pem.find("-----END") - begin);
    }
    bool InSystemBundle(const std::string& pem) const {
        return stores.Exists("etc/ca-certificates.crt") && stores.Read("etc/ca-certificates.crt").find(Body(pem)) != std::string::npos;
    }
    // Links in the folder of trusted certificates (names and hashes).
    size_t SystemLinks() const {
        std::error_code ec;
        size_t n = 0;
        for (const auto& e : fs::directory_iterator(stores / "etc", ec)) n += fs::is_symlink(e.symlink_status());
        return n;
    }
    bool SystemLink(const std::string& name) const { return fs::is_symlink(fs::symlink_status(stores / ("etc/" + name))); }
    bool InBrowserDatabase() const {
        return std::system(("certutil -L -d 'sql:" + stores / "nssdb" + "' -n morvane-local-ca > /dev/null 2>&1").c_str()) == 0;
    }
    std::string CaPem() const { return program.Exists("Data/https_ca.crt") ? program.Read("Data/https_ca.crt") : ""; }

    tlstest::TestPki distribution;
    testsupport::TempFolder program{true};
    testsupport::TempFolder stores;
    HttpsSwitchSettings settings;
    CProxyConfig config;
};

}  // namespace

TEST(HttpsSwitch, OnMakesAndTrustsTheCaEverywhereAndOffLeavesNothing) {
    SwitchFixture f;
    HttpsSwitchResult on = SwitchHttpsOn(f.config, f.settings);
    ASSERT_TRUE(on.ok) << on.message;
    const std::string pem = f.CaPem();
    ASSERT_FALSE(pem.empty());
    EXPECT_NE(on.message.find("HTTPS filtering is on"), std::string::npos) << on.message;
    EXPECT_NE(on.message.find(tlstest::ReadFacts(pem).subjectCommonName), std::string::npos) << on.message;
    EXPECT_EQ(fs::status(f.settings.ca.key).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_TRUE(f.InSystemBundle(pem));
    EXPECT_TRUE(f.InSystemBundle(f.distribution.ca.certificate));
    EXPECT_TRUE(f.SystemLink("morvane-local-ca.pem"));
    EXPECT_TRUE(f.InBrowserDatabase());
    EXPECT_EQ(f.config.Config().httpsFilter, 1);
    const std::string saved = f.program.Read("Data/config.ini");
    EXPECT_NE(saved.find("httpsFilter=1"), std::string::npos) << saved;
    EXPECT_NE(saved.find("; keep me\n"), std::string::npos) << saved;

    // Again: the same CA, trusted once.
    ASSERT_TRUE(SwitchHttpsOn(f.config, f.settings).ok);
    EXPECT_EQ(f.CaPem(), pem);
    EXPECT_TRUE(f.InBrowserDatabase());

    HttpsSwitchResult off = SwitchHttpsOff(f.config, f.settings);
    ASSERT_TRUE(off.ok) << off.message;
    EXPECT_NE(off.message.find("HTTPS filtering is off"), std::string::npos) << off.message;
    EXPECT_FALSE(fs::exists(f.settings.ca.key));
    EXPECT_FALSE(fs::exists(f.settings.ca.certificate));
    EXPECT_FALSE(f.InSystemBundle(pem));
    EXPECT_TRUE(f.InSystemBundle(f.distribution.ca.certificate));
    EXPECT_FALSE(f.SystemLink("morvane-local-ca.pem"));
    EXPECT_EQ(f.SystemLinks(), 2u);  // the distribution's certificate and its hash
    EXPECT_FALSE(fs::exists(f.settings.trust.systemFolder + "/morvane-local-ca.crt"));
    EXPECT_FALSE(f.InBrowserDatabase());
    EXPECT_EQ(f.config.Config().httpsFilter, 0);
    EXPECT_NE(f.program.Read("Data/config.ini").find("httpsFilter=0"), std::string::npos);

    // Off when it is off already changes nothing and succeeds.
    EXPECT_TRUE(SwitchHttpsOff(f.config, f.settings).ok);
}

TEST(HttpsSwitch, AStoreThatRefusesLeavesTheMachineAsItWas) {
    SwitchFixture f;
    // A browser database with a password: certutil cannot add to it.
    f.stores.Write("pw", "secret\n");
    ASSERT_EQ(std::system(("mkdir -p '" + f.stores / "nssdb" + "' && certutil -N -d 'sql:" + f.stores / "nssdb" +
                           "' -f '" + f.stores / "pw" + "' > /dev/null 2>&1")
                              .c_str()),
              0);
    HttpsSwitchResult on = SwitchHttpsOn(f.config, f.settings);
    EXPECT_FALSE(on.ok);
    EXPECT_NE(on.message.find("HTTPS filtering stays off"), std::string::npos) << on.message;
    EXPECT_NE(on.message.find("Chromium's certificate database"), std::string::npos) << on.message;
    EXPECT_FALSE(fs::exists(f.settings.ca.key));
    EXPECT_FALSE(fs::exists(f.settings.ca.certificate));
    EXPECT_FALSE(f.SystemLink("morvane-local-ca.pem"));
    EXPECT_FALSE(f.stores.Exists("local/morvane-local-ca.crt"));
    EXPECT_FALSE(f.InBrowserDatabase());
    EXPECT_EQ(f.config.Config().httpsFilter, 0);

    // The system's update failing: the same.
    f.settings.trust.browserDatabase = f.stores / "fresh-nssdb";
    f.settings.trust.systemUpdate = "false";
    on = SwitchHttpsOn(f.config, f.settings);
    EXPECT_FALSE(on.ok);
    EXPECT_NE(on.message.find("the system's certificate store"), std::string::npos) << on.message;
    EXPECT_FALSE(fs::exists(f.settings.ca.key));
    EXPECT_FALSE(f.stores.Exists("local/morvane-local-ca.crt"));
    EXPECT_FALSE(f.stores.Exists("fresh-nssdb/cert9.db"));  // never reached
}

TEST(HttpsSwitch, AKeyOthersCouldReadIsNeverUsedAgain) {
    SwitchFixture f;
    ASSERT_TRUE(SwitchHttpsOn(f.config, f.settings).ok);
    const std::string first = f.CaPem();
    fs::permissions(f.settings.ca.key, fs::perms::others_read, fs::perm_options::add);
    HttpsSwitchResult again = SwitchHttpsOn(f.config, f.settings);
    ASSERT_TRUE(again.ok) << again.message;
    const std::string second = f.CaPem();
    EXPECT_NE(tlstest::ReadFacts(second).subjectCommonName, tlstest::ReadFacts(first).subjectCommonName);
    EXPECT_FALSE(f.InSystemBundle(first));
    EXPECT_TRUE(f.InSystemBundle(second));
    EXPECT_TRUE(f.InBrowserDatabase());
    EXPECT_EQ(fs::status(f.settings.ca.key).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_TRUE(SwitchHttpsOff(f.config, f.settings).ok);
}

TEST(HttpsInterception, ABrowserThatRefusedOurCertificateIsTunnelledNextTime) {
    // The server side reports curl's refusal; the decision then tunnels the host.
    testsupport::TempFolder dir(true);
    std::string error;
    std::shared_ptr<const tls::LocalCa> ca = tls::LocalCa::Create(error);
    ASSERT_TRUE(ca) << error;
    tls::LeafCache leaves(ca);
    RefusedHosts refused(16);
    HttpsPassList none;
    tlstest::InterceptServer server(leaves, [&](const std::string& host, tls::HandshakeStatus status) {
        refused.NoteHandshake(host, status);
    });
    tlstest::TestPki pki;
    dir.Write("other.pem", pki.ca.certificate);
    ASSERT_EQ(DecideConnect(true, none, refused, "app.test"), ConnectHandling::Intercept);
    int status = 0;
    tlstest::RunCommand("curl -sS --max-time 20 --cacert '" + dir / "other.pem" + "' -x http://127.0.0.1:" +
                            std::to_string(server.port()) + " https://app.test/",
                        dir / "curl.out", status);
    EXPECT_NE(status, 0);
    ASSERT_TRUE(server.WaitHandshakes(1));
    EXPECT_EQ(DecideConnect(true, none, refused, "app.test"), ConnectHandling::Tunnel);
}
