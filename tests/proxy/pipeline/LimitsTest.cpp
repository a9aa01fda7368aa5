// The bounds and time-outs of a connection, at small values: a browser or an
// origin that sends too much, too slowly or nothing is let go, and the
// listener keeps serving everyone else.
#include <platform/Socket.h>

#include <system_error>

#include "PipelineFixture.h"

namespace {

const std::string kOk = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";

// An origin that reads the request and then says nothing until the proxy
// closes the connection (or, with `prefix`, sends that much first).
testsupport::FakeOrigin::Responder Silent(const std::string& prefix = "") {
    return [prefix](platform::Socket fd, const std::string&) {
        if (!prefix.empty()) testsupport::FakeOrigin::SendAll(fd, prefix);
        char buf[256];
        while (platform::WaitReadable(fd, 10000).rc > 0 && platform::RecvSome(fd, buf, sizeof buf).rc > 0) {
        }
    };
}

}  // namespace

TEST_F(PipelineTest, BrowserHeaderBoundsCloseTheConnection) {
    testsupport::FakeOrigin origin(kOk);
    limits_.maxRequestHeader = 1024;
    limits_.requestHeaderMs = 300;
    Start();
    const std::string line = "GET http://127.0.0.1:" + std::to_string(origin.port()) + "/ HTTP/1.1\r\n";
    // Within the bounds.
    EXPECT_EQ(Exchange(line + "X-Pad: " + std::string(900, 'p') + "\r\n\r\n"), kOk);
    // Too long, with or without its blank line.
    EXPECT_EQ(Exchange(line + "X-Pad: " + std::string(1100, 'p') + "\r\n\r\n"), "");
    EXPECT_EQ(Exchange(line + "X-Pad: " + std::string(100000, 'p')), "");
    // A browser that connects and sends nothing.
    testsupport::LoopbackClient silent;
    ASSERT_TRUE(silent.Connect(port_));
    EXPECT_TRUE(silent.WaitClosed(3000));
    // A browser that sends its header a byte at a time, too slowly.
    testsupport::LoopbackClient dripping;
    ASSERT_TRUE(dripping.Connect(port_));
    bool closed = false;
    for (size_t i = 0; i < line.size() && !closed; ++i) {
        platform::SendSome(dripping.fd(), &line[i], 1);
        closed = dripping.WaitClosed(50);
    }
    EXPECT_TRUE(closed || dripping.WaitClosed(3000)) << "a byte now and then kept the connection";
    EXPECT_EQ(origin.RequestCount(), 1u);
}

TEST_F(PipelineTest, OriginHeaderBoundsCloseTheConnection) {
    testsupport::FakeOrigin origin;
    limits_.maxResponseHeader = 1024;
    limits_.originAnswerMs = 300;
    limits_.idleMs = 300;
    Start();
    const std::string padded = "HTTP/1.1 200 OK\r\nX-Pad: " + std::string(900, 'p') + "\r\nContent-Length: 2\r\n\r\nok";
    origin.SetResponder([&](platform::Socket fd, const std::string&) { testsupport::FakeOrigin::SendAll(fd, padded); });
    EXPECT_EQ(Get(origin, "/"), padded);
    // A header block beyond the bound: closed, nothing relayed.
    const std::string huge = "HTTP/1.1 200 OK\r\nX-Pad: " + std::string(5000, 'p') + "\r\nContent-Length: 2\r\n\r\nok";
    origin.SetResponder([&](platform::Socket fd, const std::string&) { testsupport::FakeOrigin::SendAll(fd, huge); });
    EXPECT_EQ(Get(origin, "/"), "");
    // An origin that never answers.
    origin.SetResponder(Silent());
    EXPECT_EQ(Get(origin, "/"), "");
    // An origin that stops in the middle of the body: what came is relayed,
    // then the connection is closed.
    origin.SetResponder(Silent("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 100\r\n\r\n{\"a\""));
    EXPECT_EQ(Body(Get(origin, "/")), "{\"a\"");
    // The same for a page read whole: it is filtered as far as it came.
    origin.SetResponder(Silent("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 100\r\n\r\n<p>part"));
    EXPECT_EQ(Body(Get(origin, "/")), "<p>part");
}

TEST_F(PipelineTest, ConnectionsBeyondTheLimitAreClosedAtOnce) {
    testsupport::FakeOrigin origin(kOk);
    limits_.maxConnections = 2;
    Start();
    testsupport::LoopbackClient first, second, third;
    ASSERT_TRUE(first.Connect(port_));
    ASSERT_TRUE(second.Connect(port_));
    ASSERT_TRUE(testsupport::WaitFor([&] { return proxy_->connections.LiveCount() == 2; }, 3000));
    ASSERT_TRUE(third.Connect(port_));
    EXPECT_TRUE(third.WaitClosed(3000)) << "a connection beyond the limit was kept";
    first.Close();
    // The idle one does not count once it is gone: its slot serves again.
    ASSERT_TRUE(testsupport::WaitFor([&] { return proxy_->connections.LiveCount() <= 1; }, 3000));
    EXPECT_EQ(Get(origin, "/"), kOk);
}

TEST_F(PipelineTest, WorkerThatCannotStartClosesOnlyItsConnection) {
    testsupport::FakeOrigin origin(kOk);
    Start();
    std::atomic<bool> fail{true};
    ThreadPool::ThreadStarter normal;
    normal = proxy_->threads.SetThreadStarter([&](std::function<void()> body) {
        if (fail) throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
        return normal(std::move(body));
    });
    testsupport::LoopbackClient refused;
    ASSERT_TRUE(refused.Connect(port_));
    EXPECT_TRUE(refused.WaitClosed(3000));
    EXPECT_EQ(proxy_->connections.LiveCount(), 0u);
    fail = false;
    EXPECT_EQ(Get(origin, "/"), kOk);
}
