// Browser connections and their relays run on the listener's reused threads:
// a request without a body takes only its connection's thread, an upload or a
// tunnel one more beside it, and none of them leaves a new thread per request.
#include <platform/Socket.h>

#include <atomic>
#include <system_error>

#include "PipelineFixture.h"

namespace {

const std::string kOk = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
const std::string kEstablished = "HTTP/1.1 200 Connection established\r\nProxy-agent: Vantrel /0.2\r\n\r\n";

// A request that ends with `tail` was received. By content, not by position: a
// slow connect may make the proxy open a second connection and close the first
// unused, which the origin records as an empty request.
bool ReachedOrigin(testsupport::FakeOrigin& origin, const std::string& tail) {
    for (size_t i = 0; i < origin.RequestCount(); ++i) {
        const std::string request = origin.WaitRequest(i);
        if (request.size() >= tail.size() && request.compare(request.size() - tail.size(), tail.size(), tail) == 0)
            return true;
    }
    return false;
}

bool Settled(const ThreadPool& pool) {
    return testsupport::WaitFor([&] { return pool.IdleCount() == pool.ThreadCount(); }, 5000);
}

}  // namespace

class PooledThreadsTest : public PipelineTest {
protected:
    std::string Target(const testsupport::FakeOrigin& origin) {
        return "http://127.0.0.1:" + std::to_string(origin.port()) + "/up";
    }
    // A POST whose body comes only once its upload relay waits for it; the answer.
    std::string PostWithRelay(const testsupport::FakeOrigin& origin, const std::string& body) {
        testsupport::LoopbackClient browser;
        if (!browser.Connect(port_)) return "<no connection>";
        browser.SendAll("POST " + Target(origin) + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " +
                        std::to_string(body.size()) + "\r\n\r\n");
        // Both threads busy: the worker reads the answer, the relay the body.
        const ThreadPool& pool = proxy_->threads;
        if (!testsupport::WaitFor([&] { return pool.ThreadCount() - pool.IdleCount() == 2; }, 5000))
            return "<no relay>";
        browser.SendAll(body);
        return browser.ReadUntilClosed(5000);
    }
};

TEST_F(PooledThreadsTest, RequestsOneAfterAnotherReuseTheSameThreads) {
    testsupport::FakeOrigin origin(kOk);
    Start();
    const ThreadPool& pool = proxy_->threads;
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(Get(origin, "/"), kOk);
        ASSERT_TRUE(Settled(pool));
    }
    EXPECT_EQ(pool.StartedCount(), 1u) << "a request without a body took a thread beside its connection's";

    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(PostWithRelay(origin, "body" + std::to_string(i)), kOk);
        EXPECT_TRUE(ReachedOrigin(origin, "\r\n\r\nbody" + std::to_string(i)));
        ASSERT_TRUE(Settled(pool));
    }
    for (int i = 0; i < 3; ++i) {
        testsupport::LoopbackClient browser;
        ASSERT_TRUE(browser.Connect(port_));
        browser.SendAll("CONNECT 127.0.0.1:" + std::to_string(origin.port()) + " HTTP/1.1\r\n\r\n");
        ASSERT_EQ(browser.ReadUntil("\r\n\r\n", 5000), kEstablished);
        browser.SendAll("GET / HTTP/1.1\r\n\r\n");
        EXPECT_EQ(browser.ReadUntilClosed(5000), kOk);  // the origin closes: the tunnel ends
        ASSERT_TRUE(Settled(pool));
    }
    EXPECT_EQ(pool.StartedCount(), 2u);
    EXPECT_EQ(pool.ThreadCount(), 2u);
}

TEST_F(PooledThreadsTest, IdleThreadsEndAfterTheirTimeAndStopJoinsTheBusyOnes) {
    testsupport::FakeOrigin origin(kOk);
    limits_.idleThreadMs = 30;
    Start();
    ThreadPool& pool = proxy_->threads;
    EXPECT_EQ(Get(origin, "/"), kOk);
    ASSERT_TRUE(testsupport::WaitFor([&] { return pool.ThreadCount() == 0; }, 5000)) << "an idle thread was kept";
    EXPECT_EQ(Get(origin, "/"), kOk);
    EXPECT_EQ(pool.StartedCount(), 2u);

    testsupport::LoopbackClient waiting[3];
    for (auto& browser : waiting) ASSERT_TRUE(browser.Connect(port_));
    ASSERT_TRUE(testsupport::WaitFor([&] { return pool.ThreadCount() == 3 && pool.IdleCount() == 0; }, 5000));
    proxy_->Stop();
    EXPECT_EQ(pool.ThreadCount(), 0u);
    for (auto& browser : waiting) EXPECT_TRUE(browser.WaitClosed(1000));
}

// The worker had its thread; the relay for its body could not get one: that
// connection closes, and the one served beside it is answered.
TEST_F(PooledThreadsTest, RelayThatCannotStartClosesOnlyItsConnection) {
    testsupport::FakeOrigin origin(kOk);
    Start();
    ThreadPool& pool = proxy_->threads;
    ASSERT_EQ(PostWithRelay(origin, "first"), kOk);
    ASSERT_TRUE(Settled(pool));
    testsupport::LoopbackClient bystander;
    ASSERT_TRUE(bystander.Connect(port_));
    bystander.SendAll("GET " + Target(origin) + " HTTP/1.1\r\n");
    ASSERT_TRUE(testsupport::WaitFor([&] { return pool.IdleCount() == 1; }, 5000));

    std::atomic<bool> fail{true};
    ThreadPool::ThreadStarter normal;
    normal = pool.SetThreadStarter([&](std::function<void()> body) {
        if (fail) throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
        return normal(std::move(body));
    });
    testsupport::LoopbackClient upload;
    ASSERT_TRUE(upload.Connect(port_));
    upload.SendAll("POST " + Target(origin) + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 5\r\n\r\n");
    EXPECT_TRUE(upload.WaitClosed(3000)) << "a body without its relay kept the connection";
    bystander.SendAll("Host: 127.0.0.1\r\n\r\n");
    EXPECT_EQ(bystander.ReadUntilClosed(5000), kOk);
    fail = false;
    ASSERT_TRUE(Settled(pool));
    EXPECT_EQ(PostWithRelay(origin, "again"), kOk);
}
