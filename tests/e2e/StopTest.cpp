// The stop signal with thousands of connections open, and in the middle of
// a load: the program closes every connection and ends within seconds with
// exit code 0 (so no thread of it is left waiting on anything).
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

#include <algorithm>
#include <atomic>
#include <iostream>
#include <memory>
#include <thread>

#include "Browser.h"
#include "LoadOrigin.h"
#include "ProxyProcess.h"
#include "support/LoopbackClient.h"

using namespace e2e;

namespace {

constexpr int kStopLimitMs = 5000;

// How many of the connections are closed by the peer within the deadline.
size_t CountClosed(std::vector<std::unique_ptr<Connection>>& connections, int timeoutMs) {
    std::vector<bool> closed(connections.size(), false);
    size_t count = 0;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    char buf[4096];
    while (count < connections.size() && std::chrono::steady_clock::now() < end) {
        std::vector<pollfd> fds;
        std::vector<size_t> which;
        for (size_t i = 0; i < connections.size(); ++i) {
            if (closed[i]) continue;
            fds.push_back({connections[i]->fd(), POLLIN, 0});
            which.push_back(i);
        }
        if (::poll(fds.data(), fds.size(), 100) <= 0) continue;
        for (size_t k = 0; k < fds.size(); ++k) {
            if (!fds[k].revents) continue;
            ssize_t n = ::recv(fds[k].fd, buf, sizeof buf, MSG_DONTWAIT);
            if (n <= 0 && !(n < 0 && errno == EAGAIN)) {
                closed[which[k]] = true;
                ++count;
            }
        }
    }
    return count;
}

}  // namespace

TEST(StopTest, StopWithThousandsOfIdleConnectionsEndsTheProgramWithinSeconds) {
    // The program holds at most 4,096 browser connections (a further one is
    // closed at once): stay below, with room for the stalled ones and the
    // connection that checks a new one is still served.
    int wanted = std::min(ScaledCount("MORVANE_E2E_IDLE", 5000, 1000), 4000);
    // The test holds one descriptor per connection, and so does the program
    // (which inherits the limit); keep room for everything else.
    long limit = RaiseOpenFileLimit(wanted + 1024);
    int idle = static_cast<int>(std::min<long>(wanted, limit - 512));
    if (idle < wanted)
        std::cout << "[ note     ] the open-file limit is " << limit << ": " << idle << " idle connections instead of "
                  << wanted << "\n";
    ASSERT_GT(idle, 0);

    LoadOrigin origin(16);
    ProxyProcess proxy;
    ASSERT_TRUE(proxy.Start());
    const long idleThreads = proxy.Threads();

    // Most say nothing; every tenth has sent part of a request header, and a
    // few wait on an origin that stalls mid-answer.
    std::vector<std::unique_ptr<Connection>> connections;
    for (int i = 0; i < idle; ++i) {
        connections.push_back(std::make_unique<Connection>());
        ASSERT_TRUE(connections.back()->Open(proxy.port())) << "connection " << i;
        if (i % 10 == 0) {
            ASSERT_TRUE(connections.back()->Send("GET http://127.0.0.1/ HTTP/1.1\r\nHost: 127"));
        }
    }
    for (int i = 0; i < 4; ++i) {
        connections.push_back(std::make_unique<Connection>());
        ASSERT_TRUE(connections.back()->Open(proxy.port()));
        ASSERT_TRUE(connections.back()->Send(ProxyGet(origin.port(), i % 2 ? "/fault/stall/bin" : "/fault/stall/html")));
    }
    ASSERT_TRUE(origin.WaitStalled(4, 30000));
    // Every connection has its worker: the program really holds them all.
    EXPECT_TRUE(testsupport::WaitFor([&] { return proxy.Threads() >= idleThreads + idle; }, 60000))
        << proxy.Threads() << " threads for " << idle << " connections";
    const long heldThreads = proxy.Threads();
    const long heldKb = proxy.ResidentKb();
    EXPECT_EQ(FetchAndCheck(proxy.port(), origin.port(), Kind::HtmlChunkedGzip, 5), "")
        << "a new connection is not served while the idle ones are held";

    double seconds = 0;
    int code = proxy.Stop(kStopLimitMs, &seconds);
    std::cout << "[ figures  ] " << connections.size() << " open connections, " << heldThreads << " threads, "
              << heldKb << " kB resident; stopped in " << seconds << " s with exit code " << code << "\n";
    EXPECT_EQ(code, 0) << "the program did not end with 0 within " << kStopLimitMs << " ms";
    EXPECT_EQ(CountClosed(connections, 5000), connections.size()) << "connections left open by the stop";
}

TEST(StopTest, StopInTheMiddleOfALoadEndsTheProgramWithinSeconds) {
    RaiseOpenFileLimit(4096);
    LoadOrigin origin;
    ProxyProcess proxy;
    ASSERT_TRUE(proxy.Start());

    std::atomic<int> answered{0};
    std::atomic<bool> stopped{false};
    std::thread load([&] {
        static constexpr Kind kinds[] = {Kind::HtmlGzip, Kind::Binary, Kind::HtmlChunked, Kind::Json};
        auto one = [&](int i) {
            std::string failure = FetchAndCheck(proxy.port(), origin.port(), kinds[i % 4], i % kPageVariants, "", 10000);
            if (failure.empty()) ++answered;
            return failure;
        };
        RunLoad(1000000, 64, 60000, one, &stopped);
    });
    const int warm = kSanitizedBuild ? 100 : 300;
    EXPECT_TRUE(testsupport::WaitFor([&] { return answered >= warm; }, 60000)) << "the load did not get going";

    double seconds = 0;
    int code = proxy.Stop(kStopLimitMs, &seconds);
    stopped = true;
    load.join();
    std::cout << "[ figures  ] stopped after " << answered << " answers, in " << seconds << " s with exit code " << code
              << "\n";
    EXPECT_EQ(code, 0);
}
