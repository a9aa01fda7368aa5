#pragma once

#include <gtest/gtest.h>

#include <sievekit/CProxyConfig.h>

#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "net/CLocalProxy.h"
#include "net/HostResolver.h"
#include "support/FakeOrigin.h"
#include "support/LoopbackClient.h"
#include "support/TempFolder.h"

// Names under ".test" reach this machine, except "nowhere.test", which does
// not resolve; anything else goes to the system resolver (numeric addresses).
class TestResolver : public IHostResolver {
public:
    std::vector<uint32_t> Resolve(const std::string& host) const override {
        if (host == "nowhere.test") return {};
        if (host.size() > 5 && host.compare(host.size() - 5, 5, ".test") == 0) return {testsupport::Ipv4("127.0.0.1")};
        return SystemHostResolver::Instance().Resolve(host);
    }
};

// The real listener on a free loopback port, in a data folder of the test's
// own, with a fake origin to forward to.
class PipelineTest : public ::testing::Test {
protected:
    static constexpr const char* kNotFoundBody = "<p>not found</p>";
    static constexpr const char* kBlockBody = "<p>blocked</p>";
    static constexpr const char* kTipBody = "<p>too many bad links</p>";

    void SetUp() override {
        folder_ = std::make_unique<testsupport::TempFolder>(true);
        folder_->Write("www/404.htm", kNotFoundBody);
        folder_->Write("www/AddressFilter.html", kBlockBody);
        folder_->Write("www/IntellFilterTip.html", kTipBody);
        folder_->Write("Data/block_words.txt", "badword\n色情\n");
        folder_->Write("Data/exempt_words.txt", "goodcontext\n");
        folder_->Write("Data/black_domains.txt", "blocked.test\n");
        folder_->Write("Data/white_domains.txt", "trusted.test\n");
        folder_->Write("Data/easylistchina.txt", "[Adblock Plus 2.0]\n/adbanner/\n");
        // Pages come back without tips, panel or script unless a test asks.
        folder_->Write("Data/Inject.zelk", "");
        folder_->Write("Data/Control.html", "");
    }

    void TearDown() override {
        if (proxy_) proxy_->Stop();
        if (serving_.joinable()) serving_.join();
        proxy_.reset();
    }

    // Writes the configuration (the test's keys first: the first of a key
    // wins) and starts; names are resolved by `resolver`, else by resolver_.
    void Start(const std::string& extraConfig = "", const IHostResolver* resolver = nullptr) {
        folder_->Write("Data/config.ini", "[Proxy]\n" + extraConfig +
                                              "showControl=0\njieseTips=0\nxiuShenTips=0\nimageMode=0\n"
                                              "intelligentValue=50\n");
        ProxyConfig().LoadData();
        port_ = testsupport::FreeLoopbackPort();
        proxy_ = std::make_unique<CLocalProxy>(port_);
        proxy_->dialer.resolver = resolver ? resolver : &resolver_;
        proxy_->limits = limits_;
        ASSERT_EQ(proxy_->Listen(), 1);
        serving_ = std::thread([this] { proxy_->AcceptLoop(); });
    }

    // Sends the bytes as one browser connection and reads the answer until
    // the proxy closes it.
    std::string Exchange(const std::string& request, int timeoutMs = 5000) {
        testsupport::LoopbackClient browser;
        if (!browser.Connect(port_)) return "<no connection>";
        browser.SendAll(request);
        bool timedOut = false;
        std::string answer = browser.ReadUntilClosed(timeoutMs, &timedOut);
        if (timedOut) ADD_FAILURE() << "the proxy did not close the connection";
        return answer;
    }

    std::string Get(const testsupport::FakeOrigin& origin, const std::string& path, const std::string& host = "127.0.0.1") {
        std::string target = "http://" + host + ":" + std::to_string(origin.port()) + path;
        return Exchange("GET " + target + " HTTP/1.1\r\nHost: " + host + "\r\nAccept: */*\r\n\r\n");
    }

    static std::string Head(const std::string& response) { return response.substr(0, response.find("\r\n\r\n") + 4); }
    static std::string Body(const std::string& response) {
        size_t end = response.find("\r\n\r\n");
        return end == std::string::npos ? std::string() : response.substr(end + 4);
    }
    static long ContentLength(const std::string& response) {
        size_t at = Head(response).find("Content-Length: ");
        return at == std::string::npos ? -1 : std::stol(response.substr(at + 16));
    }

    TestResolver resolver_;
    Limits limits_;  // what Start gives the proxy
    std::unique_ptr<testsupport::TempFolder> folder_;
    std::unique_ptr<CLocalProxy> proxy_;
    std::thread serving_;
    uint16_t port_ = 0;
};

// A page of `total` anchors, the first `bad` of which carry a block word.
inline std::string PageWithAnchors(int total, int bad, const std::string& title = "Fine") {
    std::string page = "<html><head><title>" + title + "</title></head><body>";
    for (int i = 0; i < total; ++i)
        page += "<a href=\"/" + std::to_string(i) + "\">" + (i < bad ? "badword " : "link ") + std::to_string(i) + "</a>\n";
    return page + "</body></html>";
}

// `data` in chunks of `piece` bytes, with the last chunk.
inline std::string Chunked(const std::string& data, size_t piece) {
    std::string out;
    char size[32];
    for (size_t at = 0; at < data.size(); at += piece) {
        std::string part = data.substr(at, piece);
        std::snprintf(size, sizeof size, "%zx\r\n", part.size());
        out += size + part + "\r\n";
    }
    return out + "0\r\n\r\n";
}

inline std::string HtmlResponse(const std::string& body) {
    return "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\n\r\n" + body;
}
