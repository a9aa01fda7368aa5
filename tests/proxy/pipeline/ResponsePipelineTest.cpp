// Responses through the real listener: pages read whole, decoded, filtered
// and measured; images and video suppressed; everything else streamed.
#include <atomic>
#include <chrono>

#include "PipelineFixture.h"
#include "proxy/http/GzipTestSupport.h"

TEST_F(PipelineTest, HtmlPageLosesItsCondemnedLinksAndAnnouncesItsNewLength) {
    testsupport::FakeOrigin origin(HtmlResponse(PageWithAnchors(5, 1)));
    Start();
    std::string answer = Get(origin, "/page");
    std::string body = Body(answer);
    EXPECT_EQ(body.find("badword"), std::string::npos) << body;
    EXPECT_NE(body.find("<a href=\"/4\">link 4</a>"), std::string::npos) << body;
    EXPECT_EQ(ContentLength(answer), static_cast<long>(body.size())) << Head(answer);
}

TEST_F(PipelineTest, HtmlPageWithoutLengthIsReadUntilTheServerClosesAndGetsALength) {
    testsupport::FakeOrigin origin("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n" + PageWithAnchors(3, 0));
    Start();
    std::string answer = Get(origin, "/");
    EXPECT_EQ(Head(answer).rfind("HTTP/1.1 200 OK\r\nContent-Length: ", 0), 0u) << Head(answer);
    EXPECT_EQ(ContentLength(answer), static_cast<long>(Body(answer).size()));
    EXPECT_NE(Body(answer).find("link 2"), std::string::npos);
}

TEST_F(PipelineTest, GzipPageArrivesDecodedWithEncodingNone) {
    std::string page = PageWithAnchors(4, 1);
    std::string zipped = gziptest::Gzip(page);
    testsupport::FakeOrigin origin("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Encoding: gzip\r\nContent-Length: " +
                                   std::to_string(zipped.size()) + "\r\n\r\n" + zipped);
    Start();
    std::string answer = Get(origin, "/");
    EXPECT_NE(Head(answer).find("Content-Encoding: none\r\n"), std::string::npos) << Head(answer);
    EXPECT_NE(Body(answer).find("<title>Fine</title>"), std::string::npos);
    EXPECT_EQ(Body(answer).find("badword"), std::string::npos);
    EXPECT_EQ(ContentLength(answer), static_cast<long>(Body(answer).size()));
}

TEST_F(PipelineTest, ChunkedGzipPageArrivesDecodedWithTheNewLengthFirst) {
    std::string body = Chunked(gziptest::Gzip(PageWithAnchors(6, 2)), 100);
    testsupport::FakeOrigin origin("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nTransfer-Encoding: chunked\r\n"
                                   "Content-Encoding: gzip\r\n\r\n" + body);
    Start();
    std::string answer = Get(origin, "/");
    std::string head = Head(answer);
    EXPECT_EQ(head.rfind("HTTP/1.1 200 OK\r\nContent-Length: ", 0), 0u) << head;
    EXPECT_NE(head.find("Transfer-Encoding: none\r\n"), std::string::npos) << head;
    EXPECT_NE(head.find("Content-Encoding: none\r\n"), std::string::npos) << head;
    EXPECT_NE(Body(answer).find("link 5"), std::string::npos);
    EXPECT_EQ(Body(answer).find("badword"), std::string::npos);
    EXPECT_EQ(ContentLength(answer), static_cast<long>(Body(answer).size()));
}

TEST_F(PipelineTest, TrustedSitePageIsDeliveredByteForByte) {
    std::string sent = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nTransfer-Encoding: chunked\r\n"
                       "Content-Encoding: gzip\r\n\r\n" + Chunked(gziptest::Gzip(PageWithAnchors(30, 30, "badword")), 64);
    testsupport::FakeOrigin origin(sent);
    Start();
    EXPECT_EQ(Get(origin, "/", "www.trusted.test"), sent);
}

TEST_F(PipelineTest, PageCondemnedByItsTitleGetsTheChosenPage) {
    testsupport::FakeOrigin origin(HtmlResponse(PageWithAnchors(2, 0, "badword title")));
    Start("addressFilterPage=1\n");
    EXPECT_EQ(Body(Get(origin, "/")), kBlockBody);
    unsigned before = ProxyConfig().filterCount();
    ProxyConfig().Config().addressFilterPage = 0;
    std::string answer = Get(origin, "/");
    EXPECT_EQ(answer.rfind("HTTP/1.1 404 not found\r\n", 0), 0u);
    EXPECT_EQ(Body(answer), kNotFoundBody);
    EXPECT_EQ(ProxyConfig().filterCount(), before) << "a title block counts nothing";
}

TEST_F(PipelineTest, LinkRatioAboveTheThresholdCondemnsAndCountsTheRemovedLinks) {
    testsupport::FakeOrigin origin(HtmlResponse(PageWithAnchors(21, 11)));
    Start("intelligentTipPage=1\n");
    unsigned before = ProxyConfig().filterCount();
    EXPECT_EQ(Body(Get(origin, "/")), kTipBody);
    EXPECT_EQ(ProxyConfig().filterCount(), before + 11);

    ProxyConfig().Config().intelligentTipPage = 0;
    EXPECT_EQ(Body(Get(origin, "/")), kNotFoundBody);

    // Mode 3 turns the rule off: the page passes without its bad links, still counted.
    ProxyConfig().Config().intelligentMode = 3;
    std::string answer = Get(origin, "/");
    EXPECT_NE(Body(answer).find("link 20"), std::string::npos);
    EXPECT_EQ(Body(answer).find("badword"), std::string::npos);
    EXPECT_EQ(ProxyConfig().filterCount(), before + 33);
}

TEST_F(PipelineTest, LinkRatioNeedsMoreThanTwentyAnchorsAndAShareAboveTheThreshold) {
    testsupport::FakeOrigin twenty(HtmlResponse(PageWithAnchors(20, 20)));
    testsupport::FakeOrigin equal(HtmlResponse(PageWithAnchors(22, 11)));  // exactly 50 %
    Start();
    unsigned before = ProxyConfig().filterCount();
    std::string page = Body(Get(twenty, "/"));
    EXPECT_NE(page.find("<title>Fine</title>"), std::string::npos) << "20 anchors are never measured: " << page;
    EXPECT_EQ(page.find("badword"), std::string::npos);
    EXPECT_EQ(ProxyConfig().filterCount(), before);
    EXPECT_NE(Body(Get(equal, "/")).find("link 21"), std::string::npos) << "a ratio equal to the threshold passes";
    EXPECT_EQ(ProxyConfig().filterCount(), before + 11);
}

TEST_F(PipelineTest, ImagesAndVideoAreSuppressedOnlyWhenAskedAndNeverOnTrustedSites) {
    const std::string emptyImage =
        "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\nConnection: close\r\nContent-Length: 0\r\n\r\n";
    std::string gif = "HTTP/1.1 200 OK\r\nContent-Type: image/gif\r\nContent-Length: 6\r\n\r\nGIF89a";
    std::string video = "HTTP/1.1 200 OK\r\nContent-Type: video/mp4\r\nContent-Length: 4\r\n\r\nmp4!";
    testsupport::FakeOrigin image(gif), movie(video);
    Start("imageMode=1\nblockVideo=1\n");
    EXPECT_EQ(Get(image, "/a.gif"), emptyImage);
    EXPECT_EQ(Get(movie, "/a.mp4"), emptyImage);
    EXPECT_EQ(Get(image, "/a.gif", "trusted.test"), gif);
    ProxyConfig().Config().imageMode = 2;
    ProxyConfig().Config().blockVideo = 0;
    EXPECT_EQ(Get(image, "/a.gif"), gif);
    EXPECT_EQ(Get(movie, "/a.mp4"), video);
}

TEST_F(PipelineTest, JsonIsRelayedAsItArrivesWithoutWaitingForTheWhole) {
    std::atomic<bool> firstPartSeen{false};
    testsupport::FakeOrigin origin;
    origin.SetResponder([&](platform::Socket fd, const std::string&) {
        testsupport::FakeOrigin::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n"
                                             "Content-Length: 20\r\n\r\n{\"part\":1,");
        // The rest only once the browser has the first part: a proxy that
        // buffers would never deliver it.
        testsupport::WaitFor([&] { return firstPartSeen.load(); }, 3000);
        testsupport::FakeOrigin::SendAll(fd, "\"more\":2}\n");
    });
    Start();
    testsupport::LoopbackClient browser;
    ASSERT_TRUE(browser.Connect(port_));
    browser.SendAll("GET http://127.0.0.1:" + std::to_string(origin.port()) + "/j HTTP/1.1\r\n\r\n");
    std::string received;
    char buf[256];
    while (received.find("{\"part\":1,") == std::string::npos) {
        int n = platform::RecvSome(browser.fd(), buf, sizeof buf).rc;
        ASSERT_GT(n, 0) << received;
        received.append(buf, static_cast<size_t>(n));
    }
    firstPartSeen = true;
    received += browser.ReadUntilClosed(3000);
    EXPECT_EQ(Body(received), "{\"part\":1,\"more\":2}\n");
}

TEST_F(PipelineTest, NotModifiedWithHtmlMarkAndNoLengthWaitsForTheServerToClose) {
    testsupport::FakeOrigin origin("HTTP/1.1 304 Not Modified\r\nVary: text/html\r\nX-Note: a text/html b\r\n\r\n");
    Start();
    std::string answer = Get(origin, "/");
    EXPECT_EQ(answer.rfind("HTTP/1.1 304 Not Modified\r\nContent-Length: 0\r\n", 0), 0u) << answer;
}

TEST_F(PipelineTest, HeaderBlockSplitAcrossReceivesIsRecognisedAtOnce) {
    testsupport::FakeOrigin origin;
    origin.SetResponder([](platform::Socket fd, const std::string&) {
        testsupport::FakeOrigin::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 9\r\n\r");
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        testsupport::FakeOrigin::SendAll(fd, "\n<b>hi</b>");
        // Keeps the connection open: the answer must not wait for a close.
        std::this_thread::sleep_for(std::chrono::milliseconds(3000));
    });
    Start();
    auto start = std::chrono::steady_clock::now();
    std::string answer = Get(origin, "/");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));
    EXPECT_NE(Body(answer).find("<b>hi</b>"), std::string::npos) << answer;
}
