// A build without TLS refuses to switch HTTPS filtering on and changes
// nothing; switching off still works.
#include <gtest/gtest.h>
#include <sievekit/CProxyConfig.h>

#include "https/HttpsSwitch.h"
#include "support/TempFolder.h"

TEST(HttpsSwitch, IsRefusedWithItsReasonWhenTheBuildHasNoTls) {
    testsupport::TempFolder program(true);
    program.Write("Data/config.ini", "[Proxy]\n");
    CProxyConfig config;
    config.LoadData();
    HttpsSwitchSettings settings;
    // Never the machine's stores, whichever system runs this.
    settings.trust.systemFolder = program / "local";
    settings.trust.systemUpdate = "true";
    settings.trust.browserDatabase = program / "nssdb";
    HttpsSwitchResult on = SwitchHttpsOn(config, settings);
    EXPECT_FALSE(on.ok);
    EXPECT_NE(on.message.find("not available in this build"), std::string::npos) << on.message;
    EXPECT_EQ(config.Config().httpsFilter, 0);
    EXPECT_FALSE(program.Exists(settings.ca.key));
    EXPECT_FALSE(program.Exists(settings.ca.certificate));
    EXPECT_EQ(program.Read("Data/config.ini"), "[Proxy]\n");

    HttpsSwitchResult off = SwitchHttpsOff(config, settings);
    EXPECT_TRUE(off.ok) << off.message;
    EXPECT_EQ(config.Config().httpsFilter, 0);
}
