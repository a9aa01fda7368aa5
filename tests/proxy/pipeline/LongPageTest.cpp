// Pages against the bound on what is read whole: up to it a page is decoded
// and filtered as usual; beyond it only its title is checked, and the page
// otherwise reaches the browser exactly as the origin sent it, as it arrives.
#include <atomic>

#include "PipelineFixture.h"
#include "proxy/http/GzipTestSupport.h"

namespace {

constexpr size_t kBound = 32 * 1024;

// A page of `length` bytes with two condemned links among 22 (counted when
// filtered, too few to condemn it), padded with a comment.
std::string PageOfLength(size_t length, const std::string& title = "Fine") {
    std::string page = PageWithAnchors(22, 2, title);
    const size_t frame = page.size() + 7;
    return page + "<!--" + std::string(length > frame ? length - frame : 0, 'x') + "-->";
}

// The same, chunked in 1000-byte pieces to exactly `length` bytes as sent.
std::string ChunkedOfLength(size_t length) {
    size_t pageLength = length;
    std::string sent;
    for (int i = 0; i < 8 && (sent = Chunked(PageOfLength(pageLength), 1000)).size() != length; ++i)
        pageLength -= sent.size() - length;
    EXPECT_EQ(sent.size(), length) << "the chunked page missed its length";
    return sent;
}

std::string WithLength(const std::string& headers, const std::string& body) {
    return "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n" + headers + "Content-Length: " + std::to_string(body.size()) +
           "\r\n\r\n" + body;
}

const std::string kChunkedHead = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nTransfer-Encoding: chunked\r\n\r\n";

}  // namespace

TEST_F(PipelineTest, PageAtTheBoundIsStillReadWholeAndFiltered) {
    limits_.maxHtmlBody = kBound;
    const std::string chunked = ChunkedOfLength(kBound);
    ASSERT_EQ(chunked.size(), kBound);
    const std::string zipped = gziptest::Gzip(PageOfLength(kBound));
    ASSERT_LT(zipped.size(), kBound / 4);
    const std::vector<std::pair<std::string, std::string>> sent = {
        {"plain", WithLength("", PageOfLength(kBound))},
        {"plain without a length", "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n" + PageOfLength(kBound)},
        {"chunked", kChunkedHead + chunked},
        {"gzip", WithLength("Content-Encoding: gzip\r\n", zipped)},
    };
    Start();
    for (const auto& [what, response] : sent) {
        testsupport::FakeOrigin origin(response);
        std::string answer = Get(origin, "/");
        std::string body = Body(answer);
        EXPECT_EQ(body.find("badword"), std::string::npos) << what << ": not filtered";
        EXPECT_NE(body.find("link 9"), std::string::npos) << what;
        EXPECT_EQ(ContentLength(answer), static_cast<long>(body.size())) << what << ": " << Head(answer);
    }
}

TEST_F(PipelineTest, PageBeyondTheBoundIsRelayedAsTheOriginSentIt) {
    limits_.maxHtmlBody = kBound;
    const std::string incompressible = PageOfLength(1000) + "<!--" + gziptest::RandomBytes(2 * kBound, 3) + "-->";
    const std::string zipped = gziptest::Gzip(incompressible);
    ASSERT_GT(zipped.size(), kBound);
    const std::vector<std::pair<std::string, std::string>> sent = {
        {"one byte over", WithLength("", PageOfLength(kBound + 1))},
        {"plain without a length", "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n" + PageOfLength(3 * kBound)},
        {"chunked", kChunkedHead + Chunked(PageOfLength(3 * kBound), 777)},
        {"chunked one byte over as sent", kChunkedHead + ChunkedOfLength(kBound + 1)},
        {"gzip, long as sent", WithLength("Content-Encoding: gzip\r\n", zipped)},
        {"chunked gzip", "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nTransfer-Encoding: chunked\r\n"
                         "Content-Encoding: gzip\r\n\r\n" + Chunked(zipped, 5000)},
    };
    Start();
    const unsigned counted = ProxyConfig().filterCount();
    for (const auto& [what, response] : sent) {
        testsupport::FakeOrigin origin(response);
        EXPECT_TRUE(Get(origin, "/") == response) << what << ": changed on the way";
    }
    // A trusted site's long page too.
    testsupport::FakeOrigin trusted(sent[2].second);
    EXPECT_TRUE(Get(trusted, "/", "www.trusted.test") == sent[2].second);
    EXPECT_EQ(ProxyConfig().filterCount(), counted) << "a page not filtered counts nothing";
}

TEST_F(PipelineTest, GzipBombIsDecodedOnlyUpToTheBound) {
    limits_.maxHtmlBody = kBound;
    // About 10 KB that inflate to 10 MB: the bound, not the 18x rule, stops it.
    auto bomb = [](const std::string& title) {
        return gziptest::Gzip("<html><head><title>" + title + "</title></head><body>" + std::string(10 << 20, 'a'));
    };
    const std::string fine = WithLength("Content-Encoding: gzip\r\n", bomb("Fine"));
    const std::string condemned = WithLength("Content-Encoding: gzip\r\n", bomb("badword"));
    ASSERT_LT(fine.size(), kBound / 2);
    Start("addressFilterPage=1\n");
    testsupport::FakeOrigin passing(fine), blocked(condemned);
    EXPECT_TRUE(Get(passing, "/") == fine);
    EXPECT_EQ(Body(Get(blocked, "/")), kBlockBody);
}

TEST_F(PipelineTest, PageBeyondTheBoundIsCondemnedByATitleInWhatWasRead) {
    limits_.maxHtmlBody = kBound;
    const std::string zipped = gziptest::Gzip(PageOfLength(3 * kBound, "badword title"));
    const std::string lateTitle = "<html><body>" + std::string(kBound, 'z') + "<title>badword</title>" + std::string(1000, 'y');
    const std::string late = WithLength("", lateTitle);
    Start("addressFilterPage=1\n");
    const std::vector<std::pair<std::string, std::string>> condemned = {
        {"plain", WithLength("", PageOfLength(3 * kBound, "badword title"))},
        {"chunked", kChunkedHead + Chunked(PageOfLength(3 * kBound, "badword title"), 4000)},
        {"chunked gzip", "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nTransfer-Encoding: chunked\r\n"
                         "Content-Encoding: gzip\r\n\r\n" + Chunked(zipped, 100)},
    };
    for (const auto& [what, response] : condemned) {
        testsupport::FakeOrigin origin(response);
        EXPECT_EQ(Body(Get(origin, "/")), kBlockBody) << what;
    }
    ProxyConfig().Config().addressFilterPage = 0;
    testsupport::FakeOrigin plain(condemned[0].second);
    EXPECT_EQ(Body(Get(plain, "/")), kNotFoundBody);
    // A title beyond the bound is never read.
    testsupport::FakeOrigin origin(late);
    EXPECT_TRUE(Get(origin, "/") == late);
}

TEST_F(PipelineTest, PageBeyondTheBoundIsRelayedAsItArrives) {
    limits_.maxHtmlBody = kBound;
    const std::string first = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n" + PageOfLength(2 * kBound) + "<p>first part end</p>";
    const std::string rest = std::string(kBound, 'r') + "</body></html>";
    std::atomic<bool> firstPartSeen{false};
    std::atomic<bool> waited{false};
    testsupport::FakeOrigin origin;
    origin.SetResponder([&](platform::Socket fd, const std::string&) {
        testsupport::FakeOrigin::SendAll(fd, first);
        // The rest only once the browser has the first part: a proxy that
        // read the page whole would deliver nothing before the end.
        waited = testsupport::WaitFor([&] { return firstPartSeen.load(); }, 5000);
        testsupport::FakeOrigin::SendAll(fd, rest);
    });
    Start();
    testsupport::LoopbackClient browser;
    ASSERT_TRUE(browser.Connect(port_));
    browser.SendAll("GET http://127.0.0.1:" + std::to_string(origin.port()) + "/long HTTP/1.1\r\n\r\n");
    std::string received = browser.ReadUntil("<p>first part end</p>", 3000);
    const bool firstPartCame = received.find("<p>first part end</p>") != std::string::npos;
    firstPartSeen = firstPartCame;
    received += browser.ReadUntilClosed(8000);
    EXPECT_TRUE(firstPartCame && waited.load()) << "the first part waited for the rest";
    EXPECT_TRUE(received == first + rest) << "received " << received.size() << " bytes";
}
