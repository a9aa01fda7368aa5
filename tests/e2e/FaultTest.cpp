// Broken origins and impatient browsers: each fault ends its own connection
// (never hangs it), and the proxy keeps serving every other connection,
// during the fault and after it. A steady trickle of normal requests runs
// for the whole of each test and must see no failure.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "Browser.h"
#include "LoadOrigin.h"
#include "ProxyProcess.h"
#include "support/LoopbackClient.h"

using namespace e2e;

namespace {

constexpr int kFaultTimeoutMs = 15000;

// Normal requests on a few threads until stopped.
class SteadyLoad {
public:
    SteadyLoad(uint16_t proxyPort, uint16_t originPort) {
        for (int t = 0; t < 4; ++t) {
            threads_.emplace_back([=, this] {
                static constexpr Kind kinds[] = {Kind::HtmlGzip, Kind::Json, Kind::HtmlChunked, Kind::HtmlPlain,
                                                 Kind::HtmlChunkedGzip, Kind::Binary};
                for (int i = t; !stop_; i += 4) {
                    std::string failure =
                        FetchAndCheck(proxyPort, originPort, kinds[i % 6], i % kPageVariants, "", kFaultTimeoutMs);
                    ++done_;
                    if (!failure.empty()) {
                        std::lock_guard<std::mutex> g(lock_);
                        if (failures_.empty()) firstFailure_ = failure;
                        failures_.push_back(failure);
                    }
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                }
            });
        }
    }
    ~SteadyLoad() { Finish(); }
    void Finish() {
        stop_ = true;
        for (auto& t : threads_)
            if (t.joinable()) t.join();
    }
    int done() const { return done_; }
    size_t failures() {
        std::lock_guard<std::mutex> g(lock_);
        return failures_.size();
    }
    std::string firstFailure() {
        std::lock_guard<std::mutex> g(lock_);
        return firstFailure_;
    }

private:
    std::atomic<bool> stop_{false};
    std::atomic<int> done_{0};
    std::mutex lock_;
    std::vector<std::string> failures_;
    std::string firstFailure_;
    std::vector<std::thread> threads_;
};

class FaultTest : public ::testing::Test {
protected:
    void SetUp() override {
        RaiseOpenFileLimit(4096);
        ASSERT_TRUE(proxy_.Start());
        ASSERT_EQ(Normal(), "");
        ASSERT_TRUE(WaitThreadsBack(5000));  // no connection thread left from the probe
        idleThreads_ = proxy_.ServingThreads();
        idleFiles_ = proxy_.OpenFiles();
        ASSERT_GT(idleThreads_, 0);
        ASSERT_GT(idleFiles_, 0);
        steady_ = std::make_unique<SteadyLoad>(proxy_.port(), origin_.port());
    }

    void TearDown() override {
        steady_->Finish();
        EXPECT_GT(steady_->done(), 0);
        EXPECT_EQ(steady_->failures(), 0u) << "a connection beside the faults failed: " << steady_->firstFailure();
        EXPECT_TRUE(proxy_.Running()) << "the proxy died";
        EXPECT_EQ(proxy_.Stop(10000), 0);
    }

    std::string Normal() { return FetchAndCheck(proxy_.port(), origin_.port(), Kind::HtmlGzip, 3); }

    // Sends a request for an origin path and reads until the proxy closes.
    Connection::Read Through(const std::string& path) {
        Connection c;
        if (!c.Open(proxy_.port()) || !c.Send(ProxyGet(origin_.port(), path))) return {};
        return c.ReadAll(kFaultTimeoutMs);
    }

    // True when only the serving threads and descriptors of an idle proxy
    // are left (plus the steady load's four connections, two threads and two
    // sockets each): no worker of a faulty connection is stuck, no socket
    // leaked. Pooled threads waiting for work do not count.
    bool WaitThreadsBack(int timeoutMs) {
        return testsupport::WaitFor(
            [&] {
                return idleThreads_ < 0 ||
                       (proxy_.ServingThreads() <= idleThreads_ + 8 && proxy_.OpenFiles() <= idleFiles_ + 8);
            },
            timeoutMs);
    }
    std::string Held() {
        return std::to_string(proxy_.ServingThreads()) + " serving threads and " + std::to_string(proxy_.OpenFiles()) +
               " descriptors, " + std::to_string(idleThreads_) + " and " + std::to_string(idleFiles_) + " when idle";
    }

    LoadOrigin origin_;
    ProxyProcess proxy_;
    long idleThreads_ = -1;
    long idleFiles_ = -1;
    std::unique_ptr<SteadyLoad> steady_;
};

}  // namespace

TEST_F(FaultTest, OriginBreakingItsAnswerEndsOnlyThatConnection) {
    // Closed inside the header block: the bytes are relayed as they came.
    Connection::Read r = Through("/fault/headcut");
    EXPECT_TRUE(r.closed);
    EXPECT_EQ(r.bytes, "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Len");
    EXPECT_EQ(Normal(), "");

    r = Through("/fault/silent");
    EXPECT_TRUE(r.closed);
    EXPECT_EQ(r.bytes, "");
    EXPECT_EQ(Normal(), "");

    // Fewer bytes than announced: a page is cut where the server stopped and
    // sent with a length that fits it; other content is relayed as it came.
    r = Through("/fault/short/html");
    Response page = ParseResponse(r.bytes);
    EXPECT_TRUE(r.closed);
    EXPECT_EQ(page.body.size(), 100000u);
    EXPECT_EQ(page.contentLength, static_cast<long>(page.body.size()));
    EXPECT_EQ(Normal(), "");

    r = Through("/fault/short/bin");
    Response data = ParseResponse(r.bytes);
    EXPECT_TRUE(r.closed);
    EXPECT_EQ(data.contentLength, 200000);
    EXPECT_EQ(data.body.size(), 100000u);
    EXPECT_EQ(Normal(), "");

    // More bytes than announced: a page is read to the server's close and
    // sent whole, with a length that fits it.
    r = Through("/fault/long/html");
    page = ParseResponse(r.bytes);
    EXPECT_TRUE(r.closed);
    EXPECT_EQ(page.body.size(), 200000u);
    EXPECT_EQ(page.contentLength, static_cast<long>(page.body.size()));
    EXPECT_EQ(Normal(), "");

    r = Through("/fault/long/bin");
    data = ParseResponse(r.bytes);
    EXPECT_TRUE(r.closed);
    EXPECT_GE(data.body.size(), 100000u);
    EXPECT_LE(data.body.size(), 200000u);
    EXPECT_EQ(Normal(), "");

    // A reset mid-body: whatever part arrived, the connection ends, and a
    // page that is sent at all carries a length that fits it.
    for (int round = 0; round < 10; ++round) {
        r = Through(round % 2 ? "/fault/reset/html" : "/fault/reset/bin");
        EXPECT_TRUE(r.closed) << "round " << round;
        data = ParseResponse(r.bytes);
        EXPECT_LE(data.body.size(), 100000u);
        if (round % 2 && data.complete) {
            EXPECT_EQ(data.contentLength, static_cast<long>(data.body.size()));
        }
        EXPECT_EQ(Normal(), "");
    }
    EXPECT_TRUE(WaitThreadsBack(10000)) << Held();
}

TEST_F(FaultTest, StalledOriginHoldsOnlyItsOwnConnections) {
    constexpr int kStalls = 8;
    std::vector<std::unique_ptr<Connection>> stalled;
    for (int i = 0; i < kStalls; ++i) {
        stalled.push_back(std::make_unique<Connection>());
        ASSERT_TRUE(stalled.back()->Open(proxy_.port()));
        ASSERT_TRUE(stalled.back()->Send(ProxyGet(origin_.port(), i % 2 ? "/fault/stall/html" : "/fault/stall/bin")));
    }
    ASSERT_TRUE(origin_.WaitStalled(kStalls, 10000));

    // While the origin holds them, everything else is served.
    LoadStats during = RunLoad(200, 8, 60000, [&](int i) {
        return FetchAndCheck(proxy_.port(), origin_.port(), i % 2 ? Kind::HtmlChunkedGzip : Kind::Json, i % kPageVariants);
    });
    EXPECT_EQ(during.started, 200);
    EXPECT_EQ(during.failed, 0) << (during.failures.empty() ? "" : during.failures[0]);
    // Content that is not inspected streams on; a page waits for its end.
    for (int i = 0; i < kStalls; i += 2) {
        Connection::Read partial = stalled[i]->ReadAtLeast(100000, 10000);
        Response head = ParseResponse(partial.bytes);
        EXPECT_FALSE(partial.closed);
        EXPECT_EQ(head.body.size(), 100000u) << "stalled relay " << i;
    }
    for (int i = 1; i < kStalls; i += 2) {
        Connection::Read nothing = stalled[i]->ReadAtLeast(1, 200);
        EXPECT_EQ(nothing.bytes, "") << "a page was sent before its end";
    }

    origin_.ReleaseStalls();
    for (int i = 1; i < kStalls; i += 2) {
        Connection::Read r = stalled[i]->ReadAll(kFaultTimeoutMs);
        Response page = ParseResponse(r.bytes);
        EXPECT_TRUE(r.closed);
        EXPECT_EQ(page.body.size(), 100000u);
        EXPECT_EQ(page.contentLength, static_cast<long>(page.body.size()));
    }
    for (int i = 0; i < kStalls; i += 2) EXPECT_TRUE(stalled[i]->ReadAll(kFaultTimeoutMs).closed);
    EXPECT_EQ(Normal(), "");
    EXPECT_TRUE(WaitThreadsBack(10000)) << Held();
}

TEST_F(FaultTest, BrowserLeavingMidTransferEndsOnlyThatConnection) {
    // Mid-download: a 1 MB relay and a whole page, left after the first
    // bytes, by a reset or by an orderly close.
    for (int round = 0; round < 16; ++round) {
        Connection c;
        ASSERT_TRUE(c.Open(proxy_.port()));
        ASSERT_TRUE(c.Send(ProxyGet(origin_.port(), round % 4 < 2 ? "/bin/1" : PathOf(Kind::HtmlPlain, 63))));
        EXPECT_GE(c.ReadAtLeast(4096, 10000).bytes.size(), 4096u);
        if (round % 2)
            c.Abort();
        else
            c.Close();
        EXPECT_EQ(Normal(), "");
    }

    // Mid-upload: a body announced as 1 MB, left after 300 KB. The origin
    // sees the part that was sent and no more.
    const std::string body(300000, 'u');
    const std::string post = "POST http://127.0.0.1:" + std::to_string(origin_.port()) +
                             "/upload HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/octet-stream\r\n"
                             "Content-Length: 1048576\r\nProxy-Connection: keep-alive\r\n\r\n";
    constexpr int kUploads = 8;
    for (int round = 0; round < kUploads; ++round) {
        Connection c;
        ASSERT_TRUE(c.Open(proxy_.port()));
        ASSERT_TRUE(c.Send(post));
        ASSERT_TRUE(c.Send(body));
        if (round % 2)
            c.Abort();
        else
            c.Close();
        EXPECT_EQ(Normal(), "");
    }
    ASSERT_TRUE(testsupport::WaitFor([&] { return origin_.Uploads().size() >= kUploads; }, 20000));
    for (size_t got : origin_.Uploads()) EXPECT_LE(got, body.size());

    // A whole upload still goes through: the browser reads the answer, then
    // closes, which ends the proxy's relay of its body.
    Connection whole;
    ASSERT_TRUE(whole.Open(proxy_.port()));
    std::string full(1048576, 'w');
    ASSERT_TRUE(whole.Send(post));
    ASSERT_TRUE(whole.Send(full));
    Connection::Read answer = whole.ReadResponse(kFaultTimeoutMs);
    EXPECT_NE(answer.bytes.find("received 1048576"), std::string::npos) << answer.bytes;
    whole.Close();

    EXPECT_TRUE(WaitThreadsBack(10000)) << Held();
}
