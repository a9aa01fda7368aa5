// The reload message every 50 ms while browsers load pages: every request is
// answered as one of the two configurations in force, never as a mixture or
// as none, and the lists that stay the same never lapse during a reload.
#include <gtest/gtest.h>

#include <atomic>
#include <iostream>
#include <thread>

#include "Browser.h"
#include "LoadOrigin.h"
#include "ProxyProcess.h"

using namespace e2e;

namespace {

const std::string kPanel = "<div id=\"e2e-panel\">control panel</div>";

std::string WithPanel(const std::string& page) {
    std::string withPanel = page;
    withPanel.insert(withPanel.find("</head>"), kPanel);
    return withPanel;
}

}  // namespace

TEST(ReloadTest, ReloadEvery50msDuringLoadKeepsEveryAnswerWhole) {
    const int count = ScaledCount("MORVANE_E2E_RELOAD_REQUESTS", 12000, 2000);
    RaiseOpenFileLimit(4096);
    LoadOrigin origin(64);
    ProxyProcess proxy;
    // The switch that flips: the control panel in front of "</head>" or not.
    proxy.folder().Write("Data/Control.html", kPanel);
    // What stays blocked through every reload: a host on the user's black
    // list, a URL with a block word, a URL matching the ad-block rule.
    proxy.folder().Write("Data/user_black.txt", "127.0.0.9\n");
    ASSERT_TRUE(proxy.Start());
    const std::string blockPage = proxy.folder().Read("www/AddressFilter.html");
    const std::string notFoundPage = proxy.folder().Read("www/404.htm");
    const std::string originAt = "127.0.0.1:" + std::to_string(origin.port());

    std::atomic<bool> loadDone{false};
    std::atomic<int> reloads{0}, reloadFailures{0};
    std::thread reloader([&] {
        for (bool panel = true; !loadDone; panel = !panel) {
            proxy.WriteConfig({{"showControl", panel ? "1" : "0"}});
            if (proxy.SendReload())
                ++reloads;
            else
                ++reloadFailures;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });

    std::atomic<int> plainPages{0}, panelPages{0};
    auto blocked = [&](const std::string& target, const std::string& status, const std::string& body) -> std::string {
        Connection c;
        if (!c.Open(proxy.port()) || !c.Send("GET " + target + " HTTP/1.1\r\nHost: x\r\n\r\n")) return target + ": not sent";
        Connection::Read r = c.ReadAll(10000);
        Response answer = ParseResponse(r.bytes);
        if (!r.closed || answer.statusLine != status || answer.body != body)
            return target + ": answered " + answer.statusLine + " with " + std::to_string(answer.body.size()) + " bytes";
        return {};
    };
    LoadStats stats = RunLoad(count, 16, 180000, [&](int i) -> std::string {
        int n = i % kPageVariants;
        switch (i % 6) {
            case 0:
            case 1: {
                Kind kind = i % 6 ? Kind::HtmlGzip : Kind::HtmlChunked;
                Connection c;
                if (!c.Open(proxy.port()) || !c.Send(ProxyGet(origin.port(), PathOf(kind, n)))) return "page not sent";
                Connection::Read r = c.ReadAll(10000);
                Response page = ParseResponse(r.bytes);
                if (!r.closed || page.contentLength != static_cast<long>(page.body.size()))
                    return PathOf(kind, n) + ": incomplete answer " + page.statusLine;
                if (page.body == PageBody(n)) {
                    ++plainPages;
                    return {};
                }
                if (page.body == WithPanel(PageBody(n))) {
                    ++panelPages;
                    return {};
                }
                return PathOf(kind, n) + ": a page of neither configuration (" + std::to_string(page.body.size()) + " bytes)";
            }
            case 2:
                return FetchAndCheck(proxy.port(), origin.port(), Kind::Json, n, "", 10000);
            case 3:
                return blocked("http://127.0.0.9:" + std::to_string(origin.port()) + "/p" + std::to_string(i),
                               "HTTP/1.1 200 OK", blockPage);
            case 4:
                return blocked("http://" + originAt + "/xxx/" + std::to_string(i), "HTTP/1.1 200 OK", blockPage);
            default:
                return blocked("http://" + originAt + "/adbanner/" + std::to_string(i) + ".gif", "HTTP/1.1 404 not found",
                               notFoundPage);
        }
    });
    loadDone = true;
    reloader.join();

    std::cout << "[ figures  ] " << stats.started << " requests in " << stats.seconds << " s with " << reloads
              << " reloads; " << plainPages << " pages without the panel, " << panelPages << " with it\n";
    EXPECT_EQ(stats.started, count);
    EXPECT_EQ(stats.failed, 0) << (stats.failures.empty() ? "" : stats.failures[0]);
    EXPECT_EQ(reloadFailures, 0) << "a reload message was not taken";
    EXPECT_GE(reloads, 10) << "the load ended before the reloads could overlap it";
    EXPECT_GT(plainPages, 0) << "the switch never took effect";
    EXPECT_GT(panelPages, 0) << "the switch never took effect";
    EXPECT_TRUE(proxy.Running());
    EXPECT_EQ(proxy.Stop(10000), 0);
}
