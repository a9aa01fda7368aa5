// The local web server against the requests a foreign web page can make a
// browser send: each attack is sent through the real server with the marks
// a browser puts on it, and must leave every file under Data/ as it was. The
// confirmation form, posted back from the server's own origin, runs the
// command once.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <sievekit/CProxyConfig.h>

#include "net/CLocalProxy.h"
#include "support/LoopbackClient.h"
#include "support/TempFolder.h"
#include "web/CHttpServer.h"

using testsupport::LoopbackClient;

namespace {

const std::string kNotFound = "HTTP/1.1 404 Not Found\nContent-Type: text/html\r\n\r\nNot found.";
const std::string kCompleted = "<html><body>done</body></html>";
const std::string kUnlock = "<html><body>locked</body></html>";
const std::string kConfirmationHead =
    "HTTP/1.0 200 OK\nContent-Type: text/html; charset=utf-8\nX-Frame-Options: DENY\n"
    "Content-Security-Policy: frame-ancestors 'none'\nContent-Length: ";
const std::string kForeign = "http://evil.example";

std::string Ok(const std::string& body) {
    return "HTTP/1.0 200 OK\nContent-Type: text/html\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
           body;
}

struct Header {
    std::string name, value;
};

class CommandGuardTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder.Write("Data/config.ini", "[Proxy]\nshowControl=1\nimageMode=0\nwhiteListLock=0\nadBlock=0\n");
        folder.Write("Data/user_black.txt", "already.example\n");
        folder.Write("www/index.html", "<p>index</p>");
        folder.Write("www/OperationCompleted.html", kCompleted);
        folder.Write("www/ShowUnlock.html", kUnlock);
        config.LoadData();
        proxy = std::make_unique<CLocalProxy>(0);
        port = testsupport::FreeLoopbackPort();
        own = "http://127.0.0.1:" + std::to_string(port);
        server = std::make_unique<CHttpServer>(port, "127.0.0.1", "www", proxy.get(), config);
        ASSERT_EQ(server->Listen(), 1);
        serving = std::thread([this] { server->ServeRequests(); });
    }
    void TearDown() override {
        server->Stop();
        serving.join();
    }

    // A request as a browser writes it: the Host first, then the marks.
    std::string Request(const std::string& method, const std::string& target, const std::vector<Header>& marks,
                        const std::string& body = "", const std::string& host = "") {
        std::string r = method + " " + target + " HTTP/1.1\r\nHost: " + (host.empty() ? own.substr(7) : host) + "\r\n";
        for (const Header& h : marks) r += h.name + ": " + h.value + "\r\n";
        if (method == "POST")
            r += "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " + std::to_string(body.size()) +
                 "\r\n";
        return r + "\r\n" + body;
    }
    std::string Ask(const std::string& request) {
        LoopbackClient client;
        if (!client.Connect(port) || !client.SendAll(request)) return "<no connection>";
        bool timedOut = false;
        std::string answer = client.ReadUntilClosed(5000, &timedOut);
        return timedOut ? "<timed out>" + answer : answer;
    }
    // The confirmation the server answers to a page's request, and its token.
    std::string TokenFor(const std::string& target) {
        std::string page = Ask(Request("GET", target, {{"Sec-Fetch-Site", "cross-site"}, {"Referer", kForeign + "/"}}));
        const std::string field = "<input type=\"hidden\" name=\"token\" value=\"";
        const size_t at = page.find(field);
        if (page.rfind(kConfirmationHead, 0) != 0 || at == std::string::npos) return "<no confirmation>";
        const std::string token = page.substr(at + field.size(), 33);
        if (token.size() != 33 || token[32] != '"' || token.find_first_not_of("0123456789abcdef") != 32)
            return "<no token in " + page + ">";
        return token.substr(0, 32);
    }
    // The confirmation form as the browser posts it from the server's page.
    std::string Confirm(const std::string& target, const std::string& token,
                        std::vector<Header> marks = {{"Origin", ""}, {"Sec-Fetch-Site", "same-origin"}}) {
        for (Header& h : marks)
            if (h.name == "Origin" && h.value.empty()) h.value = own;
        return Ask(Request("POST", target, marks, "token=" + token));
    }

    // Every file under Data/ with its bytes.
    std::map<std::string, std::string> DataFiles() const {
        std::map<std::string, std::string> files;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(folder / "Data"))
            if (entry.is_regular_file()) files[entry.path().filename().string()] = folder.Read("Data/" + entry.path().filename().string());
        return files;
    }
    bool ProxyTrusts(const char* host) {
        DomainStruct d{};
        std::strncpy(d.host, host, sizeof d.host - 1);
        proxy->domainManager->Exists(d);
        return d.white;
    }

    testsupport::TempFolder folder{true};
    CProxyConfig config;
    std::unique_ptr<CLocalProxy> proxy;
    uint16_t port = 0;
    std::string own;
    std::unique_ptr<CHttpServer> server;
    std::thread serving;
};

}  // namespace

// <img>, <script>, fetch in no-cors mode, a link from another site, a browser
// without Fetch metadata: each is answered with the confirmation page, which
// cannot be framed, and nothing runs.
TEST_F(CommandGuardTest, RequestsAPageMakesGetTheConfirmationAndChangeNothing) {
    const auto before = DataFiles();
    const std::vector<std::vector<Header>> attacks = {
        {{"Sec-Fetch-Site", "cross-site"}, {"Sec-Fetch-Dest", "image"}, {"Referer", kForeign + "/page.html"}},
        {{"Sec-Fetch-Site", "cross-site"}, {"Sec-Fetch-Dest", "script"}},
        {{"Origin", kForeign}, {"Sec-Fetch-Site", "cross-site"}, {"Sec-Fetch-Mode", "no-cors"}},
        {{"Sec-Fetch-Site", "same-site"}},  // another port of this machine
        {{"Sec-Fetch-Site", "same-origin"}},
        {{"Referer", kForeign + "/old-browser"}},
        {{"Referer", "http://127.0.0.1:" + std::to_string(port + 1) + "/"}},
        {{"Origin", "null"}},  // a sandboxed frame
        {{"Sec-Fetch-Site", "none"}, {"Sec-Fetch-Site", "none"}},
    };
    const std::vector<std::string> commands = {"/x.white?url=victim.example", "/x.black?url=victim.example",
                                               "/x.noimg?url=victim.example", "/x.filterimage?url=/ads/banner",
                                               "/x.close"};
    size_t asked = 0;
    for (const auto& marks : attacks) {
        for (const std::string& command : commands) {
            std::string answer = Ask(Request("GET", command, marks));
            ++asked;
            ASSERT_EQ(answer.rfind(kConfirmationHead, 0), 0u) << command << " with " << marks[0].value << "\n" << answer;
            EXPECT_NE(answer.find("<form method=\"POST\">"), std::string::npos);
        }
    }
    EXPECT_EQ(DataFiles(), before);
    EXPECT_EQ(config.Config().showControl.load(), 1);
    EXPECT_EQ(config.Config().imageMode.load(), 0);
    EXPECT_FALSE(ProxyTrusts("victim.example"));
    EXPECT_EQ(server->OpenConfirmations(), asked);
    // The page says what would change.
    std::string page = Ask(Request("GET", "/x.white?url=victim.example", attacks[0]));
    EXPECT_NE(page.find("Trust <span class=\"site\">victim.example</span>? Its pages will no longer be filtered."),
              std::string::npos);
}

TEST_F(CommandGuardTest, ConfirmedFormRunsTheCommandOnceAndAnswersAsBefore) {
    const std::string target = "/x.white?url=friend.example";
    std::string token = TokenFor(target);
    ASSERT_EQ(token.size(), 32u) << token;
    EXPECT_FALSE(ProxyTrusts("friend.example"));
    EXPECT_EQ(Confirm(target, token), Ok(kCompleted));
    EXPECT_EQ(folder.Read("Data/user_white.txt"), "friend.example\n");
    EXPECT_TRUE(ProxyTrusts("www.friend.example")) << "the command reloaded the proxy's lists";
    // Good once: the same form again changes nothing.
    const auto after = DataFiles();
    EXPECT_EQ(Confirm(target, token), kNotFound);
    EXPECT_EQ(DataFiles(), after);

    // Without Origin, Sec-Fetch-Site: same-origin is the browser's word for it.
    token = TokenFor("/x.close");
    EXPECT_EQ(Confirm("/x.close", token, {{"Sec-Fetch-Site", "same-origin"}, {"Referer", own + "/x.close"}}),
              Ok(kCompleted));
    EXPECT_EQ(config.Config().showControl.load(), 0);
    CProxyConfig stored;
    stored.LoadData();
    EXPECT_EQ(stored.Config().showControl.load(), 0);

    // Under the lock the confirmed command answers the unlock page, as it
    // always has, and adds nothing.
    config.Config().whiteListLock = 1;
    token = TokenFor("/x.white?url=other.example");
    EXPECT_EQ(Confirm("/x.white?url=other.example", token), Ok(kUnlock));
    EXPECT_EQ(folder.Read("Data/user_white.txt"), "friend.example\n");
}

// A form a foreign page submits by itself, fetch with a body, curl without a
// token, a token for another command: none runs, all get the 404 text.
TEST_F(CommandGuardTest, PostsThatAreNotTheConfirmationChangeNothing) {
    const std::string target = "/x.black?url=victim.example";
    const std::string token = TokenFor(target);
    ASSERT_EQ(token.size(), 32u) << token;
    const auto before = DataFiles();
    const std::vector<std::string> posts = {
        // The foreign page's auto-submitted form, even holding the right token.
        Request("POST", target, {{"Origin", kForeign}, {"Sec-Fetch-Site", "cross-site"}}, "token=" + token),
        Request("POST", target, {{"Origin", kForeign}}, "token=" + token),
        Request("POST", target, {{"Origin", "null"}}, "token=" + token),
        // The server's own origin but no open token.
        Request("POST", target, {{"Origin", own}}, "token=0123456789abcdef0123456789abcdef"),
        Request("POST", target, {{"Origin", own}}, "token="),
        Request("POST", target, {{"Origin", own}}, ""),
        // A local program posting: no browser marks, no confirmation.
        Request("POST", target, {}, "token=" + token),
        "POST " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nOrigin: " + own + "\r\n\r\ntoken=" + token,
        "POST " + target + " HTTP/1.1\r\nOrigin: " + own + "\r\nContent-Type: text/plain\r\nContent-Length: 38\r\n\r\ntoken=" +
            token,
        "POST " + target + " HTTP/1.1\r\nOrigin: " + own +
            "\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: 2000\r\n\r\ntoken=" + token,
    };
    for (const std::string& post : posts) EXPECT_EQ(Ask(post), kNotFound) << post;
    EXPECT_EQ(DataFiles(), before);

    // The token was made for this command and parameter only, and naming it
    // with another spends it.
    EXPECT_EQ(Confirm("/x.black?url=other.example", token), kNotFound);
    EXPECT_EQ(Confirm("/x.white?url=victim.example", token), kNotFound);
    EXPECT_EQ(Confirm(target, token), kNotFound);
    EXPECT_EQ(DataFiles(), before);
    EXPECT_EQ(server->OpenConfirmations(), 0u);
}

// DNS rebinding: a page whose own name resolves to 127.0.0.1 reaches the
// server with that name as Host, and with no browser marks at all.
TEST_F(CommandGuardTest, OnlyTheServersOwnNamesAreAnswered) {
    const auto before = DataFiles();
    const std::string p = std::to_string(port);
    for (const std::string& host : std::vector<std::string>{"evil.example:" + p, "evil.example", "127.0.0.1:" + std::to_string(port + 1),
                                    "127.0.0.2:" + p, "localhost.evil.example:" + p, "[::1]:" + p, "127.0.0.1:" + p + "x",
                                    "127.0.0.1:"}) {
        EXPECT_EQ(Ask(Request("GET", "/x.white?url=victim.example", {}, "", host)), kNotFound) << host;
        EXPECT_EQ(Ask(Request("GET", "/index.html", {}, "", host)), kNotFound) << host;
    }
    // An empty Host, and a Host given twice.
    EXPECT_EQ(Ask("GET /x.close HTTP/1.1\r\nHost: \r\n\r\n"), kNotFound);
    EXPECT_EQ(Ask("GET /x.close HTTP/1.1\r\nHost: 127.0.0.1\r\nHost: evil.example\r\n\r\n"), kNotFound);
    EXPECT_EQ(DataFiles(), before);
    EXPECT_EQ(server->OpenConfirmations(), 0u);

    // Its own names, with the port or without; a local program runs the
    // command directly, as it always could.
    for (const std::string& host : std::vector<std::string>{"127.0.0.1:" + p, "127.0.0.1", "localhost:" + p, "LocalHost"})
        EXPECT_EQ(Ask(Request("GET", "/index.html", {}, "", host)), Ok("<p>index</p>")) << host;
    EXPECT_EQ(Ask(Request("GET", "/x.white?url=local.example", {{"Sec-Fetch-Site", "none"}}, "", "localhost:" + p)),
              Ok(kCompleted));
    EXPECT_EQ(folder.Read("Data/user_white.txt"), "local.example\n");
}

TEST_F(CommandGuardTest, EntriesThatMatchNearlyEverythingAreRefused) {
    const auto before = DataFiles();
    for (const char* target : {"/x.white?url=com", "/x.white?url=.COM.", "/x.black?url=com.cn", "/x.black?url=AC.CN",
                               "/x.noimg?url=localhost", "/x.filterimage?url=.gif", "/x.filterimage?url=%2Fa%2B",
                               "/x.filterimage?url=a++++"}) {
        std::string answer = Ask(Request("GET", target, {}));
        EXPECT_EQ(answer.rfind("HTTP/1.0 200 OK\nContent-Type: text/html\nContent-Length: ", 0), 0u) << target;
        EXPECT_NE(answer.find("nothing was changed"), std::string::npos) << target << "\n" << answer;
        // The same from a page: refused, not offered for confirmation.
        answer = Ask(Request("GET", target, {{"Sec-Fetch-Site", "cross-site"}}));
        EXPECT_NE(answer.find("nothing was changed"), std::string::npos) << target;
    }
    EXPECT_EQ(DataFiles(), before);
    EXPECT_EQ(config.Config().imageMode.load(), 0) << ".noimg changed the image mode for a refused entry";
    EXPECT_EQ(server->OpenConfirmations(), 0u);

    // Two labels, a fragment of five characters, and no entry at all are fine.
    EXPECT_EQ(Ask(Request("GET", "/x.black?url=example.cn", {})), Ok(kCompleted));
    EXPECT_EQ(Ask(Request("GET", "/x.filterimage?url=%2Fad%2Fx", {})), Ok(kCompleted));
    EXPECT_EQ(folder.Read("Data/manual_image.txt"), "/ad/x\n");
    EXPECT_EQ(Ask(Request("GET", "/x.noimg", {})), Ok(kCompleted));
    EXPECT_EQ(config.Config().imageMode.load(), 2);
}

// A browser may send the form's body after its header block; the server
// reads on to the body's length.
TEST_F(CommandGuardTest, ConfirmationBodyThatArrivesLateIsReadToItsLength) {
    const std::string target = "/x.black?url=late.example";
    const std::string token = TokenFor(target);
    std::string post = Request("POST", target, {{"Origin", own}}, "token=" + token);
    const size_t bodyStart = post.find("\r\n\r\n") + 4;
    LoopbackClient client;
    ASSERT_TRUE(client.Connect(port));
    ASSERT_TRUE(client.SendAll(post.substr(0, bodyStart)));
    for (size_t i = bodyStart; i < post.size(); ++i) ASSERT_TRUE(client.SendAll(post.substr(i, 1)));
    EXPECT_EQ(client.ReadUntilClosed(5000), Ok(kCompleted));
    EXPECT_EQ(folder.Read("Data/user_black.txt"), "already.example\nlate.example\n");

    // The decision waits for the whole header block: an Origin that comes
    // late still counts.
    const std::string get = Request("GET", "/x.black?url=split.example", {{"Origin", kForeign}});
    const size_t cut = get.find("Origin");
    LoopbackClient split;
    ASSERT_TRUE(split.Connect(port));
    ASSERT_TRUE(split.SendAll(get.substr(0, cut)));
    ASSERT_TRUE(testsupport::WaitFor([&] { return server->RunningRequests() == 1; }, 5000));
    ASSERT_TRUE(split.SendAll(get.substr(cut)));
    EXPECT_EQ(split.ReadUntilClosed(5000).rfind(kConfirmationHead, 0), 0u);
    EXPECT_EQ(folder.Read("Data/user_black.txt"), "already.example\nlate.example\n");
}

// Confirmations asked for and confirmed from several browsers at once: each
// token is good for its own command only, once.
TEST_F(CommandGuardTest, ConcurrencyConfirmationsFromManyBrowsersEachLandOnce) {
    constexpr int kBrowsers = 4, kEach = 5;
    std::vector<std::thread> browsers;
    std::vector<int> landed(kBrowsers, 0), replayed(kBrowsers, 0);
    for (int b = 0; b < kBrowsers; ++b) {
        browsers.emplace_back([&, b] {
            for (int i = 0; i < kEach; ++i) {
                const std::string target = "/x.black?url=c" + std::to_string(b) + "x" + std::to_string(i) + ".example";
                const std::string token = TokenFor(target);
                if (Confirm(target, token) == Ok(kCompleted)) ++landed[b];
                if (Confirm(target, token) != kNotFound) ++replayed[b];
            }
        });
    }
    for (auto& t : browsers) t.join();
    for (int b = 0; b < kBrowsers; ++b) {
        EXPECT_EQ(landed[b], kEach) << b;
        EXPECT_EQ(replayed[b], 0) << b;
    }
    const std::string black = folder.Read("Data/user_black.txt");
    for (int b = 0; b < kBrowsers; ++b)
        for (int i = 0; i < kEach; ++i)
            EXPECT_NE(black.find("c" + std::to_string(b) + "x" + std::to_string(i) + ".example\n"), std::string::npos);
    EXPECT_EQ(server->OpenConfirmations(), 0u);
}
