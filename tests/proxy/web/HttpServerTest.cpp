// The local web server on loopback: pages with their exact headers, the
// commands end to end, the oversize requests, paths leaving the page folder,
// and the stop while requests are in flight.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <sievekit/CProxyConfig.h>

#include "net/CLocalProxy.h"
#include "support/LoopbackClient.h"
#include "support/TempFolder.h"
#include "web/CHttpServer.h"
#include "web/RequestPath.h"

using testsupport::LoopbackClient;
using testsupport::WaitFor;

namespace {

const std::string kNotFound = "HTTP/1.1 404 Not Found\nContent-Type: text/html\r\n\r\nNot found.";
const std::string kCompleted = "<html><body>done</body></html>";
const std::string kUnlock = "<html><body>locked</body></html>";

std::string Ok(const std::string& type, const std::string& body) {
    return "HTTP/1.0 200 OK\nContent-Type: " + type + "\nContent-Length: " + std::to_string(body.size()) +
           "\r\n\r\n" + body;
}

std::string Get(const std::string& target) { return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"; }

// A running server in a data folder of its own, beside the proxy whose
// filters its commands reload.
class HttpServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder.Write("Data/config.ini", "[Proxy]\nshowControl=1\nimageMode=0\nwhiteListLock=0\nadBlock=0\n");
        folder.Write("www/index.html", "<p>index</p>");
        folder.Write("www/OperationCompleted.html", kCompleted);
        folder.Write("www/ShowUnlock.html", kUnlock);
        config.LoadData();
        proxy = std::make_unique<CLocalProxy>(0);
        Start();
    }
    void TearDown() override { StopServer(); }

    // A server on a fresh port; `configure` sets its bounds before it serves.
    void Start(const std::function<void(CHttpServer&)>& configure = {}) {
        port = testsupport::FreeLoopbackPort();
        server = std::make_unique<CHttpServer>(port, "127.0.0.1", "www", proxy.get(), config);
        if (configure) configure(*server);
        ASSERT_EQ(server->Listen(), 1);
        serving = std::thread([this] { server->ServeRequests(); });
    }
    void StopServer() {
        if (server) server->Stop();
        if (serving.joinable()) serving.join();
        server.reset();
    }

    // Sends the bytes and reads the answer until the server closes.
    std::string Ask(const std::string& request) {
        LoopbackClient client;
        if (!client.Connect(port)) return "<no connection>";
        if (!client.SendAll(request)) return "<send failed>";
        bool timedOut = false;
        std::string answer = client.ReadUntilClosed(5000, &timedOut);
        return timedOut ? "<timed out>" + answer : answer;
    }
    bool ProxyBlocks(const char* host) {
        DomainStruct d{};
        std::strncpy(d.host, host, sizeof d.host - 1);
        return proxy->domainManager->Exists(d);
    }
    int Stored(ConfigInt ProxyData::*field) {
        CProxyConfig fresh;
        fresh.LoadData();
        return (fresh.Config().*field).load();
    }

    testsupport::TempFolder folder{true};
    CProxyConfig config;
    std::unique_ptr<CLocalProxy> proxy;
    uint16_t port = 0;
    std::unique_ptr<CHttpServer> server;
    std::thread serving;
};

}  // namespace

TEST_F(HttpServerTest, ServesAPageWithItsExactHeader) {
    EXPECT_EQ(Ask(Get("/index.html")), Ok("text/html", "<p>index</p>"));
    // The same target on a POST line.
    EXPECT_EQ(Ask("POST /index.html HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc"), Ok("text/html", "<p>index</p>"));
}

TEST_F(HttpServerTest, UpperCaseNameGetsTheHtmlTypeAndKeepsItsCase) {
    folder.Write("www/UPPER.HTML", "<p>upper</p>");
    EXPECT_EQ(Ask(Get("/UPPER.HTML")), Ok("text/html", "<p>upper</p>"));
    // The name reaches the file system as asked: where that tells names
    // apart by case another spelling misses the file, where it does not
    // (Windows) it finds the same one.
    const bool namesIgnoreCase = folder.Exists("www/upper.html");
    EXPECT_EQ(Ask(Get("/upper.html")), namesIgnoreCase ? Ok("text/html", "<p>upper</p>") : kNotFound);
    EXPECT_EQ(Ask(Get("/INDEX.HTML")), namesIgnoreCase ? Ok("text/html", "<p>index</p>") : kNotFound);
}

TEST_F(HttpServerTest, ContentTypesFollowTheSuffix) {
    std::string png("\x89PNG\r\n\x1a\n\0\0", 10);
    folder.Write("www/img/logo.png", png);
    folder.Write("www/lib/jquery.min.js", "var a;");
    folder.Write("www/app.js", "var b;");
    folder.Write("www/style.css", "p{}");
    folder.Write("www/README", "plain");
    folder.Write("www/photo.JPEG", "jpeg");
    EXPECT_EQ(Ask(Get("/img/logo.png")), Ok("image/png", png));
    EXPECT_EQ(Ask(Get("/lib/jquery.min.js")), Ok("application/octet-stream", "var a;"));
    EXPECT_EQ(Ask(Get("/app.js")), Ok("application/x-javascript", "var b;"));
    EXPECT_EQ(Ask(Get("/style.css")), Ok("text/css", "p{}"));
    EXPECT_EQ(Ask(Get("/README")), Ok("text/html", "plain"));
    EXPECT_EQ(Ask(Get("/photo.JPEG")), Ok("image/jpeg", "jpeg"));
}

TEST_F(HttpServerTest, NotFoundText) {
    EXPECT_EQ(Ask(Get("/missing.html")), kNotFound);
    EXPECT_EQ(Ask(Get("/index.html?x=1")), kNotFound) << "the query is part of the file name";
    EXPECT_EQ(Ask("PUT /index.html HTTP/1.1\r\n\r\n"), kNotFound);
    EXPECT_EQ(Ask("GET /index.html HTTP/1.1\n\n"), kNotFound) << "no CR LF";
    EXPECT_EQ(Ask(Get("/")), kNotFound) << "a folder";
    EXPECT_EQ(Ask(Get("/img")), kNotFound);
    folder.Write("www/empty.html", "");
    EXPECT_EQ(Ask(Get("/empty.html")), kNotFound);
}

// Answer is the whole of a request's handling but the socket: what it
// decides is byte for byte what a browser receives.
TEST_F(HttpServerTest, AnswerWithoutSocketIsWhatTheBrowserReceives) {
    folder.Write("www/style.css", "p{}");
    for (const std::string& request :
         {Get("/index.html"), Get("/style.css"), Get("/missing.html"), Get("/../Data/config.ini"),
          Get("/zelk.close"), std::string("PUT /index.html HTTP/1.1\r\n\r\n")}) {
        CHttpServer::Reply reply = server->Answer(request);
        const std::string expected = reply.found ? reply.header + reply.body : kNotFound;
        EXPECT_EQ(Ask(request), expected) << request.substr(0, 40);
    }
    CHttpServer::Reply page = server->Answer(Get("/index.html"));
    EXPECT_TRUE(page.found);
    EXPECT_EQ(page.header + page.body, Ok("text/html", "<p>index</p>"));
    EXPECT_FALSE(server->Answer(Get("/../Data/config.ini")).found);
    std::string full = Get("/index.html");
    full.resize(kRequestBufferSize, 'x');
    EXPECT_FALSE(server->Answer(full).found) << "a receive that fills the buffer";
    full.resize(kRequestBufferSize - 1);
    EXPECT_TRUE(server->Answer(full).found);
    // A command runs on Answer alone and answers the completion page.
    CHttpServer::Reply command = server->Answer(Get("/zelk.black?url=answer.example"));
    EXPECT_EQ(command.header + command.body, Ok("text/html", kCompleted));
    EXPECT_TRUE(ProxyBlocks("www.answer.example"));
}

TEST_F(HttpServerTest, ParamScriptIsReadFreshWhileOtherPagesStayCached) {
    folder.Write("www/param.js", "var zelk_param = {webPort: 1};");
    EXPECT_EQ(Ask(Get("/param.js")), Ok("application/x-javascript", "var zelk_param = {webPort: 1};"));
    EXPECT_EQ(Ask(Get("/index.html")), Ok("text/html", "<p>index</p>"));
    folder.Write("www/param.js", "var zelk_param = {webPort: 22};");
    folder.Write("www/index.html", "<p>changed</p>");
    EXPECT_EQ(Ask(Get("/param.js")), Ok("application/x-javascript", "var zelk_param = {webPort: 22};"));
    EXPECT_EQ(Ask(Get("/index.html")), Ok("text/html", "<p>index</p>"));
    EXPECT_EQ(server->CachedFileCount(), 1u);
    // A file missing at first is looked for again.
    EXPECT_EQ(Ask(Get("/late.html")), kNotFound);
    folder.Write("www/late.html", "late");
    EXPECT_EQ(Ask(Get("/late.html")), Ok("text/html", "late"));
}

TEST_F(HttpServerTest, BlackCommandReachesTheProxysDomainCheck) {
    EXPECT_FALSE(ProxyBlocks("www.bad.example"));
    EXPECT_EQ(Ask(Get("/zelk.black?url=bad.example")), Ok("text/html", kCompleted));
    EXPECT_EQ(folder.Read("Data/user_black.txt"), "bad.example\n");
    EXPECT_TRUE(ProxyBlocks("www.bad.example"));
    EXPECT_TRUE(ProxyBlocks("bad.example"));
    EXPECT_FALSE(ProxyBlocks("good.example"));
}

TEST_F(HttpServerTest, CommandSuffixInUpperCaseRuns) {
    EXPECT_EQ(Ask(Get("/zelk.BLACK?url=shout.example")), Ok("text/html", kCompleted));
    EXPECT_TRUE(ProxyBlocks("shout.example"));
}

TEST_F(HttpServerTest, LongerSuffixIsNoCommand) {
    EXPECT_EQ(Ask(Get("/zelk.blackx?url=other.example")), kNotFound);
    EXPECT_FALSE(folder.Exists("Data/user_black.txt"));
    EXPECT_FALSE(ProxyBlocks("other.example"));
}

TEST_F(HttpServerTest, CommandWithoutParameterRunsAndAddsNothing) {
    EXPECT_EQ(Ask(Get("/zelk.close")), Ok("text/html", kCompleted));
    EXPECT_EQ(config.Config().showControl.load(), 0);
    EXPECT_EQ(Stored(&ProxyData::showControl), 0);

    EXPECT_EQ(Ask(Get("/zelk.noimg")), Ok("text/html", kCompleted));
    EXPECT_EQ(Stored(&ProxyData::imageMode), 2);
    EXPECT_FALSE(folder.Exists("Data/user_noimage.txt"));

    EXPECT_EQ(Ask(Get("/zelk.black?url")), Ok("text/html", kCompleted)) << "query of four characters or fewer";
    EXPECT_FALSE(folder.Exists("Data/user_black.txt"));
}

TEST_F(HttpServerTest, WhiteWhileLockedAnswersTheUnlockPageWithoutReload) {
    config.Config().whiteListLock = 1;
    // An edit the proxy has not taken up yet: a reload would reveal it.
    folder.Write("Data/user_black.txt", "pending.example\n");
    EXPECT_EQ(Ask(Get("/a.white?url=trusted.example")), Ok("text/html", kUnlock));
    EXPECT_FALSE(folder.Exists("Data/user_white.txt"));
    EXPECT_FALSE(ProxyBlocks("pending.example")) << "the locked command reloaded the filters";

    config.Config().whiteListLock = 0;
    EXPECT_EQ(Ask(Get("/a.white?url=trusted.example")), Ok("text/html", kCompleted));
    EXPECT_EQ(folder.Read("Data/user_white.txt"), "trusted.example\n");
    EXPECT_TRUE(ProxyBlocks("pending.example")) << "the command reloaded the filters";
}

TEST_F(HttpServerTest, CommandWhoseAnswerPageIsMissingStillRuns) {
    std::remove((folder / "www/OperationCompleted.html").c_str());
    EXPECT_EQ(Ask(Get("/a.black?url=gone.example")), kNotFound);
    EXPECT_TRUE(ProxyBlocks("gone.example"));
}

TEST_F(HttpServerTest, DotDotPathsAreRefusedAndNeverRead) {
    // The user's configuration sits one level above the page folder.
    for (const char* target : {"/../Data/config.ini", "/%2e%2e/Data/config.ini", "/%2E%2E/Data/config.ini",
                               "/.%2e/Data/config.ini", "/..%2fData%2fconfig.ini", "/..\\Data\\config.ini",
                               "/img/../../Data/config.ini"}) {
        EXPECT_EQ(Ask(Get(target)), kNotFound) << target;
    }
    EXPECT_EQ(server->CachedFileCount(), 0u);
    folder.Write("www/a..b.html", "dots");
    EXPECT_EQ(Ask(Get("/a..b.html")), Ok("text/html", "dots"));
}

TEST_F(HttpServerTest, OversizeRequestsAreRefusedAndTheServerGoesOn) {
    // A request that fills the receive buffer.
    std::string head = "GET /index.html HTTP/1.1\r\nX-Pad: ";
    std::string fits = head + std::string(15359 - head.size() - 4, 'p') + "\r\n\r\n";
    ASSERT_EQ(fits.size(), 15359u);
    EXPECT_EQ(Ask(fits), Ok("text/html", "<p>index</p>"));
    std::string fills = head + std::string(20000, 'p') + "\r\n\r\n";
    EXPECT_EQ(Ask(fills), kNotFound);

    // A first line of 4096 bytes or more, with and without a protocol mark.
    EXPECT_EQ(Ask(Get("/index.html?" + std::string(4096, 'q'))), kNotFound);
    EXPECT_EQ(Ask("GET /index.html" + std::string(5000, ' ') + "HTTP/1.1\r\n\r\n"), kNotFound);
    EXPECT_EQ(Ask("GET /index.html\r\n\r\n"), kNotFound);
    EXPECT_EQ(Ask("GET HTTP/1.1 /index.html\r\n\r\n"), kNotFound);

    // A suffix of 20 characters or more, even for a file that exists.
    folder.Write("www/f.abcdefghijklmnopqr", "nineteen");  // suffix of 19
    folder.Write("www/f.abcdefghijklmnopqrs", "twenty");   // suffix of 20
    EXPECT_EQ(Ask(Get("/f.abcdefghijklmnopqr")), Ok("application/octet-stream", "nineteen"));
    EXPECT_EQ(Ask(Get("/f.abcdefghijklmnopqrs")), kNotFound);

    // Root and path of 259 characters are served, 260 are refused.
    std::string dir = "/d/";
    std::string name259(259 - 3 - dir.size() - 5, 'n');
    folder.Write("www" + dir + name259 + ".html", "long");
    ASSERT_EQ(("www" + dir + name259 + ".html").size(), 259u);
    EXPECT_EQ(Ask(Get(dir + name259 + ".html")), Ok("text/html", "long"));
    folder.Write("www" + dir + name259 + "n.html", "longer");
    EXPECT_EQ(Ask(Get(dir + name259 + "n.html")), kNotFound);

    // Binary garbage, and a connection closed without a byte.
    EXPECT_EQ(Ask(std::string("\0\r\n\xff\xfe", 5)), kNotFound);
    {
        LoopbackClient silent;
        ASSERT_TRUE(silent.Connect(port));
        silent.Close();
    }
    EXPECT_EQ(Ask(Get("/index.html")), Ok("text/html", "<p>index</p>"));
}

TEST_F(HttpServerTest, ConcurrencyTwoFirstRequestsForOnePageBothGetIt) {
    std::string expected = Ok("text/html", std::string(200000, 'f'));
    for (int round = 0; round < 5; ++round) {
        std::string name = "/fresh" + std::to_string(round) + ".html";
        folder.Write("www" + name, std::string(200000, 'f'));
        std::promise<void> go;
        std::shared_future<void> ready = go.get_future().share();
        auto ask = [&] {
            ready.wait();
            return Ask(Get(name));
        };
        auto a = std::async(std::launch::async, ask);
        auto b = std::async(std::launch::async, ask);
        go.set_value();
        EXPECT_EQ(a.get(), expected);
        EXPECT_EQ(b.get(), expected);
        EXPECT_EQ(server->CachedFileCount(), size_t(round + 1));
    }
}

TEST_F(HttpServerTest, ConcurrencyCommandsFromManyBrowsersAllLand) {
    constexpr int kBrowsers = 6, kEach = 5;
    std::vector<std::thread> browsers;
    std::atomic<int> completed{0};
    for (int b = 0; b < kBrowsers; ++b) {
        browsers.emplace_back([&, b] {
            for (int i = 0; i < kEach; ++i) {
                std::string host = "c" + std::to_string(b) + "x" + std::to_string(i) + ".example";
                if (Ask(Get("/z.black?url=" + host)) == Ok("text/html", kCompleted)) ++completed;
            }
        });
    }
    for (auto& t : browsers) t.join();
    EXPECT_EQ(completed.load(), kBrowsers * kEach);
    for (int b = 0; b < kBrowsers; ++b)
        for (int i = 0; i < kEach; ++i)
            EXPECT_TRUE(ProxyBlocks(("c" + std::to_string(b) + "x" + std::to_string(i) + ".example").c_str()));
}

TEST_F(HttpServerTest, StopWakesRequestsWaitingForTheirBrowser) {
    std::vector<std::unique_ptr<LoopbackClient>> silent;
    for (int i = 0; i < 5; ++i) {
        silent.push_back(std::make_unique<LoopbackClient>());
        ASSERT_TRUE(silent.back()->Connect(port));
    }
    ASSERT_TRUE(WaitFor([&] { return server->RunningRequests() == 5; }, 5000));
    auto stopped = std::async(std::launch::async, [&] { server->Stop(); });
    bool stoppedInTime = stopped.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    if (!stoppedInTime)
        for (auto& c : silent) c->Close();  // lets a Stop that waits for the browsers end the test
    ASSERT_TRUE(stoppedInTime) << "Stop waits for browsers that never send";
    EXPECT_EQ(server->RunningRequests(), 0u);
    EXPECT_EQ(server->RequestThreads().ThreadCount(), 0u) << "Stop left request threads running";
    for (auto& c : silent) EXPECT_TRUE(c->WaitClosed(2000));
    serving.join();
    LoopbackClient late;
    EXPECT_FALSE(late.Connect(port)) << "the port still accepts after stop";
    EXPECT_EQ(server->Listen(), 0) << "a stopped server listens again";
    server.reset();  // destruction after Stop: nothing left to wait for
}

TEST_F(HttpServerTest, StopWhileBrowsersKeepAskingLeavesNoThreadBehind) {
    folder.Write("www/big.html", std::string(300000, 'b'));
    std::atomic<bool> done{false};
    std::vector<std::thread> browsers;
    for (int b = 0; b < 4; ++b) {
        browsers.emplace_back([&, b] {
            for (int i = 0; i < 200 && !done; ++i) {
                LoopbackClient c;
                if (!c.Connect(port)) break;
                c.SendAll(Get(b % 2 ? "/big.html" : "/z.black?url=busy.example"));
                if (i % 3 == 0) c.ReadUntilClosed(2000);  // others hang up at once
            }
        });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    // Destruction stops the server and waits for every request thread.
    auto gone = std::async(std::launch::async, [&] {
        server->Stop();
        serving.join();
        server.reset();
    });
    ASSERT_EQ(gone.wait_for(std::chrono::seconds(20)), std::future_status::ready) << "Stop hangs";
    done = true;
    for (auto& t : browsers) t.join();
}

TEST_F(HttpServerTest, StopBeforeTheAcceptLoopStartsEndsItAtOnce) {
    StopServer();
    CHttpServer early(testsupport::FreeLoopbackPort(), "127.0.0.1", "www", proxy.get(), config);
    early.Stop();
    EXPECT_EQ(early.Listen(), 0);
    early.ServeRequests();  // returns at once
    EXPECT_EQ(early.RunningRequests(), 0u);
}

// With as many requests running as allowed, a further browser is closed at
// once; once one ends, the server answers again.
TEST_F(HttpServerTest, RequestsBeyondTheLimitAreClosedAtOnce) {
    StopServer();
    Start([](CHttpServer& s) {
        s.maxRequests = 2;
    });
    LoopbackClient first, second, third;
    ASSERT_TRUE(first.Connect(port));  // these two send nothing: their requests wait
    ASSERT_TRUE(second.Connect(port));
    ASSERT_TRUE(WaitFor([&] { return server->RunningRequests() == 2; }, 3000));
    ASSERT_TRUE(third.Connect(port));
    EXPECT_TRUE(third.WaitClosed(3000)) << "a request beyond the limit was kept";
    first.SendAll(Get("/index.html"));
    EXPECT_EQ(first.ReadUntilClosed(3000), Ok("text/html", "<p>index</p>"));
    ASSERT_TRUE(WaitFor([&] { return server->RunningRequests() == 1; }, 3000));
    EXPECT_EQ(Ask(Get("/index.html")), Ok("text/html", "<p>index</p>"));
}

// A browser that sends nothing, or stops within its request, is closed at
// its deadline: the command it had begun does not run, and its request slot
// is free again for the next browser.
TEST_F(HttpServerTest, BrowsersThatDoNotFinishTheirRequestAreClosedAtTheDeadline) {
    StopServer();
    Start([](CHttpServer& s) {
        s.maxRequests = 1;
        s.requestMs = 200;
    });

    LoopbackClient silent;
    ASSERT_TRUE(silent.Connect(port));
    EXPECT_TRUE(silent.WaitClosed(5000)) << "a silent browser was kept";
    ASSERT_TRUE(WaitFor([&] { return server->RunningRequests() == 0; }, 3000));

    LoopbackClient halfway;
    ASSERT_TRUE(halfway.Connect(port));
    ASSERT_TRUE(halfway.SendAll("GET /x.black?url=slow.example HTTP/1.1\r\nHost: 127.0.0.1\r\n"));
    bool kept = false;
    EXPECT_EQ(halfway.ReadUntilClosed(5000, &kept), "");
    EXPECT_FALSE(kept) << "a browser that stopped within its request was kept";
    EXPECT_FALSE(folder.Exists("Data/user_black.txt"));
    ASSERT_TRUE(WaitFor([&] { return server->RunningRequests() == 0; }, 3000));

    EXPECT_EQ(Ask(Get("/index.html")), Ok("text/html", "<p>index</p>"));
}

// Requests one after another are served by the same thread; one left idle
// for its time ends, and the next request starts another.
TEST_F(HttpServerTest, RequestsOneAfterAnotherReuseTheirThread) {
    const ThreadPool& threads = server->RequestThreads();
    auto settled = [&] { return WaitFor([&] { return threads.IdleCount() == threads.ThreadCount(); }, 3000); };
    for (int i = 0; i < 10; ++i) {
        ASSERT_EQ(Ask(Get("/index.html")), Ok("text/html", "<p>index</p>"));
        ASSERT_TRUE(settled());
    }
    EXPECT_EQ(threads.StartedCount(), 1u);

    StopServer();
    Start([](CHttpServer& s) {
        s.idleThreadMs = 30;
    });
    ASSERT_EQ(Ask(Get("/index.html")), Ok("text/html", "<p>index</p>"));
    EXPECT_TRUE(WaitFor([&] { return server->RequestThreads().ThreadCount() == 0; }, 3000)) << "an idle thread was kept";
    ASSERT_EQ(Ask(Get("/index.html")), Ok("text/html", "<p>index</p>"));
    EXPECT_EQ(server->RequestThreads().StartedCount(), 2u);
}
