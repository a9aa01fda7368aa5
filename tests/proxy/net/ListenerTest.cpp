// The proxy listener on loopback: registration of connections, stop with
// connected browsers, and the port rules.
#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

#include <platform/Socket.h>

#include "net/CLocalProxy.h"
#include "support/LoopbackClient.h"
#include "support/TempFolder.h"

using testsupport::LoopbackClient;
using testsupport::WaitFor;

namespace {

// A listener serving on its own thread, in a fresh data folder.
class RunningListener {
public:
    RunningListener() : port_(testsupport::FreeLoopbackPort()), proxy_(std::make_unique<CLocalProxy>(port_)) {
        listening_ = proxy_->Listen() == 1;
        if (listening_) thread_ = std::thread([this] { proxy_->AcceptLoop(); });
    }
    ~RunningListener() {
        if (proxy_) proxy_->Stop();
        if (thread_.joinable()) thread_.join();
    }
    void Stop() {
        proxy_->Stop();
        thread_.join();
    }
    bool listening() const { return listening_; }
    uint16_t port() const { return port_; }
    CLocalProxy& proxy() { return *proxy_; }
    std::unique_ptr<CLocalProxy>& owned() { return proxy_; }

private:
    testsupport::TempFolder folder_{true};
    uint16_t port_;
    std::unique_ptr<CLocalProxy> proxy_;
    bool listening_ = false;
    std::thread thread_;
};

}  // namespace

TEST(ListenerTest, AcceptsAndRegistersEveryConnectionUntilTheBrowserCloses) {
    RunningListener listener;
    ASSERT_TRUE(listener.listening());
    std::vector<std::unique_ptr<LoopbackClient>> browsers;
    for (int i = 0; i < 5; ++i) {
        browsers.push_back(std::make_unique<LoopbackClient>());
        ASSERT_TRUE(browsers.back()->Connect(listener.port()));
    }
    EXPECT_TRUE(WaitFor([&] { return listener.proxy().connections.LiveCount() == 5; }, 2000));

    // A browser that closes lets its worker end and release its record.
    browsers[0]->Close();
    browsers[1]->Close();
    EXPECT_TRUE(WaitFor([&] { return listener.proxy().connections.LiveCount() == 3; }, 2000));
}

TEST(ListenerTest, StopClosesEveryIdleBrowserAndEmptiesTheRegistry) {
    RunningListener listener;
    ASSERT_TRUE(listener.listening());
    std::vector<std::unique_ptr<LoopbackClient>> browsers;
    for (int i = 0; i < 20; ++i) {
        browsers.push_back(std::make_unique<LoopbackClient>());
        ASSERT_TRUE(browsers.back()->Connect(listener.port()));
    }
    ASSERT_TRUE(WaitFor([&] { return listener.proxy().connections.LiveCount() == 20; }, 2000));

    listener.Stop();
    EXPECT_EQ(listener.proxy().connections.LiveCount(), 0u);
    EXPECT_EQ(listener.proxy().threads.ThreadCount(), 0u) << "Stop left pooled threads running";
    EXPECT_FALSE(listener.proxy().IsListening());
    for (auto& b : browsers) EXPECT_TRUE(b->WaitClosed(1000)) << "a browser socket was left open";
    LoopbackClient late;
    EXPECT_FALSE(late.Connect(listener.port())) << "the port still accepts after stop";
}

TEST(ListenerTest, DestroyingTheListenerRightAfterStopLeavesNoWorkerBehind) {
    // Connect and disconnect while the listener is stopped and destroyed:
    // AddressSanitizer and ThreadSanitizer catch any worker touching it later.
    for (int round = 0; round < 5; ++round) {
        RunningListener listener;
        ASSERT_TRUE(listener.listening());
        std::vector<std::unique_ptr<LoopbackClient>> browsers;
        for (int i = 0; i < 10; ++i) {
            browsers.push_back(std::make_unique<LoopbackClient>());
            ASSERT_TRUE(browsers.back()->Connect(listener.port()));
            if (i % 2) browsers.back()->Close();
        }
        listener.Stop();
        listener.owned().reset();
    }
}

TEST(ListenerTest, StopConcurrencyWithBrowsersConnectingAndLeaving) {
    RunningListener listener;
    ASSERT_TRUE(listener.listening());
    std::atomic<bool> run{true};
    std::vector<std::thread> browsers;
    for (int t = 0; t < 4; ++t) {
        browsers.emplace_back([&] {
            for (int i = 0; i < 200 && run; ++i) {
                LoopbackClient c;
                if (c.Connect(listener.port()) && i % 3 == 0) c.SendAll("x");
            }
        });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    listener.Stop();
    run = false;
    for (auto& b : browsers) b.join();
    EXPECT_EQ(listener.proxy().connections.LiveCount(), 0u);
}

TEST(ListenerTest, ListenFailsWhenThePortIsTakenAndMayBeRetried) {
    testsupport::TempFolder folder(true);
    uint16_t port = testsupport::FreeLoopbackPort();
    CLocalProxy first(port), second(port);
    ASSERT_EQ(first.Listen(), 1);
    EXPECT_EQ(second.Listen(), 0);
    EXPECT_FALSE(second.IsListening());
    // The reason is the system's, as a plain socket meets it.
    platform::Socket plain = platform::CreateTcpSocket().rc;
    const int refused = platform::BindIPv4(plain, "127.0.0.1", port).errorCode;
    platform::CloseSocket(plain);
    EXPECT_NE(refused, 0);
    EXPECT_EQ(second.ListenFailure(), platform::SocketErrorText(refused));
    first.Stop();
    EXPECT_EQ(second.Listen(), 1) << "a failed Listen must leave the object ready for another";
    second.Stop();
}

TEST(ListenerTest, ListensOnTheConfiguredAddressOnly) {
    testsupport::TempFolder folder(true);
    uint16_t port = testsupport::FreeLoopbackPort();
    CLocalProxy proxy(port, "127.0.0.1");
    ASSERT_EQ(proxy.Listen(), 1);
    LoopbackClient local, other;
    EXPECT_TRUE(local.Connect(port, "127.0.0.1"));
    EXPECT_FALSE(other.Connect(port, "127.0.0.2")) << "bound to every interface";
    proxy.Stop();
}

TEST(ListenerTest, ListenAfterStopFails) {
    // A stop that overtakes the serving thread's start must not leave a
    // listener serving that nobody will stop.
    testsupport::TempFolder folder(true);
    CLocalProxy proxy(testsupport::FreeLoopbackPort());
    proxy.Stop();
    EXPECT_EQ(proxy.Listen(), 0);
}

// A restart finds the connections of the previous run in TIME_WAIT on its
// port (the proxy closes first after each request): it listens all the same.
TEST(ListenerTest, RestartWhileOldConnectionsSitInTimeWaitListens) {
    testsupport::TempFolder folder(true);
    const uint16_t port = testsupport::FreeLoopbackPort();
    {
        CLocalProxy first(port);
        ASSERT_EQ(first.Listen(), 1);
        std::thread serving([&] { first.AcceptLoop(); });
        for (int i = 0; i < 3; ++i) {
            LoopbackClient browser;
            ASSERT_TRUE(browser.Connect(port));
            // No host to connect to: the proxy closes the connection itself.
            browser.SendAll("GET / HTTP/1.1\r\n\r\n");
            EXPECT_TRUE(browser.WaitClosed(3000));
        }
        first.Stop();
        serving.join();
    }
    CLocalProxy second(port);
    EXPECT_EQ(second.Listen(), 1) << second.ListenFailure();
    second.Stop();
}
