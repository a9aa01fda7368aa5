// The socket calls every connection makes through its server object.
#include <gtest/gtest.h>

#include <platform/Socket.h>
#include <platform/Tick.h>
#include <platform/TimedReceive.h>

#include <string>
#include <thread>

#include "net/CSocketBase.h"
#include "support/LoopbackClient.h"

namespace {

// A server socket with one accepted connection and its client end.
struct ConnectedPair {
    CSocketBase server{testsupport::FreeLoopbackPort()};
    testsupport::LoopbackClient client;
    platform::Socket accepted = platform::kInvalidSocket;

    bool Open() {
        if (server.Listen() != 1) return false;
        if (!client.Connect(server.Port())) return false;
        return server.Accept(accepted) != platform::kInvalidSocket;
    }
    ~ConnectedPair() {
        platform::CloseSocket(accepted);
        server.CloseListenSocket();
    }
};

}  // namespace

TEST(SocketBaseTest, SendDeliversALargeBufferWhole) {
    ConnectedPair pair;
    ASSERT_TRUE(pair.Open());
    std::string big(8 * 1024 * 1024, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 31 + 7);
    std::string received;
    std::thread reader([&] { received = pair.client.ReadUntilClosed(10000); });
    EXPECT_EQ(pair.server.Send(pair.accepted, big.data(), static_cast<int>(big.size())), static_cast<int>(big.size()));
    platform::ShutdownSend(pair.accepted);
    reader.join();
    EXPECT_EQ(received, big);
}

TEST(SocketBaseTest, SendOfNothingIsZero) {
    ConnectedPair pair;
    ASSERT_TRUE(pair.Open());
    EXPECT_EQ(pair.server.Send(pair.accepted, "", 0), 0);
}

TEST(SocketBaseTest, RecvReturnsZeroWhenThePeerClosed) {
    ConnectedPair pair;
    ASSERT_TRUE(pair.Open());
    ASSERT_TRUE(pair.client.SendAll("abc"));
    pair.client.Close();
    char buf[16];
    EXPECT_EQ(pair.server.Recv(pair.accepted, buf, sizeof buf), 3);
    EXPECT_EQ(pair.server.Recv(pair.accepted, buf, sizeof buf), 0);
}

TEST(SocketBaseTest, SendToAResetPeerFailsWithoutEndingTheProcess) {
    ConnectedPair pair;
    ASSERT_TRUE(pair.Open());
    pair.client.Reset();
    std::string chunk(64 * 1024, 'x');
    int result = 1;
    for (int i = 0; i < 50 && result > 0; ++i)
        result = pair.server.Send(pair.accepted, chunk.data(), static_cast<int>(chunk.size()));
    EXPECT_LE(result, 0) << "the failure must be reported, not the count sent before it";
}

TEST(SocketBaseTest, ConnectReachesANumericLoopbackHostAndFailsForAClosedPort) {
    CSocketBase server(testsupport::FreeLoopbackPort());
    ASSERT_EQ(server.Listen(), 1);
    platform::Socket s = platform::kInvalidSocket;
    EXPECT_TRUE(server.Connect(s, "127.0.0.1", server.Port()));
    EXPECT_NE(s, platform::kInvalidSocket);
    platform::CloseSocket(s);
    platform::Socket t = platform::kInvalidSocket;
    EXPECT_FALSE(server.Connect(t, "127.0.0.1", testsupport::FreeLoopbackPort()));
    EXPECT_EQ(t, platform::kInvalidSocket);
    server.CloseListenSocket();
}

TEST(SocketBaseTest, AcceptFailsOnceTheListeningSocketIsClosed) {
    CSocketBase server(testsupport::FreeLoopbackPort());
    ASSERT_EQ(server.Listen(), 1);
    platform::Socket accepted = 0;
    std::thread acceptor([&] { server.Accept(accepted); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    server.CloseListenSocket();
    acceptor.join();
    EXPECT_EQ(accepted, platform::kInvalidSocket);
    EXPECT_FALSE(server.IsListening());
}

// A stop shuts a connection's socket down to end the thread that waits on it
// for the browser, which stays connected. The wait ends then, not at its
// deadline (30 s for a request header), whether it had begun or was only
// about to begin; and it brings no bytes.
TEST(SocketBaseTest, AShutdownEndsATimedReceiveThatHadBegunOrWasAboutToBegin) {
    constexpr uint64_t kDeadlineMs = 20000;
    char buf[16];
    {
        ConnectedPair pair;
        ASSERT_TRUE(pair.Open());
        platform::ShutdownSocket(pair.accepted);
        const int rc = platform::ReceiveBefore(pair.accepted, buf, sizeof buf, platform::TickCount() + kDeadlineMs);
        EXPECT_TRUE(rc == 0 || rc == -1) << "a receive after the shutdown gave " << rc;
    }
    // The shutdown races the receive's start: some rounds find the wait
    // under way, some not yet.
    for (int round = 0; round < 20; ++round) {
        ConnectedPair pair;
        ASSERT_TRUE(pair.Open());
        int rc = 1;
        std::thread waiter([&] {
            rc = platform::ReceiveBefore(pair.accepted, buf, sizeof buf, platform::TickCount() + kDeadlineMs);
        });
        platform::ShutdownSocket(pair.accepted);
        waiter.join();
        EXPECT_TRUE(rc == 0 || rc == -1) << "round " << round << ": the receive gave " << rc;
        if (rc == platform::kReceiveTimedOut) break;
    }
}
