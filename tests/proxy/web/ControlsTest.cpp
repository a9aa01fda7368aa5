// The control commands on a real data folder: what each one stores in the
// user's lists and configuration.
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <sievekit/CProxyConfig.h>

#include "support/TempFolder.h"
#include "web/ControlRegistry.h"

namespace {

std::set<std::string> Lines(const std::string& text) {
    std::set<std::string> out;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        if (end > start) out.insert(text.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

// A data folder of its own, the working directory for the test's life.
class ControlsTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder.Write("Data/config.ini", "[Proxy]\nshowControl=1\nimageMode=0\nwhiteListLock=0\nmyOwnKey=7\n");
        config.LoadData();
        registry = std::make_unique<ControlRegistry>(config);
    }
    std::set<std::string> List(const std::string& file) {
        return folder.Exists("Data/" + file) ? Lines(folder.Read("Data/" + file)) : std::set<std::string>{};
    }
    // What a fresh start of the program would read.
    int Stored(ConfigInt ProxyData::*field) {
        CProxyConfig fresh;
        fresh.LoadData();
        return (fresh.Config().*field).load();
    }

    testsupport::TempFolder folder{true};
    CProxyConfig config;
    std::unique_ptr<ControlRegistry> registry;
};

}  // namespace

TEST_F(ControlsTest, BlackAddsTheHostAndStoresTheList) {
    EXPECT_TRUE(registry->Dispatch(".black", "bad.example"));
    EXPECT_EQ(List("user_black.txt"), (std::set<std::string>{"bad.example"}));
    // The same host again: stored once, the command still counts as run.
    EXPECT_TRUE(registry->Dispatch(".black", "bad.example"));
    EXPECT_EQ(List("user_black.txt"), (std::set<std::string>{"bad.example"}));
    EXPECT_TRUE(List("user_white.txt").empty());
}

TEST_F(ControlsTest, AnEditMadeElsewhereSinceStartIsKept) {
    ASSERT_TRUE(registry->Dispatch(".black", "first.example"));
    // The settings program rewrites the list while the server runs.
    folder.Write("Data/user_black.txt", "first.example\nfromsettings.example\n");
    ASSERT_TRUE(registry->Dispatch(".black", "second.example"));
    EXPECT_EQ(List("user_black.txt"),
              (std::set<std::string>{"first.example", "fromsettings.example", "second.example"}));
}

TEST_F(ControlsTest, AbsentOrEmptyParameterAddsNothing) {
    EXPECT_TRUE(registry->Dispatch(".black", nullptr));
    EXPECT_TRUE(registry->Dispatch(".black", ""));
    EXPECT_TRUE(registry->Dispatch(".white", nullptr));
    EXPECT_TRUE(registry->Dispatch(".filterimage", nullptr));
    EXPECT_TRUE(registry->Dispatch(".filterimage", ""));
    EXPECT_TRUE(List("user_black.txt").empty());
    EXPECT_TRUE(List("user_white.txt").empty());
    EXPECT_TRUE(List("manual_image.txt").empty());
}

TEST_F(ControlsTest, WhiteObeysTheLock) {
    config.Config().whiteListLock = 1;
    EXPECT_TRUE(registry->Dispatch(".white", "locked.example"));
    EXPECT_TRUE(List("user_white.txt").empty());
    config.Config().whiteListLock = 2;  // any non-zero value locks
    EXPECT_TRUE(registry->Dispatch(".white", "locked.example"));
    EXPECT_TRUE(List("user_white.txt").empty());
    config.Config().whiteListLock = 0;
    EXPECT_TRUE(registry->Dispatch(".white", "good.example"));
    EXPECT_EQ(List("user_white.txt"), (std::set<std::string>{"good.example"}));
}

TEST_F(ControlsTest, NoImgSetsTheImageModeEvenWithoutAHost) {
    EXPECT_TRUE(registry->Dispatch(".noimg", nullptr));
    EXPECT_EQ(config.Config().imageMode.load(), 2);
    EXPECT_EQ(Stored(&ProxyData::imageMode), 2);
    EXPECT_TRUE(List("user_noimage.txt").empty());
    EXPECT_NE(folder.Read("Data/config.ini").find("myOwnKey=7"), std::string::npos) << "unknown keys are kept";

    config.Config().imageMode = 1;
    EXPECT_TRUE(registry->Dispatch(".noimg", "pics.example"));
    EXPECT_EQ(Stored(&ProxyData::imageMode), 2);
    EXPECT_EQ(List("user_noimage.txt"), (std::set<std::string>{"pics.example"}));
}

TEST_F(ControlsTest, FilterImageDecodesGb2312PercentEscapes) {
    // "图片" in GB2312, percent-encoded; the list stores UTF-8.
    EXPECT_TRUE(registry->Dispatch(".filterimage", "img.example/%CD%BC%C6%AC/ad+1.gif"));
    EXPECT_EQ(List("manual_image.txt"), (std::set<std::string>{"img.example/\xE5\x9B\xBE\xE7\x89\x87/ad 1.gif"}));
}

TEST_F(ControlsTest, CloseTurnsThePanelOffWhateverTheParameter) {
    EXPECT_TRUE(registry->Dispatch(".close", "anything"));
    EXPECT_EQ(config.Config().showControl.load(), 0);
    EXPECT_EQ(Stored(&ProxyData::showControl), 0);
    config.Config().showControl = 1;
    EXPECT_TRUE(registry->Dispatch(".close", nullptr));
    EXPECT_EQ(Stored(&ProxyData::showControl), 0);
}

TEST_F(ControlsTest, OnlyExactLowerCaseSuffixesAreCommands) {
    for (const char* suffix : {"", ".html", ".BLACK", ".blackx", ".black.html", "black", ".noimg ", ".closed"}) {
        EXPECT_FALSE(registry->Dispatch(suffix, "x.example")) << suffix;
    }
    EXPECT_TRUE(List("user_black.txt").empty());
    EXPECT_EQ(Stored(&ProxyData::showControl), 1);
}

TEST_F(ControlsTest, DispatchConcurrencyLosesNoEntry) {
    // Each command reloads, adds and stores the whole list: unserialised,
    // one command's store would drop another's entry.
    constexpr int kThreads = 8, kPerThread = 10;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([this, t] {
            for (int i = 0; i < kPerThread; ++i) {
                std::string host = "h" + std::to_string(t) + "-" + std::to_string(i) + ".example";
                registry->Dispatch(t % 2 ? ".black" : ".noimg", host.c_str());
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(List("user_black.txt").size(), size_t(kThreads / 2 * kPerThread));
    EXPECT_EQ(List("user_noimage.txt").size(), size_t(kThreads / 2 * kPerThread));
}
