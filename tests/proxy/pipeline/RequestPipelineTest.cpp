// Requests through the real listener: what reaches the origin, the block
// answers, tunnels, uploads and the reload message.
#include <platform/Socket.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>

#include "PipelineFixture.h"
#include "pipeline/ConnectionWorker.h"

namespace {
const std::string kEmptyImage =
    "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\nConnection: close\r\nContent-Length: 0\r\n\r\n";
}

TEST_F(PipelineTest, OriginReceivesTheRewrittenRequest) {
    testsupport::FakeOrigin origin("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 2\r\n\r\nok");
    Start();
    std::string p = std::to_string(origin.port());
    std::string answer = Exchange("GET http://127.0.0.1:" + p + "/a/b?c=1 HTTP/1.0\r\nHost: 127.0.0.1:" + p +
                                  "\r\nProxy-Connection: keep-alive\r\nAccept-Encoding: gzip, deflate, br\r\n\r\n");
    EXPECT_EQ(answer, "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 2\r\n\r\nok");
    EXPECT_EQ(origin.WaitRequest(0), "GET /a/b?c=1 HTTP/1.1\r\nHost: 127.0.0.1:" + p +
                                         "\r\nConnection: close\r\nAccept-Encoding: gzip\r\n\r\n");
}

TEST_F(PipelineTest, BlockedRequestsGetTheirAnswerAndNeverReachTheOrigin) {
    testsupport::FakeOrigin origin;
    folder_->Write("Data/manual_image.txt", "/ads/pixel\n");
    Start("addressFilterPage=1\n");
    std::string p = std::to_string(origin.port());
    // The manual image filter answers with the empty image whatever else holds.
    EXPECT_EQ(Exchange("GET http://127.0.0.1:" + p + "/ads/pixel.gif HTTP/1.1\r\n\r\n"), kEmptyImage);
    // A listed domain gets the block page, or the not-found page when that is off.
    EXPECT_EQ(Body(Exchange("GET http://www.blocked.test/ HTTP/1.1\r\n\r\n")), kBlockBody);
    // A keyword in the URL, percent-encoded as UTF-8 and as GB2312.
    EXPECT_EQ(Body(Exchange("GET http://127.0.0.1:" + p + "/%E8%89%B2%E6%83%85 HTTP/1.1\r\n\r\n")), kBlockBody);
    EXPECT_EQ(Body(Exchange("GET http://127.0.0.1:" + p + "/%C9%AB%C7%E9 HTTP/1.1\r\n\r\n")), kBlockBody);
    // An ad-block rule.
    std::string ad = Exchange("GET http://127.0.0.1:" + p + "/adbanner/x.js HTTP/1.1\r\n\r\n");
    EXPECT_EQ(ad.rfind("HTTP/1.1 404 not found\r\n", 0), 0u) << ad;
    ProxyConfig().Config().addressFilterPage = 0;
    EXPECT_EQ(Body(Exchange("GET http://blocked.test/ HTTP/1.1\r\n\r\n")), kNotFoundBody);
    EXPECT_EQ(origin.RequestCount(), 0u);
}

TEST_F(PipelineTest, WhiteListOnlyBlocksEachKindOfRequestByItsOwnSwitch) {
    testsupport::FakeOrigin origin("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
    Start("whiteListOnly=1\nblockUnlistedHttp=0\nblockUnlistedHttps=1\n");
    std::string p = std::to_string(origin.port());
    EXPECT_EQ(Exchange("GET http://127.0.0.1:" + p + "/ HTTP/1.1\r\n\r\n"), "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
    std::string tunnel = Exchange("CONNECT 127.0.0.1:" + p + " HTTP/1.1\r\n\r\n");
    EXPECT_EQ(tunnel.rfind("HTTP/1.1 404 not found", 0), 0u) << tunnel;
    // A trusted site passes either way.
    testsupport::LoopbackClient browser;
    ASSERT_TRUE(browser.Connect(port_));
    browser.SendAll("CONNECT trusted.test:" + p + " HTTP/1.1\r\n\r\n");
    std::string trusted = browser.ReadUntilClosed(300);
    EXPECT_EQ(trusted.rfind("HTTP/1.1 200 Connection established\r\n", 0), 0u) << trusted;
    browser.Close();
    ProxyConfig().Config().blockUnlistedHttp = 1;
    EXPECT_EQ(Body(Exchange("GET http://127.0.0.1:" + p + "/ HTTP/1.1\r\n\r\n")), kNotFoundBody);
}

// A tunnel is checked by the ad-block engine as "https://<host>/": a domain
// rule refuses it with the answer of any blocked request, an exception and a
// path rule let it through.
TEST_F(PipelineTest, AdBlockDomainRulesRefuseTunnels) {
    testsupport::FakeOrigin origin;
    folder_->Write("Data/easylistchina.txt", "||ads.test^\n@@||ok.ads.test^\n/adbanner/\n");
    Start();
    std::string p = std::to_string(origin.port());
    std::string refused = Exchange("CONNECT ads.test:" + p + " HTTP/1.1\r\nHost: ads.test:" + p + "\r\n\r\n");
    EXPECT_EQ(refused.rfind("HTTP/1.1 404 not found\r\n", 0), 0u) << refused;
    EXPECT_EQ(Body(refused), kNotFoundBody);
    EXPECT_EQ(origin.RequestCount(), 0u);
    for (std::string host : {"ok.ads.test", "adbanner.test"}) {
        testsupport::LoopbackClient browser;
        ASSERT_TRUE(browser.Connect(port_));
        browser.SendAll("CONNECT " + host + ":" + p + " HTTP/1.1\r\n\r\n");
        std::string answer = browser.ReadUntil("\r\n\r\n", 3000);
        EXPECT_EQ(answer.rfind("HTTP/1.1 200 Connection established\r\n", 0), 0u) << host << ": " << answer;
    }
}

TEST_F(PipelineTest, ConnectTunnelsBytesBothWaysAndLowerCaseConnectIsForwarded) {
    testsupport::FakeOrigin origin;
    // An echo origin: whatever arrives goes back, with every byte value.
    origin.SetResponder([](platform::Socket fd, const std::string& first) {
        testsupport::FakeOrigin::SendAll(fd, first);
        char buf[4096];
        for (;;) {
            int n = platform::RecvSome(fd, buf, sizeof buf).rc;
            if (n <= 0) return;
            testsupport::FakeOrigin::SendAll(fd, std::string(buf, static_cast<size_t>(n)));
        }
    });
    Start();
    std::string p = std::to_string(origin.port());
    testsupport::LoopbackClient browser;
    ASSERT_TRUE(browser.Connect(port_));
    ASSERT_TRUE(browser.SendAll("CONNECT 127.0.0.1:" + p + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
    const std::string established = "HTTP/1.1 200 Connection established\r\nProxy-agent: Vantrel /0.2\r\n\r\n";
    std::string payload = "GET / HTTP/1.1\r\n\r\n";
    for (int i = 0; i < 70000; ++i) payload.push_back(static_cast<char>(i * 7));
    std::string got;
    char buf[65536];
    while (got.size() < established.size()) {
        int n = platform::RecvSome(browser.fd(), buf, sizeof buf).rc;
        ASSERT_GT(n, 0);
        got.append(buf, static_cast<size_t>(n));
    }
    EXPECT_EQ(got, established);
    ASSERT_TRUE(browser.SendAll(payload));
    got.clear();
    while (got.size() < payload.size()) {
        int n = platform::RecvSome(browser.fd(), buf, sizeof buf).rc;
        ASSERT_GT(n, 0);
        got.append(buf, static_cast<size_t>(n));
    }
    EXPECT_EQ(got, payload);
    browser.Close();  // one side closing ends the whole tunnel
    EXPECT_TRUE(testsupport::WaitFor([&] { return proxy_->connections.LiveCount() == 0; }, 3000));

    testsupport::FakeOrigin plain("HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nx");
    EXPECT_EQ(Exchange("connect http://127.0.0.1:" + std::to_string(plain.port()) + "/ HTTP/1.1\r\n\r\n"),
              "HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nx");
    EXPECT_EQ(plain.WaitRequest(0).rfind("connect / HTTP/1.1\r\n", 0), 0u) << plain.WaitRequest(0);
}

TEST_F(PipelineTest, UploadLargerThanOneReceiveReachesTheOriginWhole) {
    testsupport::FakeOrigin origin("HTTP/1.1 201 Created\r\nContent-Length: 0\r\n\r\n");
    Start();
    std::string body;
    for (int i = 0; i < 200000; ++i) body.push_back(static_cast<char>('a' + i % 26));
    std::string head = "POST http://127.0.0.1:" + std::to_string(origin.port()) +
                       "/up HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n";
    testsupport::LoopbackClient browser;
    ASSERT_TRUE(browser.Connect(port_));
    ASSERT_TRUE(browser.SendAll(head + body.substr(0, 1000)));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(browser.SendAll(body.substr(1000)));
    std::string received = origin.WaitRequest(0, 5000);
    EXPECT_EQ(Body(received), body);
    browser.ShutdownSend();  // the browser is done: the relay ends
    EXPECT_EQ(browser.ReadUntilClosed(3000), "HTTP/1.1 201 Created\r\nContent-Length: 0\r\n\r\n");
}

TEST_F(PipelineTest, RequestHeaderSplitAcrossReceivesIsServed) {
    testsupport::FakeOrigin origin("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
    Start();
    testsupport::LoopbackClient browser;
    ASSERT_TRUE(browser.Connect(port_));
    ASSERT_TRUE(browser.SendAll("GET http://127.0.0.1:" + std::to_string(origin.port()) + "/ HTTP/1.1\r\n\r"));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(browser.SendAll("\n"));
    EXPECT_EQ(browser.ReadUntilClosed(3000), "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
}

TEST_F(PipelineTest, ReloadMessagePicksUpChangedConfigurationAndLists) {
    testsupport::FakeOrigin origin("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
    Start("addressFilterPage=1\n");
    std::string p = std::to_string(origin.port());
    const std::string keywordUrl = "GET http://127.0.0.1:" + p + "/badword HTTP/1.1\r\n\r\n";
    ASSERT_EQ(Body(Exchange(keywordUrl)), kBlockBody);

    folder_->Write("Data/config.ini", "[Proxy]\nwordFilter=0\nadBlock=0\naddressFilterPage=1\n");
    folder_->Write("Data/user_black.txt", "newly.test\n");
    folder_->Write("Data/user_block_words.txt", "freshword\n");
    EXPECT_EQ(Exchange("ZELK_UPDATE"), "") << "the reload message gets no reply";
    EXPECT_EQ(ProxyConfig().Config().wordFilter.load(), 0);
    EXPECT_EQ(Exchange(keywordUrl), "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
    EXPECT_EQ(Body(Exchange("GET http://newly.test/ HTTP/1.1\r\n\r\n")), kBlockBody);
    EXPECT_FALSE(proxy_->adFilter->IsLoaded());
    EXPECT_TRUE(proxy_->blockFilter->HasWord(std::string("a freshword b")));

    // The marker followed by a line end is the start of a request, not a reload.
    EXPECT_EQ(Exchange("ZELK_UPDATE\r\n\r\n"), "");
    EXPECT_EQ(ProxyConfig().Config().wordFilter.load(), 0);
}

// With the proxy on 0.0.0.0 another machine reaches the proxy port; its
// "ZELK_UPDATE" must not make the proxy reload. The test accepts the
// connection as the listener does and says the peer was 192.0.2.7.
TEST_F(PipelineTest, ReloadMessageFromAnotherMachineStartsAnOrdinaryRequest) {
    testsupport::FakeOrigin origin("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
    folder_->Write("Data/config.ini", "[Proxy]\nwordFilter=1\nadBlock=0\n");
    ProxyConfig().LoadData();
    port_ = testsupport::FreeLoopbackPort();
    proxy_ = std::make_unique<CLocalProxy>(port_);
    proxy_->dialer.resolver = &resolver_;
    ASSERT_EQ(proxy_->Listen(), 1);
    folder_->Write("Data/config.ini", "[Proxy]\nwordFilter=0\nadBlock=0\n");  // what a reload would pick up

    testsupport::LoopbackClient remote;
    ASSERT_TRUE(remote.Connect(port_));
    platform::Socket accepted;
    uint32_t peer;
    ASSERT_NE(proxy_->AcceptFrom(accepted, peer), platform::kInvalidSocket);
    EXPECT_TRUE(platform::IsLoopbackIPv4(peer)) << "the accept tells the peer";
    EXPECT_FALSE(platform::IsLoopbackIPv4(testsupport::Ipv4("192.0.2.7")));
    auto record = std::make_unique<ConnectionRecord>();
    record->request = std::make_unique<RequestInfo>();
    record->clientSocket = accepted;
    record->owner = proxy_.get();
    record->peerAddress = testsupport::Ipv4("192.0.2.7");
    ASSERT_EQ(proxy_->connections.RegisterAndStart(record.get(), [] { return true; }, &ConnectionWorker,
                                                   proxy_->threads),
              Admission::Started);
    record.release();

    // The marker alone in one receive: once the worker has taken it in, the
    // rest of a request follows.
    ASSERT_TRUE(remote.SendAll("ZELK_UPDATE"));
    ASSERT_TRUE(testsupport::WaitFor([&] { return platform::BytesQueued(accepted).rc == 0; }, 5000));
    ASSERT_TRUE(remote.SendAll(" http://127.0.0.1:" + std::to_string(origin.port()) + "/ HTTP/1.1\r\n\r\n"));
    EXPECT_EQ(remote.ReadUntilClosed(5000), "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
    EXPECT_EQ(origin.WaitRequest(0).rfind("ZELK_UPDATE / HTTP/1.1\r\n", 0), 0u) << origin.WaitRequest(0);
    EXPECT_EQ(ProxyConfig().Config().wordFilter.load(), 1) << "reloaded on another machine's word";
}

// A new ad-block list is in force after the reload message: the old
// list's block and its remembered verdicts are gone, the new one blocks.
TEST_F(PipelineTest, ReloadMessageTakesUpAChangedAdBlockList) {
    testsupport::FakeOrigin origin("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
    folder_->Write("Data/easylistchina.txt", "||ads1.test^\n");
    Start();
    std::string p = std::to_string(origin.port());
    auto get = [&](const std::string& host) { return Exchange("GET http://" + host + ":" + p + "/x HTTP/1.1\r\n\r\n"); };
    EXPECT_EQ(Body(get("ads1.test")), kNotFoundBody);
    EXPECT_EQ(Body(get("ads2.test")), "ok");

    folder_->Write("Data/easylistchina.txt", "||ads2.test^\n");
    EXPECT_EQ(Exchange("ZELK_UPDATE"), "");
    EXPECT_EQ(Body(get("ads1.test")), "ok");
    EXPECT_EQ(Body(get("ads2.test")), kNotFoundBody);
}

namespace {

// The search engines' own names and their SafeSearch names: one kind leads
// to the origin (127.0.0.1), the other nowhere (127.0.0.9), as `toSafe` says.
// The names are fixed before the proxy starts; the flag may flip while it runs.
class EngineResolver : public IHostResolver {
public:
    std::map<std::string, bool> names;  // name -> is a SafeSearch name
    std::atomic<bool> toSafe{true};
    std::vector<uint32_t> Resolve(const std::string& host) const override {
        auto it = names.find(host);
        if (it == names.end()) return {};
        return {testsupport::Ipv4(it->second == toSafe.load() ? "127.0.0.1" : "127.0.0.9")};
    }
};

}  // namespace

// SafeSearch: the search engines' requests and tunnels reach the address of
// their SafeSearch name (here the origin; their own names lead nowhere),
// byte for byte as without it; with safeSearch=0 they reach their own.
TEST_F(PipelineTest, SearchEnginesAreReachedThroughTheirSafeSearchAddresses) {
    testsupport::FakeOrigin origin("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
    const std::pair<std::string, std::string> engines[] = {{"www.google.com.hk", "forcesafesearch.google.com"},
                                                           {"www.bing.com", "strict.bing.com"},
                                                           {"www.youtube.com", "restrict.youtube.com"},
                                                           {"duckduckgo.com", "safe.duckduckgo.com"}};
    EngineResolver resolver;
    for (const auto& [host, safeName] : engines) {
        resolver.names[host] = false;
        resolver.names[safeName] = true;
    }
    Start("", &resolver);
    const std::string p = std::to_string(origin.port());
    auto get = [&](const std::string& host) {
        return "GET http://" + host + ":" + p + "/search?q=x HTTP/1.1\r\nHost: " + host + "\r\n\r\n";
    };
    auto forwarded = [&](const std::string& host) {
        return "GET /search?q=x HTTP/1.1\r\nHost: " + host + "\r\n\r\n";
    };
    // What a browser sends inside the tunnel (TLS, in life) reaches the origin as sent.
    auto tunnel = [&](const std::string& host) {
        testsupport::LoopbackClient browser;
        if (!browser.Connect(port_)) return std::string("<no connection>");
        browser.SendAll("CONNECT " + host + ":" + p + " HTTP/1.1\r\nHost: " + host + ":" + p + "\r\n\r\n");
        std::string established = browser.ReadUntil("\r\n\r\n", 3000);
        if (established.rfind("HTTP/1.1 200 Connection established\r\n", 0) != 0) return established;
        browser.SendAll("\x16\x03\x01 hello " + host + "\r\n\r\n");
        return browser.ReadUntilClosed(3000);
    };
    size_t requests = 0;
    for (const auto& [host, safeName] : engines) {
        SCOPED_TRACE(host);
        EXPECT_EQ(Body(Exchange(get(host))), "ok");
        EXPECT_EQ(origin.WaitRequest(requests++), forwarded(host));
        EXPECT_EQ(tunnel(host), "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
        EXPECT_EQ(origin.WaitRequest(requests++), "\x16\x03\x01 hello " + host + "\r\n\r\n");
    }

    // Off: the same requests go to the engines' own addresses.
    resolver.toSafe = false;
    folder_->Write("Data/config.ini", "[Proxy]\nsafeSearch=0\nshowControl=0\nimageMode=0\n");
    EXPECT_EQ(Exchange("ZELK_UPDATE"), "");
    for (const auto& [host, safeName] : engines) {
        SCOPED_TRACE(host);
        EXPECT_EQ(Body(Exchange(get(host))), "ok");
        EXPECT_EQ(origin.WaitRequest(requests++), forwarded(host));
        EXPECT_EQ(tunnel(host), "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
        EXPECT_EQ(origin.WaitRequest(requests++), "\x16\x03\x01 hello " + host + "\r\n\r\n");
    }
    EXPECT_EQ(origin.RequestCount(), requests);
}

TEST_F(PipelineTest, UnresolvableHostIsClosedWithoutAReply) {
    Start();
    EXPECT_EQ(Exchange("GET http://nowhere.test/ HTTP/1.1\r\n\r\n"), "");
}

TEST_F(PipelineTest, StopDuringTunnelsAndUploadsEndsEveryThread) {
    testsupport::FakeOrigin origin;
    origin.SetResponder([](platform::Socket fd, const std::string&) {
        char buf[1024];
        while (platform::RecvSome(fd, buf, sizeof buf).rc > 0) {
        }
    });
    Start();
    std::string p = std::to_string(origin.port());
    std::vector<std::unique_ptr<testsupport::LoopbackClient>> browsers;
    for (int i = 0; i < 6; ++i) {
        browsers.push_back(std::make_unique<testsupport::LoopbackClient>());
        ASSERT_TRUE(browsers.back()->Connect(port_));
        if (i % 2)
            browsers.back()->SendAll("CONNECT 127.0.0.1:" + p + " HTTP/1.1\r\n\r\n");
        else
            browsers.back()->SendAll("POST http://127.0.0.1:" + p + "/ HTTP/1.1\r\nContent-Length: 100000\r\n\r\nabc");
    }
    // The tunnels are established and the uploads under way.
    for (int i = 1; i < 6; i += 2) {
        char buf[128];
        EXPECT_GT(platform::RecvSome(browsers[i]->fd(), buf, sizeof buf).rc, 0);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    auto start = std::chrono::steady_clock::now();
    proxy_->Stop();
    serving_.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(proxy_->connections.LiveCount(), 0u);
    for (auto& b : browsers) EXPECT_TRUE(b->WaitClosed(1000));
}

namespace {

// An origin that answers at once and then records every byte that reaches
// it after the request it read, until the proxy closes the connection.
struct RecordingOrigin {
    testsupport::FakeOrigin origin;
    std::mutex lock;
    std::vector<std::string> received;  // per connection: everything that arrived

    RecordingOrigin() {
        origin.SetResponder([this](platform::Socket fd, const std::string& first) {
            testsupport::FakeOrigin::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
            std::string all = first;
            char buf[8192];
            while (platform::WaitReadable(fd, 5000).rc > 0) {
                int n = platform::RecvSome(fd, buf, sizeof buf).rc;
                if (n <= 0) break;
                all.append(buf, static_cast<size_t>(n));
            }
            std::lock_guard<std::mutex> g(lock);
            received.push_back(all);
        });
    }
    std::string Received(size_t index) {
        testsupport::WaitFor(
            [&] {
                std::lock_guard<std::mutex> g(lock);
                return received.size() > index;
            },
            5000);
        std::lock_guard<std::mutex> g(lock);
        return received.size() > index ? received[index] : std::string("<nothing>");
    }
};

}  // namespace

// A request body is forwarded up to its end and no further: a second request
// behind it on the same connection (here for a blocked site) never reaches the
// origin, and the answer comes without waiting for the browser to close.
TEST_F(PipelineTest, UploadEndsWithItsBodyAndWhatFollowsIsNotForwarded) {
    RecordingOrigin recording;
    Start();
    const std::string target = "http://127.0.0.1:" + std::to_string(recording.origin.port()) + "/up";
    const std::string smuggled = "GET http://blocked.test/ HTTP/1.1\r\nHost: blocked.test\r\n\r\n";
    std::string big;
    for (int i = 0; i < 100000; ++i) big.push_back(static_cast<char>('a' + i % 26));
    const std::string chunked = "5;x=1\r\nhello\r\n1A\r\nabcdefghijklmnopqrstuvwxyz\r\n0\r\nX-Trailer: 1\r\n\r\n";
    struct Request {
        std::string method, headers, body;
    };
    const Request requests[] = {
        // the body and what follows in one piece
        {"POST", "Content-Length: 5\r\n", "hello"},
        // a body longer than one receive: the relay stops at its last byte
        {"POST", "Content-Length: " + std::to_string(big.size()) + "\r\n", big},
        // the length header in another letter case counts as the origin reads it
        {"POST", "content-length: 5\r\n", "hello"},
        // a chunked body ends with its last chunk and trailer
        {"POST", "Transfer-Encoding: chunked\r\n", chunked},
        // no body at all
        {"GET", "", ""},
    };
    size_t index = 0;
    for (const Request& r : requests) {
        SCOPED_TRACE(r.headers);
        EXPECT_EQ(Exchange(r.method + " " + target + " HTTP/1.1\r\n" + r.headers + "\r\n" + r.body + smuggled),
                  "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
        EXPECT_EQ(recording.Received(index++), r.method + " /up HTTP/1.1\r\n" + r.headers + "\r\n" + r.body);
    }
    EXPECT_EQ(recording.origin.RequestCount(), index);
}

// Length headers an origin could read in more than one way: the connection
// is closed and nothing is forwarded. Agreeing repeated lengths are one length.
TEST_F(PipelineTest, ConflictingBodyLengthsAreNotForwarded) {
    testsupport::FakeOrigin origin("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
    Start();
    const std::string line = "POST http://127.0.0.1:" + std::to_string(origin.port()) + "/ HTTP/1.1\r\n";
    for (const std::string headers : {"Transfer-Encoding: chunked\r\nContent-Length: 5\r\n",
                                      "content-length: 5\r\ntransfer-encoding: chunked\r\n",
                                      "Content-Length: 5\r\nContent-Length: 6\r\n", "Content-Length: 5x\r\n",
                                      "Content-Length: -5\r\n", "Content-Length: 5, 6\r\n"}) {
        EXPECT_EQ(Exchange(line + headers + "\r\n5\r\nhello\r\n0\r\n\r\n"), "") << headers;
    }
    EXPECT_EQ(origin.RequestCount(), 0u);
    EXPECT_EQ(Exchange(line + "Content-Length: 5\r\nContent-Length: 5\r\n\r\nhello"),
              "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
    EXPECT_EQ(Body(origin.WaitRequest(0)), "hello");
}

// The keyword check reads the whole URL, however long.
TEST_F(PipelineTest, KeywordFarIntoALongUrlIsFound) {
    testsupport::FakeOrigin origin;
    Start("addressFilterPage=1\n");
    const std::string padding(1100, 'a');
    EXPECT_EQ(Body(Exchange("GET http://127.0.0.1:" + std::to_string(origin.port()) + "/" + padding +
                            "/badword HTTP/1.1\r\n\r\n")),
              kBlockBody);
    EXPECT_EQ(origin.RequestCount(), 0u);
}

// What the origin gets is what the checks saw: the Host header names the
// allowed target, the proxy's credentials stay behind, and a port that does
// not exist is refused rather than cut to one that does.
TEST_F(PipelineTest, OriginGetsTheCheckedHostAndNoProxyCredentials) {
    testsupport::FakeOrigin origin("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
    Start();
    const std::string p = std::to_string(origin.port());
    EXPECT_EQ(Body(Exchange("GET http://127.0.0.1:" + p + "/x HTTP/1.1\r\nHost: blocked.test\r\n"
                            "Proxy-Authorization: Basic dXNlcjpwYXNz\r\nAccept: */*\r\n\r\n")),
              "ok");
    EXPECT_EQ(origin.WaitRequest(0), "GET /x HTTP/1.1\r\nHost: 127.0.0.1:" + p + "\r\nAccept: */*\r\n\r\n");

    // 65536 above the origin's port would reach it if cut to 16 bits.
    const std::string wrapped = std::to_string(origin.port() + 65536);
    EXPECT_EQ(Exchange("GET http://127.0.0.1:" + wrapped + "/ HTTP/1.1\r\n\r\n"), "");
    EXPECT_EQ(Exchange("CONNECT 127.0.0.1:" + wrapped + " HTTP/1.1\r\n\r\n"), "");
    EXPECT_EQ(Exchange("GET http://127.0.0.1:0/ HTTP/1.1\r\n\r\n"), "");
    EXPECT_EQ(origin.RequestCount(), 1u);
}

TEST_F(PipelineTest, TunnelToAClosedPortIsAnsweredBadGateway) {
    Start();
    const uint16_t closed = testsupport::FreeLoopbackPort();
    EXPECT_EQ(Exchange("CONNECT 127.0.0.1:" + std::to_string(closed) + " HTTP/1.1\r\n\r\n"),
              "HTTP/1.1 502 Bad Gateway\r\nConnection: close\r\nContent-Length: 0\r\n\r\n");
}
