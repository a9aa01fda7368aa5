#include "net/TunnelRelay.h"

#include <platform/Tick.h>

#include <gtest/gtest.h>

#include <platform/Socket.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "net/ConnectionRecord.h"
#include "support/LoopbackClient.h"

namespace {

// Reads exactly n bytes, or what arrived before the deadline or the close.
std::string ReadExactly(platform::Socket fd, size_t n, int timeoutMs = 3000) {
    std::string out;
    char buf[65536];
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (out.size() < n) {
        int left = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count());
        if (left <= 0 || platform::WaitReadable(fd, left).rc != 1) break;
        int got = platform::RecvSome(fd, buf, static_cast<int>(std::min(sizeof buf, n - out.size()))).rc;
        if (got <= 0) break;
        out.append(buf, static_cast<size_t>(got));
    }
    return out;
}

bool SendAll(platform::Socket fd, const std::string& data) {
    for (size_t sent = 0; sent < data.size();) {
        int n = platform::SendSome(fd, data.data() + sent, static_cast<int>(data.size() - sent)).rc;
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

// A tunnel between a browser and an origin server: the proxy holds one end of
// each connection; the test plays browser and origin on the other ends.
struct Tunnel {
    platform::Socket browser = platform::kInvalidSocket, proxyClient = platform::kInvalidSocket,
                     proxyUpstream = platform::kInvalidSocket, origin = platform::kInvalidSocket;
    ConnectionRecord forward;   // origin -> browser
    ConnectionRecord backward;  // browser -> origin: the sockets swapped
    std::future<int> down, up;
    std::atomic<uint64_t> lastByte{platform::TickCount()};

    explicit Tunnel(int idleMs = 60000) {
        if (!testsupport::LoopbackSocketPair(browser, proxyClient)) return;
        if (!testsupport::LoopbackSocketPair(proxyUpstream, origin)) return;
        forward.clientSocket = proxyClient;
        forward.upstreamSocket = proxyUpstream;
        backward.clientSocket = proxyUpstream;
        backward.upstreamSocket = proxyClient;
        down = std::async(std::launch::async, TunnelRelay, &forward, &lastByte, idleMs);
        up = std::async(std::launch::async, TunnelRelay, &backward, &lastByte, idleMs);
    }
    ~Tunnel() {
        // Ends any relay still running before the records go.
        for (platform::Socket fd : {proxyClient, proxyUpstream}) platform::ShutdownSocket(fd);
        if (down.valid()) down.wait();
        if (up.valid()) up.wait();
        for (platform::Socket fd : {browser, proxyClient, proxyUpstream, origin}) platform::CloseSocket(fd);
    }
    static bool Ended(std::future<int>& f, int timeoutMs = 3000) {
        return f.wait_for(std::chrono::milliseconds(timeoutMs)) == std::future_status::ready && f.get() == 0;
    }
};

TEST(TunnelRelay, CopiesBytesBothWaysExactly) {
    Tunnel t;
    ASSERT_NE(t.origin, platform::kInvalidSocket);
    static const char kHello[] = "\x16\x03\x01 client hello \0 with a zero";
    const std::string hello(kHello, sizeof kHello);  // the zero bytes included
    ASSERT_TRUE(SendAll(t.browser, hello));
    EXPECT_EQ(ReadExactly(t.origin, hello.size()), hello);

    // More than one buffer's worth, with every byte value.
    std::string big;
    for (int i = 0; i < 200000; ++i) big.push_back(static_cast<char>(i * 7 + i / 256));
    std::thread writer([&] { SendAll(t.origin, big); });
    std::string received = ReadExactly(t.browser, big.size());
    writer.join();
    EXPECT_EQ(received.size(), big.size());
    EXPECT_TRUE(received == big);
}

TEST(TunnelRelay, OriginClosingEndsItsDirection) {
    Tunnel t;
    ASSERT_NE(t.origin, platform::kInvalidSocket);
    ASSERT_TRUE(SendAll(t.origin, "last words"));
    platform::ShutdownSend(t.origin);
    EXPECT_EQ(ReadExactly(t.browser, 10), "last words");
    EXPECT_TRUE(Tunnel::Ended(t.down));
    // The other direction still works until the sockets are closed.
    ASSERT_TRUE(SendAll(t.browser, "more"));
    EXPECT_EQ(ReadExactly(t.origin, 4), "more");
    EXPECT_EQ(t.up.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);
    // Closing both sockets, as the worker does, ends it.
    platform::ShutdownSocket(t.proxyClient);
    platform::ShutdownSocket(t.proxyUpstream);
    EXPECT_TRUE(Tunnel::Ended(t.up));
}

TEST(TunnelRelay, BrowserGoneEndsRelayOnFailedSend) {
    Tunnel t;
    ASSERT_NE(t.origin, platform::kInvalidSocket);
    // Gone abruptly: a reset, so the very next send to it fails.
    platform::ResetSocket(t.browser);
    t.browser = platform::kInvalidSocket;
    EXPECT_TRUE(Tunnel::Ended(t.up));  // its receive sees the reset
    // The origin's next bytes cannot be delivered: that relay ends too.
    SendAll(t.origin, "to nobody");
    EXPECT_TRUE(Tunnel::Ended(t.down));
}

}  // namespace

// A tunnel that carries nothing either way for its idle time ends; bytes
// flowing one way keep the quiet other way open.
TEST(TunnelRelay, EndsOnlyWhenIdleBothWays) {
    Tunnel busy(400);
    char byte;
    for (int i = 0; i < 10; ++i) {
        ASSERT_EQ(platform::SendSome(busy.origin, "x", 1).rc, 1);
        ASSERT_EQ(platform::RecvSome(busy.browser, &byte, 1).rc, 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_EQ(busy.up.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout)
        << "the quiet direction ended while the other carried bytes";
    EXPECT_TRUE(Tunnel::Ended(busy.down, 3000));
    EXPECT_TRUE(Tunnel::Ended(busy.up, 3000));

    Tunnel silent(100);
    EXPECT_TRUE(Tunnel::Ended(silent.down, 3000));
    EXPECT_TRUE(Tunnel::Ended(silent.up, 3000));
}
