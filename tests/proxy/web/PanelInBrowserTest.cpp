// The shipped control panel in a real browser: headless Chromium loads a site
// page that carries the panel as the proxy injects it, opens the panel, clicks
// an action, lands on the local server's confirmation page and confirms there,
// while the command reaches the user's list and the proxy's domain check. A
// hostile page then tries every request a page can make the browser send to
// the local server, and changes nothing. Screenshots of each step are kept in
// artifacts/ in the test program's build folder. Skipped when Chromium or node
// is missing (MORVANE_CHROMIUM names another browser binary).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
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

// The shipped pages beside the real local web server, a site on 127.0.0.2
// whose page carries the panel as the proxy injects it, and the browser.
class PanelInBrowserTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* chromiumEnv = std::getenv("MORVANE_CHROMIUM");
        chromium = chromiumEnv ? chromiumEnv : FindProgram("chromium");
        node = FindProgram("node");
        if (chromium.empty() || node.empty()) GTEST_SKIP() << "needs chromium and node on PATH";
        std::filesystem::create_directories(artifacts);
        folder.Write("Data/config.ini", "[Proxy]\nadBlock=0\nwhiteListLock=0\nshowControl=1\nimageMode=0\n");
        for (const char* page : {"www/OperationCompleted.html", "www/ShowUnlock.html", "www/param.js"})
            folder.Write(page, Shipped(page));
        config.LoadData();
        proxy = std::make_unique<CLocalProxy>(0);
        webPort = testsupport::FreeLoopbackPort();
        web = std::make_unique<Running>(webPort, "127.0.0.1", "www", proxy.get(), config);
        ASSERT_TRUE(web->listening);
        // The panel and the inject script's data placed before </head> as
        // the proxy places them.
        folder.Write("site/index.html",
                     "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>A site</title>" +
                         Shipped("Data/Control.html") + "<script>window.zelk_data={no_img:'0',web_port:" +
                         std::to_string(webPort) +
                         "};</script></head><body style=\"font:16px sans-serif;margin:40px\"><h1>A site</h1>"
                         "<p>Some page the user is reading.</p></body></html>");
        sitePort = testsupport::FreeLoopbackPort();
        site = std::make_unique<Running>(sitePort, "127.0.0.2", "site", nullptr, config);
        ASSERT_TRUE(site->listening);
    }
    void TearDown() override {
        site.reset();
        web.reset();
    }

    // Runs the driver: the panel's action, Confirm, then the hostile page.
    std::string Drive(const std::string& action, const std::string& hostileUrl = "") {
        std::string url = "http://127.0.0.2:" + std::to_string(sitePort) + "/index.html";
        return RunAndRead(node + " " + MORVANE_WEB_TEST_DIR + "/browser/panel_driver.js " + chromium + " " + url + " " +
                          artifacts.string() + " " + folder.path() + "/profile " + action + " " + hostileUrl + " 2>&1");
    }
    // Every file under Data/ with its bytes.
    std::map<std::string, std::string> DataFiles() const {
        std::map<std::string, std::string> files;
        for (const auto& entry : std::filesystem::directory_iterator(folder / "Data"))
            files[entry.path().filename().string()] = folder.Read("Data/" + entry.path().filename().string());
        return files;
    }
    // What the proxy's domain check says of the site now.
    DomainStruct Verdict(const char* host) {
        DomainStruct d{};
        std::strcpy(d.host, host);
        proxy->domainManager->Exists(d);
        return d;
    }
    std::string Local(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(webPort) + path; }

    std::string chromium, node;
    std::filesystem::path artifacts = MORVANE_WEB_ARTIFACT_DIR;
    testsupport::TempFolder folder{true};
    CProxyConfig config;
    std::unique_ptr<CLocalProxy> proxy;
    uint16_t webPort = 0, sitePort = 0;
    std::unique_ptr<Running> web, site;
};

}  // namespace

TEST_F(PanelInBrowserTest, BlockFromThePanelReachesTheProxy) {
    ASSERT_FALSE(Verdict("127.0.0.2").blockPage);
    std::string out = Drive("black");
    SCOPED_TRACE(out);
    EXPECT_NE(out.find("\"panelFound\":true"), std::string::npos);
    EXPECT_NE(out.find("\"expanded\":\"true\""), std::string::npos);
    // The click lands on the server's confirmation page, which asks first ...
    EXPECT_NE(out.find("\"confirmation\":{\"href\":\"" + Local("/zelk.black?url=127.0.0.2") + "\""), std::string::npos);
    EXPECT_NE(out.find("Block 127.0.0.2? Its pages will be blocked from now on."), std::string::npos);
    // ... and one more click completes the command.
    EXPECT_NE(out.find("\"answer\":{\"href\":\"" + Local("/zelk.black?url=127.0.0.2") + "\""), std::string::npos);
    EXPECT_NE(out.find("127.0.0.2 is on your block list"), std::string::npos) << "the completion page";
    EXPECT_EQ(folder.Read("Data/user_black.txt"), "127.0.0.2\n");
    EXPECT_TRUE(Verdict("127.0.0.2").blockPage) << "the command's reload reached the proxy";
    std::cout << "screenshots: " << (artifacts / "panel-1-page.png").string()
              << ", panel-2-open.png, panel-3-confirm-black.png, panel-4-done-black.png\n";
}

// The hostile page, on 127.0.0.3, fires at the local server an <img>, a
// <script>, an <iframe>, fetch in no-cors mode (a GET and a POST with a form
// body) and, once they have settled, a form it submits by itself.
TEST_F(PanelInBrowserTest, TrustFromThePanelThenAHostilePageChangesNothing) {
    folder.Write("hostile/index.html",
                 "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Win a prize</title></head><body>"
                 "<h1>Win a prize</h1><form id=\"f\" method=\"POST\" action=\"" + Local("/x.white?url=form-victim.example") +
                     "\"><input type=\"hidden\" name=\"token\" value=\"0123456789abcdef0123456789abcdef\"></form>"
                     "<script>\n"
                     "const W = '" + Local("") + "';\n"
                     "function element(tag, src) {\n"
                     "  return new Promise((done) => {\n"
                     "    const e = document.createElement(tag);\n"
                     "    e.onload = e.onerror = () => done(tag);\n"
                     "    e.src = src;\n"
                     "    document.body.appendChild(e);\n"
                     "  });\n"
                     "}\n"
                     "const attacks = [\n"
                     "  element('img', W + '/x.white?url=img-victim.example'),\n"
                     "  element('img', W + '/x.white?url=com'),\n"
                     "  element('script', W + '/x.black?url=script-victim.example'),\n"
                     "  element('iframe', W + '/x.white?url=frame-victim.example'),\n"
                     "  fetch(W + '/x.noimg?url=fetch-victim.example', {mode: 'no-cors'}),\n"
                     "  fetch(W + '/x.white?url=post-victim.example', {method: 'POST', mode: 'no-cors',\n"
                     "        body: new URLSearchParams({token: '0123456789abcdef0123456789abcdef'})}),\n"
                     "];\n"
                     "addEventListener('load', () => Promise.allSettled(attacks).then(() => document.getElementById('f').submit()));\n"
                     "</script></body></html>");
    uint16_t hostilePort = testsupport::FreeLoopbackPort();
    Running hostile(hostilePort, "127.0.0.3", "hostile", nullptr, config);
    ASSERT_TRUE(hostile.listening);
    ASSERT_FALSE(Verdict("127.0.0.2").white);
    auto expected = DataFiles();
    expected["user_white.txt"] = "127.0.0.2\n";  // the panel's command, and nothing else

    std::string out = Drive("white", "http://127.0.0.3:" + std::to_string(hostilePort) + "/index.html");
    SCOPED_TRACE(out);
    EXPECT_NE(out.find("Trust 127.0.0.2? Its pages will no longer be filtered."), std::string::npos);
    EXPECT_NE(out.find("127.0.0.2 is on your trusted list and is no longer filtered."), std::string::npos);
    EXPECT_EQ(folder.Read("Data/user_white.txt"), "127.0.0.2\n");
    EXPECT_TRUE(Verdict("127.0.0.2").white) << "the command's reload reached the proxy";

    // The hostile page ran: its form's answer is the 404 text, the four
    // requests that named an accepted entry each got a confirmation (and
    // nothing else), and the framed one was never shown.
    EXPECT_NE(out.find("\"hostile\":{\"href\":\"" + Local("/x.white?url=form-victim.example") + "\""), std::string::npos);
    EXPECT_NE(out.find("\"text\":\"Not found.\""), std::string::npos);
    EXPECT_EQ(web->server.OpenConfirmations(), 4u);
    EXPECT_EQ(out.find("\"childFrames\":[\"" + Local("")), std::string::npos) << "the confirmation page was framed";
    EXPECT_NE(out.find("\"childFrames\":[\""), std::string::npos) << "the frame never navigated";
    EXPECT_EQ(DataFiles(), expected);
    EXPECT_EQ(config.Config().imageMode.load(), 0);
    EXPECT_EQ(config.Config().showControl.load(), 1);
    std::cout << "screenshots: " << (artifacts / "panel-3-confirm-white.png").string() << ", hostile-after.png\n";
}
