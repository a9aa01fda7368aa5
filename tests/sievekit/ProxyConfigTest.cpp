// The stored configuration: what LoadData makes of a file, what Save writes
// back, and the statistics counter.
#include <gtest/gtest.h>

#include <platform/File.h>

#include <string>
#include <vector>

#include "SievekitTestFiles.h"
#include "sievekit/CProxyConfig.h"
#include "support/TempFolder.h"

using testsupport::TempFolder;

namespace {

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
    return n;
}

// The values a configuration takes from an empty folder.
struct Defaults {
    Defaults() { config.LoadData(); }
    TempFolder dir{true};
    CProxyConfig config;
};

const char kEveryKey[] =
    "[Proxy]\n"
    "showControl=0\nwordFilter=0\nimageMode=7\nwhiteListOnly=1\nwordListMode=3\nadBlock=0\n"
    "blockUnlistedHttp=1\nblockUnlistedHttps=1\nintelligentMode=3\njieseTips=1\nxiuShenTips=1\n"
    "proxyPort=9000\nwebPort=9001\nintelligentTipPage=1\nwhiteListLock=1\nblockVideo=1\n"
    "addressFilterPage=0\nhttpsFilter=1\nintelligentValue=45\nlistenAddress=0.0.0.0\nsafeSearch=0\n";

}  // namespace

TEST(ConfigLoading, MissingFileGivesUsableDefaults) {
    Defaults d;
    ProxyData& c = d.config.Config();
    EXPECT_NE(c.wordFilter, 0);
    EXPECT_NE(c.adBlock, 0);
    EXPECT_NE(c.safeSearch, 0);
    EXPECT_EQ(c.whiteListOnly, 0);
    EXPECT_EQ(c.httpsFilter, 0);  // HTTPS is only tunnelled until the user switches filtering on
    EXPECT_NE(c.proxyPort, 0);
    EXPECT_NE(c.webPort, 0);
    EXPECT_NE(c.proxyPort, c.webPort);
    EXPECT_EQ(d.config.getListenAddress(), "127.0.0.1");
    EXPECT_GT(d.config.getIntelligentValue(), 0);
    EXPECT_LE(d.config.getIntelligentValue(), 100);
    EXPECT_FALSE(d.dir.Exists("Data"));  // loading writes nothing
}

TEST(ConfigLoading, EveryKeyIsReadIntoItsField) {
    TempFolder dir(true);
    dir.Write("Data/config.ini", kEveryKey);
    CProxyConfig config;
    config.LoadData();
    const ProxyData& c = config.Config();
    EXPECT_EQ(c.showControl, 0);
    EXPECT_EQ(c.wordFilter, 0);
    EXPECT_EQ(c.imageMode, 7);
    EXPECT_EQ(c.whiteListOnly, 1);
    EXPECT_EQ(c.wordListMode, 3);
    EXPECT_EQ(c.adBlock, 0);
    EXPECT_EQ(c.blockUnlistedHttp, 1);
    EXPECT_EQ(c.blockUnlistedHttps, 1);
    EXPECT_EQ(c.intelligentMode, 3);
    EXPECT_EQ(c.jieseTips, 1);
    EXPECT_EQ(c.xiuShenTips, 1);
    EXPECT_EQ(c.proxyPort, 9000);
    EXPECT_EQ(c.webPort, 9001);
    EXPECT_EQ(c.intelligentTipPage, 1);
    EXPECT_EQ(c.whiteListLock, 1);
    EXPECT_EQ(c.blockVideo, 1);
    EXPECT_EQ(c.addressFilterPage, 0);
    EXPECT_EQ(c.safeSearch, 0);
    EXPECT_EQ(c.httpsFilter, 1);
    EXPECT_EQ(config.getIntelligentValue(), 45);
    EXPECT_EQ(config.getListenAddress(), "0.0.0.0");
}

TEST(ConfigLoading, ByteOrderMarkCrLfBlanksAndOtherSections) {
    TempFolder dir(true);
    dir.Write("Data/config.ini",
              "\xEF\xBB\xBF; comment\r\n[Other]\r\nproxyPort=1111\r\n\r\n[Proxy]\r\n  proxyPort = 9002 \r\n"
              "listenAddress = 127.0.0.5 \r\n[Later]\r\nwebPort=2222\r\n");
    CProxyConfig config;
    config.LoadData();
    EXPECT_EQ(config.Config().proxyPort, 9002);
    EXPECT_EQ(config.getListenAddress(), "127.0.0.5");
    Defaults d;
    EXPECT_EQ(config.Config().webPort, d.config.Config().webPort);  // [Later] is not [Proxy]
}

TEST(ConfigLoading, BadValuesAndRemovedKeysFallBackToDefaults) {
    Defaults d;
    TempFolder dir(true);
    dir.Write("Data/config.ini", kEveryKey);
    CProxyConfig config;
    config.LoadData();
    ASSERT_EQ(config.Config().proxyPort, 9000);

    dir.Write("Data/config.ini",
              "[Proxy]\nshowControl=abc\nwordFilter=\nimageMode=1x\nproxyPort=70000\nwebPort=-5\n"
              "intelligentValue=250\nlistenAddress=\nwhiteListOnly=99999999999\n");
    config.LoadData();
    const ProxyData& c = config.Config();
    const ProxyData& def = d.config.Config();
    EXPECT_EQ(c.showControl, def.showControl);
    EXPECT_EQ(c.wordFilter, def.wordFilter);
    EXPECT_EQ(c.imageMode, def.imageMode);
    EXPECT_EQ(c.proxyPort, def.proxyPort);
    EXPECT_EQ(c.webPort, def.webPort);
    EXPECT_EQ(c.whiteListOnly, def.whiteListOnly);
    EXPECT_EQ(config.getIntelligentValue(), d.config.getIntelligentValue());
    EXPECT_EQ(config.getListenAddress(), "127.0.0.1");
    // Keys that vanished from the file since the last load.
    EXPECT_EQ(c.adBlock, def.adBlock);
    EXPECT_EQ(c.blockVideo, def.blockVideo);
    EXPECT_EQ(c.addressFilterPage, def.addressFilterPage);
    EXPECT_EQ(c.safeSearch, def.safeSearch);
    EXPECT_EQ(c.httpsFilter, def.httpsFilter);
}

TEST(ConfigLoading, NumbersAtAndBeyondThe32BitLimitsReadAlikeOnEverySystem) {
    // Windows' long is 32 bits: a number read through it would clamp into
    // range there and be taken, where it falls back to the default here.
    Defaults d;
    TempFolder dir(true);
    dir.Write("Data/config.ini",
              "[Proxy]\nshowControl=2147483647\nwordFilter=-2147483648\nimageMode=2147483648\n"
              "whiteListOnly=-2147483649\nadBlock=-99999999999\nintelligentValue=4294967326\n"
              "proxyPort=4294967297\n");
    dir.Write("Data/stats.ini", "[Stats]\nfilterCount=3000000000\n");
    CProxyConfig config;
    config.LoadData();
    const ProxyData& c = config.Config();
    const ProxyData& def = d.config.Config();
    EXPECT_EQ(c.showControl, 2147483647);
    EXPECT_EQ(c.wordFilter, -2147483647 - 1);
    EXPECT_EQ(c.imageMode, def.imageMode);
    EXPECT_EQ(c.whiteListOnly, def.whiteListOnly);
    EXPECT_EQ(c.adBlock, def.adBlock);
    EXPECT_EQ(config.getIntelligentValue(), d.config.getIntelligentValue());
    EXPECT_EQ(c.proxyPort, def.proxyPort);
    EXPECT_EQ(config.filterCount(), 3000000000u);
}

TEST(ConfigLoading, ListenAddressMustBeANumericIpv4Address) {
    TempFolder dir(true);
    CProxyConfig config;
    struct Case {
        const char* value;
        const char* expected;
    };
    const Case cases[] = {
        {"0.0.0.0", "0.0.0.0"},           {"192.168.1.20", "192.168.1.20"}, {"127.0.0.2", "127.0.0.2"},
        {"localhost", "127.0.0.1"},       {"127.0.0.300", "127.0.0.1"},      {"1.2.3", "127.0.0.1"},
        {"1.2.3.4.5", "127.0.0.1"},       {"1..3.4", "127.0.0.1"},           {"1.2.3.4x", "127.0.0.1"},
        {"-1.2.3.4", "127.0.0.1"},        {"01234.1.1.1", "127.0.0.1"},      {"::1", "127.0.0.1"},
    };
    for (const auto& c : cases) {
        dir.Write("Data/config.ini", std::string("[Proxy]\nlistenAddress=") + c.value + "\n");
        config.LoadData();
        EXPECT_EQ(config.getListenAddress(), c.expected) << c.value;
    }
}

TEST(ConfigSaving, KeepsUnknownKeysSectionsAndCommentsAndRoundTrips) {
    TempFolder dir(true);
    dir.Write("Data/config.ini",
              "; top comment\n[Other]\nfoo=bar\n[Proxy]\n; about ports\nproxyPort=9000\ncustomKey=keep me\n"
              "imageMode=1\n\n[Tail]\nx=1\n");
    CProxyConfig config;
    config.LoadData();
    config.Config().imageMode = 2;
    config.Config().showControl = 0;
    ASSERT_TRUE(config.Save());

    const std::string saved = dir.Read("Data/config.ini");
    for (const char* kept : {"; top comment\n[Other]\nfoo=bar\n[Proxy]\n; about ports\n", "customKey=keep me\n",
                             "[Tail]\nx=1\n"})
        EXPECT_NE(saved.find(kept), std::string::npos) << kept << "\n--- in ---\n" << saved;
    EXPECT_EQ(Count(saved, "imageMode="), 1u) << saved;
    EXPECT_EQ(Count(saved, "proxyPort="), 1u) << saved;
    for (const auto& name : sievetest::FolderEntries(dir / "Data"))
        EXPECT_TRUE(name == "config.ini" || name == "stats.ini") << "left behind: " << name;

    CProxyConfig reread;
    reread.LoadData();
    EXPECT_EQ(reread.Config().imageMode, 2);
    EXPECT_EQ(reread.Config().showControl, 0);  // added keys land in [Proxy], not [Tail]
    EXPECT_EQ(reread.Config().proxyPort, 9000);
    EXPECT_EQ(reread.getListenAddress(), "127.0.0.1");
}

TEST(ConfigSaving, CreatesTheFileAndFailsCleanlyWhereItCannotWrite) {
    {
        TempFolder dir(true);
        dir.Write("Data/keep", "");
        CProxyConfig config;
        config.LoadData();
        config.Config().webPort = 9100;
        ASSERT_TRUE(config.Save());
        CProxyConfig reread;
        reread.LoadData();
        EXPECT_EQ(reread.Config().webPort, 9100);
    }
    {
        TempFolder dir(true);  // no Data folder at all
        CProxyConfig config;
        config.LoadData();
        EXPECT_FALSE(config.Save());
    }
    {
        TempFolder dir(true);
        dir.Write("Data/config.ini/keep", "");  // a folder stands where the file should be
        CProxyConfig config;
        config.LoadData();
        EXPECT_FALSE(config.Save());
        EXPECT_TRUE(dir.Exists("Data/config.ini/keep"));
        auto names = sievetest::FolderEntries(dir / "Data");
        EXPECT_EQ(Count(testing::PrintToString(names), ".tmp"), 0u) << testing::PrintToString(names);
    }
}

TEST(ConfigStatistics, CounterIsReadOnceAndStoredBySaveAndAtTheEnd) {
    TempFolder dir(true);
    dir.Write("Data/config.ini", "[Proxy]\n");
    dir.Write("Data/stats.ini", "[Stats]\nfilterCount=10\n");
    {
        CProxyConfig config;
        config.LoadData();
        config.addFilterCount(5);
        config.LoadData();  // a reload must neither lose the 5 nor count the 10 twice
        EXPECT_EQ(config.filterCount(), 15u);
        ASSERT_TRUE(config.Save());
        CProxyConfig other;
        other.LoadData();
        EXPECT_EQ(other.filterCount(), 15u);
        config.addFilterCount(3);
    }  // the end of the process's configuration stores the last count
    CProxyConfig after;
    after.LoadData();
    EXPECT_EQ(after.filterCount(), 18u);
}

// A save killed half way leaves "<file>.tmp.<pid>.<n>" behind. The first load
// of the configuration clears such files of processes that no longer run,
// and nothing else.
TEST(ConfigLoading, FirstLoadRemovesTemporaryFilesOfInterruptedSaves) {
    TempFolder dir(true);
    const std::string dead = "999999999";  // beyond any process id the system hands out
    // This test program runs (another copy found by name might end meanwhile).
    const std::string alive = std::to_string(platform::CurrentProcessNumber());
    const std::vector<std::string> leftovers = {"user_black.txt.tmp." + dead + ".3", "config.ini.tmp." + dead + ".1",
                                                "stats.ini.tmp." + dead + ".12"};
    const std::vector<std::string> others = {
        "user_black.txt",        "user_black.txt.tmp." + alive + ".2",  // a save going on right now
        "notes.tmp",             "user_black.txt.tmp.12x.1",
        "photo.jpg.tmp." + dead + ".1", "user_black.txt.tmp." + dead + ".1.bak",
        ".txt.tmp." + dead + ".1",      "user_white.txt.tmp." + dead};
    for (const auto& name : leftovers) dir.Write("Data/" + name, "half");
    for (const auto& name : others) dir.Write("Data/" + name, "keep");
    dir.Write("Data/sub/user_black.txt.tmp." + dead + ".1", "keep");

    CProxyConfig config;
    config.LoadData();
    for (const auto& name : leftovers) EXPECT_FALSE(dir.Exists("Data/" + name)) << name;
    for (const auto& name : others) EXPECT_EQ(dir.Read("Data/" + name), "keep") << name;
    EXPECT_TRUE(dir.Exists("Data/sub/user_black.txt.tmp." + dead + ".1"));

    // Later loads (a reload message) leave the folder alone.
    dir.Write("Data/" + leftovers[0], "half");
    config.LoadData();
    EXPECT_TRUE(dir.Exists("Data/" + leftovers[0]));
}
