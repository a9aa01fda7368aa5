// A control command sent to the local web server changes what the proxy does
// with the very next request.
#include "PipelineFixture.h"
#include "web/CHttpServer.h"

namespace {

class ControlCommandTest : public PipelineTest {
protected:
    void StartWithWebServer(const std::string& config = "") {
        Start(config);
        webPort_ = testsupport::FreeLoopbackPort();
        web_ = std::make_unique<CHttpServer>(webPort_, "127.0.0.1", "www", proxy_.get());
        ASSERT_EQ(web_->Listen(), 1);
        webThread_ = std::thread([this] { web_->ServeRequests(); });
    }
    void TearDown() override {
        if (web_) web_->Stop();
        if (webThread_.joinable()) webThread_.join();
        web_.reset();
        PipelineTest::TearDown();
    }
    std::string Command(const std::string& path) {
        testsupport::LoopbackClient c;
        if (!c.Connect(webPort_)) return {};
        c.SendAll("GET " + path + " HTTP/1.1\r\n\r\n");
        return c.ReadUntilClosed(3000);
    }

    uint16_t webPort_ = 0;
    std::unique_ptr<CHttpServer> web_;
    std::thread webThread_;
};

}  // namespace

TEST_F(ControlCommandTest, BlockThenTrustASiteTakesEffectOnTheNextRequest) {
    folder_->Write("www/OperationCompleted.html", "<p>done</p>");
    testsupport::FakeOrigin origin("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
    StartWithWebServer("addressFilterPage=1\n");
    const std::string request = "GET http://news.test:" + std::to_string(origin.port()) + "/ HTTP/1.1\r\n\r\n";
    ASSERT_EQ(Body(Exchange(request)), "ok");

    EXPECT_NE(Command("/zelk.black?url=news.test").find("<p>done</p>"), std::string::npos);
    EXPECT_EQ(Body(Exchange(request)), kBlockBody);

    // Trusting the site outranks the block list.
    EXPECT_NE(Command("/zelk.white?url=news.test").find("<p>done</p>"), std::string::npos);
    EXPECT_EQ(Body(Exchange(request)), "ok");
}

TEST_F(ControlCommandTest, HideImagesMarksTheSiteSoItsPagesLoseTheirImages) {
    folder_->Write("www/OperationCompleted.html", "<p>done</p>");
    std::string page = "<html><head><title>t</title></head><body><img src=\"a.png\"></body></html>";
    testsupport::FakeOrigin origin(HtmlResponse(page));
    StartWithWebServer();
    const std::string request = "GET http://pics.test:" + std::to_string(origin.port()) + "/ HTTP/1.1\r\n\r\n";
    ASSERT_NE(Body(Exchange(request)).find("<img src"), std::string::npos);

    Command("/zelk.noimg?url=pics.test");
    EXPECT_EQ(ProxyConfig().Config().imageMode.load(), 2);
    std::string filtered = Body(Exchange(request));
    EXPECT_EQ(filtered.find("<img src"), std::string::npos) << filtered;
}

// A control command reloads the ad-block rules as well: a list changed since
// the last load is in force for the next request.
TEST_F(ControlCommandTest, CommandTakesUpAChangedAdBlockList) {
    folder_->Write("www/OperationCompleted.html", "<p>done</p>");
    testsupport::FakeOrigin origin("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
    folder_->Write("Data/easylistchina.txt", "||ads1.test^\n");
    StartWithWebServer();
    std::string p = std::to_string(origin.port());
    auto get = [&](const std::string& host) { return Exchange("GET http://" + host + ":" + p + "/x HTTP/1.1\r\n\r\n"); };
    EXPECT_EQ(Body(get("ads1.test")), kNotFoundBody);
    EXPECT_EQ(Body(get("ads2.test")), "ok");

    folder_->Write("Data/easylistchina.txt", "||ads2.test^\n");
    EXPECT_NE(Command("/zelk.black?url=unrelated.test").find("<p>done</p>"), std::string::npos);
    EXPECT_EQ(Body(get("ads1.test")), "ok");
    EXPECT_EQ(Body(get("ads2.test")), kNotFoundBody);
}
