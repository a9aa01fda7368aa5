// The shipped control panel in a real browser: headless Chromium loads a site
// page that carries the panel as the proxy injects it, opens the panel, clicks
// "block", and lands on the confirmation page, while the command reaches the
// user's black list and the proxy's domain check. Screenshots of each step are
// kept in artifacts/ in the test program's build folder. Skipped when Chromium or node
// is missing (MORVANE_CHROMIUM names another browser binary).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include <unistd.h>

#include <sievekit/CProxyConfig.h>

#include "net/CLocalProxy.h"
#include "support/LoopbackClient.h"
#include "support/TempFolder.h"
#include "web/CHttpServer.h"

namespace {

std::string Shipped(const std::string& relative) {
    std::ifstream in(std::string(MORVANE_DATA_DIR) + "/" + relative, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string FindProgram(const char* name) {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        std::filesystem::path candidate = std::filesystem::path(dir) / name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate.string();
    }
    return {};
}

std::string RunAndRead(const std::string& command) {
    std::string out;
    FILE* p = ::popen(command.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    ::pclose(p);
    return out;
}

// A server on its own thread, stopped and joined when it goes.
struct Running {
    Running(uint16_t port, const char* address, const char* root, CLocalProxy* proxy, CProxyConfig& config)
        : server(port, address, root, proxy, config) {
        listening = server.Listen() == 1;
        if (listening) thread = std::thread([this] { server.ServeRequests(); });
    }
    ~Running() {
        server.Stop();
        if (thread.joinable()) thread.join();
    }
    CHttpServer server;
    bool listening = false;
    std::thread thread;
};

}  // namespace

TEST(PanelInBrowserTest, BlockFromThePanelReachesTheProxy) {
    const char* chromiumEnv = std::getenv("MORVANE_CHROMIUM");
    std::string chromium = chromiumEnv ? chromiumEnv : FindProgram("chromium");
    std::string node = FindProgram("node");
    if (chromium.empty() || node.empty()) GTEST_SKIP() << "needs chromium and node on PATH";

    std::filesystem::path artifacts = MORVANE_WEB_ARTIFACT_DIR;
    std::filesystem::create_directories(artifacts);
    testsupport::TempFolder folder(true);
    folder.Write("Data/config.ini", "[Proxy]\nadBlock=0\nwhiteListLock=0\n");
    for (const char* page : {"www/OperationCompleted.html", "www/ShowUnlock.html", "www/param.js"})
        folder.Write(page, Shipped(page));
    CProxyConfig config;
    config.LoadData();
    CLocalProxy proxy(0);

    uint16_t webPort = testsupport::FreeLoopbackPort();
    Running web(webPort, "127.0.0.1", "www", &proxy, config);
    ASSERT_TRUE(web.listening);
    // The site: a page on another loopback address, with the panel and the
    // inject script's data placed before </head> as the proxy places them.
    folder.Write("site/index.html",
                 "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>A site</title>" +
                     Shipped("Data/Control.html") + "<script>window.zelk_data={no_img:'0',web_port:" +
                     std::to_string(webPort) +
                     "};</script></head><body style=\"font:16px sans-serif;margin:40px\"><h1>A site</h1>"
                     "<p>Some page the user is reading.</p></body></html>");
    uint16_t sitePort = testsupport::FreeLoopbackPort();
    Running site(sitePort, "127.0.0.2", "site", nullptr, config);
    ASSERT_TRUE(site.listening);

    DomainStruct d{};
    std::strcpy(d.host, "127.0.0.2");
    ASSERT_FALSE(proxy.domainManager->Exists(d));

    std::string url = "http://127.0.0.2:" + std::to_string(sitePort) + "/index.html";
    std::string out = RunAndRead(node + " " + MORVANE_WEB_TEST_DIR + "/browser/panel_driver.js " + chromium + " " +
                                 url + " " + artifacts.string() + " " + folder.path() + "/profile 2>&1");
    SCOPED_TRACE(out);
    EXPECT_NE(out.find("\"panelFound\":true"), std::string::npos);
    EXPECT_NE(out.find("\"expanded\":\"true\""), std::string::npos);
    EXPECT_NE(out.find("\"href\":\"http://127.0.0.1:" + std::to_string(webPort) + "/zelk.black?url=127.0.0.2\""),
              std::string::npos);
    EXPECT_NE(out.find("127.0.0.2 is on your block list"), std::string::npos) << "the confirmation page";
    EXPECT_EQ(folder.Read("Data/user_black.txt"), "127.0.0.2\n");
    EXPECT_TRUE(proxy.domainManager->Exists(d)) << "the command's reload reached the proxy";
    std::cout << "screenshots: " << (artifacts / "panel-1-page.png").string() << ", panel-2-open.png, panel-3-blocked.png\n";
}
