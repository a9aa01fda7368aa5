#include "net/TunnelRelay.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "net/ConnectionRecord.h"

namespace {

// Reads exactly n bytes, or what arrived before the deadline or the close.
std::string ReadExactly(int fd, size_t n, int timeoutMs = 3000) {
    std::string out;
    char buf[65536];
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (out.size() < n) {
        int left = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count());
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || ::poll(&p, 1, left) != 1) break;
        ssize_t got = ::recv(fd, buf, std::min(sizeof buf, n - out.size()), 0);
        if (got <= 0) break;
        out.append(buf, static_cast<size_t>(got));
    }
    return out;
}

bool SendAll(int fd, const std::string& data) {
    for (size_t sent = 0; sent < data.size();) {
        ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

// A tunnel between a browser and an origin server: the proxy holds one end of
// each socket pair; the test plays browser and origin on the other ends.
struct Tunnel {
    int browser = -1, proxyClient = -1, proxyUpstream = -1, origin = -1;
    ConnectionRecord forward;   // origin -> browser
    ConnectionRecord backward;  // browser -> origin: the sockets swapped
    std::future<int> down, up;

    Tunnel() {
        int a[2], b[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM, 0, a) != 0 || ::socketpair(AF_UNIX, SOCK_STREAM, 0, b) != 0) return;
        browser = a[0];
        proxyClient = a[1];
        proxyUpstream = b[0];
        origin = b[1];
        forward.clientSocket = proxyClient;
        forward.upstreamSocket = proxyUpstream;
        backward.clientSocket = proxyUpstream;
        backward.upstreamSocket = proxyClient;
        down = std::async(std::launch::async, TunnelRelay, &forward);
        up = std::async(std::launch::async, TunnelRelay, &backward);
    }
    ~Tunnel() {
        // Ends any relay still running before the records go.
        for (int fd : {proxyClient, proxyUpstream}) ::shutdown(fd, SHUT_RDWR);
        if (down.valid()) down.wait();
        if (up.valid()) up.wait();
        for (int fd : {browser, proxyClient, proxyUpstream, origin})
            if (fd >= 0) ::close(fd);
    }
    static bool Ended(std::future<int>& f, int timeoutMs = 3000) {
        return f.wait_for(std::chrono::milliseconds(timeoutMs)) == std::future_status::ready && f.get() == 0;
    }
};

TEST(TunnelRelay, CopiesBytesBothWaysExactly) {
    Tunnel t;
    ASSERT_GE(t.origin, 0);
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
    ASSERT_GE(t.origin, 0);
    ASSERT_TRUE(SendAll(t.origin, "last words"));
    ::shutdown(t.origin, SHUT_WR);
    EXPECT_EQ(ReadExactly(t.browser, 10), "last words");
    EXPECT_TRUE(Tunnel::Ended(t.down));
    // The other direction still works until the sockets are closed.
    ASSERT_TRUE(SendAll(t.browser, "more"));
    EXPECT_EQ(ReadExactly(t.origin, 4), "more");
    EXPECT_EQ(t.up.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);
    // Closing both sockets, as the worker does, ends it.
    ::shutdown(t.proxyClient, SHUT_RDWR);
    ::shutdown(t.proxyUpstream, SHUT_RDWR);
    EXPECT_TRUE(Tunnel::Ended(t.up));
}

TEST(TunnelRelay, BrowserGoneEndsRelayOnFailedSend) {
    Tunnel t;
    ASSERT_GE(t.origin, 0);
    ::close(t.browser);
    t.browser = -1;
    EXPECT_TRUE(Tunnel::Ended(t.up));  // its receive sees the close
    // The origin's next bytes cannot be delivered: that relay ends too.
    SendAll(t.origin, "to nobody");
    EXPECT_TRUE(Tunnel::Ended(t.down));
}

}  // namespace
