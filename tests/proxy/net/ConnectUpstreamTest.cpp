#include "net/ConnectUpstream.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <platform/Socket.h>

#include "net/CLocalProxy.h"
#include "net/SafeSearch.h"
#include "support/LoopbackClient.h"
#include "support/TempFolder.h"

namespace {

using testsupport::Ipv4;
using platform::kInvalidSocket;

// A listening socket on one loopback address whose waits all have deadlines.
class Listener {
public:
    Listener(const char* address, uint16_t port, int backlog = 16) : address_(Ipv4(address)) {
        fd_ = platform::CreateTcpSocket().rc;
        if (platform::BindIPv4(fd_, address, port).rc != 0 || platform::ListenOn(fd_, backlog).rc != 0) {
            platform::CloseSocket(fd_);
            fd_ = kInvalidSocket;
            return;
        }
        port_ = platform::LocalPort(fd_);
    }
    ~Listener() {
        for (platform::Socket c : accepted_) platform::CloseSocket(c);
        platform::CloseSocket(fd_);
    }
    bool ok() const { return fd_ != kInvalidSocket; }
    uint16_t port() const { return port_; }
    uint32_t address() const { return address_; }
    void CloseNow() {
        platform::CloseSocket(fd_);
        fd_ = kInvalidSocket;
    }

    // One pending connection, or kInvalidSocket when none arrives in time.
    platform::Socket AcceptWithin(int ms) {
        if (platform::WaitReadable(fd_, ms).rc != 1) return kInvalidSocket;
        platform::Socket c = platform::AcceptOn(fd_).rc;
        if (c != kInvalidSocket) accepted_.push_back(c);
        return c;
    }

    // What each connection made so far carried until its peer closed it. A
    // connect that returned has its connection queued here already.
    std::vector<std::string> DrainConnections() {
        std::vector<std::string> out;
        for (platform::Socket c; (c = AcceptWithin(20)) != kInvalidSocket;) out.push_back(ReadUntilClosed(c));
        return out;
    }

private:
    static std::string ReadUntilClosed(platform::Socket c) {
        std::string data;
        char buf[256];
        for (;;) {
            if (platform::WaitReadable(c, 2000).rc != 1) return data + "<timeout>";
            int n = platform::RecvSome(c, buf, sizeof buf).rc;
            if (n <= 0) return data;
            data.append(buf, static_cast<size_t>(n));
        }
    }

    platform::Socket fd_ = kInvalidSocket;
    uint16_t port_ = 0;
    uint32_t address_;
    std::vector<platform::Socket> accepted_;
};

// Listeners on several loopback addresses sharing one port, as the addresses
// of one host do.
std::vector<std::unique_ptr<Listener>> ListenersOnOnePort(const std::vector<const char*>& addresses,
                                                          int backlog = 16) {
    for (int attempt = 0; attempt < 20; ++attempt) {
        std::vector<std::unique_ptr<Listener>> out;
        out.push_back(std::make_unique<Listener>(addresses[0], 0, backlog));
        if (!out[0]->ok()) continue;
        for (size_t i = 1; i < addresses.size(); ++i) out.push_back(std::make_unique<Listener>(addresses[i], out[0]->port(), backlog));
        bool all = true;
        for (auto& l : out) all = all && l->ok();
        if (all) return out;
    }
    return {};
}

// A listener without backlog whose one queue slot is taken by a connect that
// is never accepted: further SYNs are dropped, so a connect to it waits until
// it is aborted or gives up.
struct FullAcceptQueue {
    std::vector<std::unique_ptr<Listener>> listeners = ListenersOnOnePort({"127.0.0.7"}, 0);
    platform::Socket filler = kInvalidSocket;
    bool Fill() { return listeners.size() == 1 && TimedConnect(busy().address(), busy().port(), filler) < kConnectFailedMs; }
    Listener& busy() { return *listeners[0]; }
    ~FullAcceptQueue() {
        if (filler != kInvalidSocket) platform::CloseSocket(filler);
    }
};

class FakeResolver : public IHostResolver {
public:
    std::map<std::string, std::vector<uint32_t>> names;
    mutable std::atomic<int> calls{0};
    std::vector<uint32_t> Resolve(const std::string& host) const override {
        ++calls;
        auto it = names.find(host);
        return it == names.end() ? std::vector<uint32_t>{} : it->second;
    }
};

// Connects for real and reports the scripted time for an address; records
// the order of the connects.
struct ScriptedTiming {
    std::map<uint32_t, int> ms;
    std::vector<uint32_t> calls;
    int operator()(uint32_t address, uint16_t port, platform::Socket& socket, PendingConnects* pending) {
        calls.push_back(address);
        int real = TimedConnect(address, port, socket, pending);
        if (real >= kConnectFailedMs) return real;
        auto it = ms.find(address);
        return it == ms.end() ? real : it->second;
    }
};

class ConnectUpstreamTest : public ::testing::Test {
protected:
    void SetUp() override {
        listeners = ListenersOnOnePort({"127.0.0.2", "127.0.0.3", "127.0.0.4"});
        ASSERT_EQ(listeners.size(), 3u);
        port = listeners[0]->port();
        dialer.resolver = &resolver;
        dialer.timedConnect = std::ref(timing);
        resolver.names["origin.test"] = {Ipv4("127.0.0.2"), Ipv4("127.0.0.3"), Ipv4("127.0.0.4")};
    }
    void TearDown() override { platform::CloseSocket(socket); }

    // Marks the chosen connection, closes it, and reports what each listener saw.
    std::vector<std::vector<std::string>> Seen() {
        if (socket != platform::kInvalidSocket) platform::SendSome(socket, "chosen", 6);
        platform::CloseSocket(socket);
        socket = platform::kInvalidSocket;
        std::vector<std::vector<std::string>> out;
        for (auto& l : listeners) out.push_back(l->DrainConnections());
        return out;
    }

    testsupport::TempFolder folder;
    std::atomic<int64_t> now{1'700'000'000};
    HostCache cache{folder / "host.dat", [this] { return now.load(); }};
    FakeResolver resolver;
    ScriptedTiming timing;
    UpstreamDialer dialer;
    std::vector<std::unique_ptr<Listener>> listeners;
    uint16_t port = 0;
    platform::Socket socket = platform::kInvalidSocket;
    using Seen_t = std::vector<std::vector<std::string>>;
};

TEST_F(ConnectUpstreamTest, KeepsFastestOfAllAddressesAndRemembersIt) {
    timing.ms = {{Ipv4("127.0.0.2"), 40}, {Ipv4("127.0.0.3"), 5}, {Ipv4("127.0.0.4"), 20}};
    ASSERT_TRUE(ConnectUpstream(cache, dialer, socket, "origin.test", port));
    EXPECT_EQ(timing.calls, (std::vector<uint32_t>{Ipv4("127.0.0.2"), Ipv4("127.0.0.3"), Ipv4("127.0.0.4")}));
    auto remembered = cache.Find("origin.test");
    ASSERT_TRUE(remembered);
    EXPECT_EQ(remembered->address, Ipv4("127.0.0.3"));
    EXPECT_EQ(remembered->connectMs, 5);
    // Every address was connected once; only the fastest stays open.
    EXPECT_EQ(Seen(), (Seen_t{{""}, {"chosen"}, {""}}));
}

TEST_F(ConnectUpstreamTest, ReusesRememberedAddressUpTo30MsSlower) {
    for (int ms : {0, 40, 70}) {
        SCOPED_TRACE(ms);
        cache.Store(HostRecord::Make(Ipv4("127.0.0.4"), "origin.test", 40, cache.Now32()));
        timing.ms = {{Ipv4("127.0.0.4"), ms}};
        timing.calls.clear();
        ASSERT_TRUE(ConnectUpstream(cache, dialer, socket, "origin.test", port));
        EXPECT_EQ(resolver.calls, 0);
        EXPECT_EQ(timing.calls, std::vector<uint32_t>{Ipv4("127.0.0.4")});
        EXPECT_EQ(cache.Find("origin.test")->connectMs, 40);  // a reuse stores nothing
        EXPECT_EQ(Seen(), (Seen_t{{}, {}, {"chosen"}}));
    }
}

TEST_F(ConnectUpstreamTest, ResolvesAnewWhen31MsSlower) {
    cache.Store(HostRecord::Make(Ipv4("127.0.0.4"), "origin.test", 40, cache.Now32()));
    timing.ms = {{Ipv4("127.0.0.2"), 60}, {Ipv4("127.0.0.3"), 8}, {Ipv4("127.0.0.4"), 71}};
    ASSERT_TRUE(ConnectUpstream(cache, dialer, socket, "origin.test", port));
    EXPECT_EQ(resolver.calls, 1);
    EXPECT_EQ(timing.calls.size(), 4u);
    EXPECT_EQ(cache.Find("origin.test")->address, Ipv4("127.0.0.3"));
    EXPECT_EQ(cache.Find("origin.test")->connectMs, 8);
    // The slow remembered connection and the other fresh ones are all closed.
    EXPECT_EQ(Seen(), (Seen_t{{""}, {"chosen"}, {"", ""}}));
}

TEST_F(ConnectUpstreamTest, SlowRememberedConnectionIsFallbackWhenNothingElseConnects) {
    cache.Store(HostRecord::Make(Ipv4("127.0.0.4"), "origin.test", 40, cache.Now32()));
    timing.ms = {{Ipv4("127.0.0.4"), 500}};
    resolver.names["origin.test"] = {Ipv4("127.0.0.9")};  // nobody listens there
    ASSERT_TRUE(ConnectUpstream(cache, dialer, socket, "origin.test", port));
    EXPECT_EQ(cache.Find("origin.test")->connectMs, 40);
    EXPECT_EQ(Seen(), (Seen_t{{}, {}, {"chosen"}}));

    // Resolution failing keeps it too, though the answer is false.
    resolver.names.erase("origin.test");
    EXPECT_FALSE(ConnectUpstream(cache, dialer, socket, "origin.test", port));
    EXPECT_EQ(Seen(), (Seen_t{{}, {}, {"chosen"}}));
}

TEST_F(ConnectUpstreamTest, FailedRememberedAddressIsReplaced) {
    cache.Store(HostRecord::Make(Ipv4("127.0.0.5"), "origin.test", 1, cache.Now32()));  // nobody listens there
    resolver.names["origin.test"] = {Ipv4("127.0.0.3")};
    ASSERT_TRUE(ConnectUpstream(cache, dialer, socket, "origin.test", port));
    EXPECT_EQ(cache.Find("origin.test")->address, Ipv4("127.0.0.3"));
    EXPECT_EQ(Seen(), (Seen_t{{}, {"chosen"}, {}}));
}

// A busy host is resolved again an hour after it was last resolved: the
// remembered address is used on while the host still has it, and forgotten
// once the host has moved.
TEST_F(ConnectUpstreamTest, RememberedAddressIsCheckedAgainstAFreshResolutionEveryHour) {
    timing.ms = {{Ipv4("127.0.0.2"), 40}, {Ipv4("127.0.0.3"), 5}, {Ipv4("127.0.0.4"), 20}};
    ASSERT_TRUE(ConnectUpstream(cache, dialer, socket, "origin.test", port));
    Seen();
    now += HostCache::kConfirmSeconds - 1;
    timing.calls.clear();
    ASSERT_TRUE(ConnectUpstream(cache, dialer, socket, "origin.test", port));
    EXPECT_EQ(resolver.calls, 1);
    EXPECT_EQ(timing.calls, std::vector<uint32_t>{Ipv4("127.0.0.3")});
    Seen();

    now += 1;  // an hour since the resolution, though used all along
    timing.calls.clear();
    ASSERT_TRUE(ConnectUpstream(cache, dialer, socket, "origin.test", port));
    EXPECT_EQ(resolver.calls, 2);
    EXPECT_EQ(timing.calls, std::vector<uint32_t>{Ipv4("127.0.0.3")});  // still its address: reused
    EXPECT_EQ(Seen(), (Seen_t{{}, {"chosen"}, {}}));
    now += HostCache::kConfirmSeconds - 1;
    ASSERT_TRUE(ConnectUpstream(cache, dialer, socket, "origin.test", port));
    EXPECT_EQ(resolver.calls, 2) << "the confirmation counts as a resolution";
    Seen();

    now += 1;
    resolver.names["origin.test"] = {Ipv4("127.0.0.2"), Ipv4("127.0.0.4")};  // the site moved
    timing.calls.clear();
    ASSERT_TRUE(ConnectUpstream(cache, dialer, socket, "origin.test", port));
    EXPECT_EQ(timing.calls, (std::vector<uint32_t>{Ipv4("127.0.0.2"), Ipv4("127.0.0.4")}));
    EXPECT_EQ(cache.Find("origin.test")->address, Ipv4("127.0.0.4"));
    EXPECT_EQ(Seen(), (Seen_t{{""}, {}, {"chosen"}}));

    // A host that no longer resolves is not reached through its old address.
    now += HostCache::kConfirmSeconds;
    resolver.names.erase("origin.test");
    EXPECT_FALSE(ConnectUpstream(cache, dialer, socket, "origin.test", port));
    EXPECT_EQ(socket, platform::kInvalidSocket);
    EXPECT_EQ(Seen(), (Seen_t{{}, {}, {}}));
}

// With SafeSearch on, each search engine's hosts are connected to the
// addresses of the name it gives for filtered searches, and remembered under
// their own name; with it off, to their own addresses again.
TEST_F(ConnectUpstreamTest, SearchEnginesAreConnectedToTheirSafeSearchAddresses) {
    const std::pair<const char*, const char*> engines[] = {
        {"google.com", "forcesafesearch.google.com"},       {"www.google.com", "forcesafesearch.google.com"},
        {"www.google.com.hk", "forcesafesearch.google.com"}, {"www.google.co.uk", "forcesafesearch.google.com"},
        {"WWW.Google.DE", "forcesafesearch.google.com"},     {"bing.com", "strict.bing.com"},
        {"www.bing.com", "strict.bing.com"},                {"www.youtube.com", "restrict.youtube.com"},
        {"m.youtube.com", "restrict.youtube.com"},          {"youtube.com", "restrict.youtube.com"},
        {"youtubei.googleapis.com", "restrict.youtube.com"}, {"youtube.googleapis.com", "restrict.youtube.com"},
        {"www.youtube-nocookie.com", "restrict.youtube.com"}, {"duckduckgo.com", "safe.duckduckgo.com"},
        {"www.duckduckgo.com", "safe.duckduckgo.com"},
    };
    for (const auto& [host, safeName] : engines) {
        SCOPED_TRACE(host);
        resolver.names[host] = {Ipv4("127.0.0.2")};
        resolver.names[safeName] = {Ipv4("127.0.0.3")};
        ASSERT_TRUE(ConnectUpstream(cache, dialer, socket, host, port, true));
        EXPECT_EQ(Seen(), (Seen_t{{}, {"chosen"}, {}}));
        EXPECT_EQ(cache.Find(host)->address, Ipv4("127.0.0.3"));
        EXPECT_FALSE(cache.Find(safeName));
        ASSERT_TRUE(ConnectUpstream(cache, dialer, socket, host, port, true));  // remembered
        EXPECT_EQ(Seen(), (Seen_t{{}, {"chosen"}, {}}));

        ASSERT_TRUE(ConnectUpstream(cache, dialer, socket, host, port, false));
        EXPECT_EQ(Seen(), (Seen_t{{"chosen"}, {}, {}}));
        EXPECT_EQ(cache.Find(host)->address, Ipv4("127.0.0.2"));
    }
    // Other hosts of the same companies, and look-alikes, keep their own addresses.
    for (const char* host : {"images.google.com", "google.example.com", "www.google.com.evil.test", "mail.google.com",
                             "notbing.com", "www.bing.com.evil.test", "music.youtube.com", "duckduckgo.com.evil.test"}) {
        SCOPED_TRACE(host);
        EXPECT_EQ(SafeSearchAddressName(host), "");
        resolver.names[host] = {Ipv4("127.0.0.4")};
        ASSERT_TRUE(ConnectUpstream(cache, dialer, socket, host, port, true));
        EXPECT_EQ(Seen(), (Seen_t{{}, {}, {"chosen"}}));
    }
    EXPECT_EQ(SafeSearchAddressName("www.google.co.uk."), "forcesafesearch.google.com");
}

TEST_F(ConnectUpstreamTest, NothingAt9000MsOrSlowerIsChosen) {
    resolver.names["origin.test"] = {Ipv4("127.0.0.2"), Ipv4("127.0.0.3")};
    timing.ms = {{Ipv4("127.0.0.2"), 9000}, {Ipv4("127.0.0.3"), 9500}};
    ASSERT_TRUE(ConnectUpstream(cache, dialer, socket, "origin.test", port));
    EXPECT_EQ(socket, platform::kInvalidSocket);
    EXPECT_FALSE(cache.Find("origin.test"));
    EXPECT_EQ(Seen(), (Seen_t{{""}, {""}, {}}));

    timing.ms = {{Ipv4("127.0.0.2"), 8999}, {Ipv4("127.0.0.3"), 9000}};
    ASSERT_TRUE(ConnectUpstream(cache, dialer, socket, "origin.test", port));
    EXPECT_EQ(cache.Find("origin.test")->connectMs, 8999);
    EXPECT_EQ(Seen(), (Seen_t{{"chosen"}, {""}, {}}));
}

TEST_F(ConnectUpstreamTest, UnresolvableOrUnreachableHost) {
    EXPECT_FALSE(ConnectUpstream(cache, dialer, socket, "unknown.test", port));
    EXPECT_EQ(socket, platform::kInvalidSocket);
    EXPECT_FALSE(ConnectUpstream(cache, dialer, socket, nullptr, port));
    EXPECT_EQ(socket, platform::kInvalidSocket);

    resolver.names["down.test"] = {Ipv4("127.0.0.9")};
    EXPECT_TRUE(ConnectUpstream(cache, dialer, socket, "down.test", port));
    EXPECT_EQ(socket, platform::kInvalidSocket);
    EXPECT_FALSE(cache.Find("down.test"));
}

// A real slow connect: the address's accept queue is full, so its handshake
// waits for the client's retransmitted SYN (about a second), while the bound
// is lowered to keep the test short.
TEST(ConnectUpstreamSlow, RealSlowConnectIsNotChosen) {
    auto listeners = ListenersOnOnePort({"127.0.0.5", "127.0.0.6"}, 0);
    ASSERT_EQ(listeners.size(), 2u);
    Listener& slow = *listeners[0];
    uint16_t port = slow.port();
    platform::Socket filler = kInvalidSocket;
    ASSERT_LT(TimedConnect(slow.address(), port, filler), kConnectFailedMs);  // fills the queue
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        slow.AcceptWithin(2000);  // makes room: the retried SYN then succeeds
    });

    testsupport::TempFolder folder;
    HostCache cache(folder / "host.dat");
    FakeResolver resolver;
    resolver.names["slow.test"] = {slow.address(), listeners[1]->address()};
    std::map<uint32_t, int> measured;
    UpstreamDialer dialer;
    dialer.resolver = &resolver;
    dialer.chooseBelowMs = 300;
    dialer.timedConnect = [&](uint32_t a, uint16_t p, platform::Socket& s, PendingConnects*) {
        return measured[a] = TimedConnect(a, p, s);
    };
    platform::Socket socket = kInvalidSocket;
    EXPECT_TRUE(ConnectUpstream(cache, dialer, socket, "slow.test", port));
    release.join();
    platform::CloseSocket(filler);

    EXPECT_GE(measured[slow.address()], 300);
    EXPECT_LT(measured[slow.address()], kConnectFailedMs);
    auto remembered = cache.Find("slow.test");
    ASSERT_TRUE(remembered);
    EXPECT_EQ(remembered->address, listeners[1]->address());
    EXPECT_LT(remembered->connectMs, 300);
    platform::CloseSocket(socket);
}

// Several workers connecting to the same host at once each get a connection;
// the cache ends with one of their results.
TEST(ConnectUpstreamConcurrency, ManyWorkersOneHost) {
    auto listeners = ListenersOnOnePort({"127.0.0.2", "127.0.0.3"}, 256);
    ASSERT_EQ(listeners.size(), 2u);
    uint16_t port = listeners[0]->port();
    testsupport::TempFolder folder;
    HostCache cache(folder / "host.dat");
    FakeResolver resolver;
    resolver.names["shared.test"] = {Ipv4("127.0.0.2"), Ipv4("127.0.0.3")};
    UpstreamDialer dialer;
    dialer.resolver = &resolver;

    std::atomic<int> connected{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t) {
        workers.emplace_back([&] {
            for (int i = 0; i < 10; ++i) {
                platform::Socket s = kInvalidSocket;
                if (ConnectUpstream(cache, dialer, s, "shared.test", port) && s != kInvalidSocket) ++connected;
                platform::CloseSocket(s);
            }
        });
    }
    for (auto& w : workers) w.join();
    EXPECT_EQ(connected.load(), 40);
    auto remembered = cache.Find("shared.test");
    ASSERT_TRUE(remembered);
    EXPECT_TRUE(remembered->address == Ipv4("127.0.0.2") || remembered->address == Ipv4("127.0.0.3"));
}

// A connect that waits on a full accept queue returns only when aborted (its
// SYN is retried after a second, and then fails again).
TEST(ConnectUpstreamStop, StopEndsBlockedConnectsAndRefusesNewOnes) {
    testsupport::TempFolder folder(true);
    FullAcceptQueue queue;
    ASSERT_TRUE(queue.Fill());
    Listener& busy = queue.busy();

    FakeResolver resolver;
    resolver.names["busy.test"] = {busy.address(), busy.address()};
    CLocalProxy proxy(0);
    proxy.dialer.resolver = &resolver;
    std::atomic<bool> returned{false};
    platform::Socket s = kInvalidSocket - 1;  // neither a socket nor "none": Connect must overwrite it
    bool answer = false;
    std::thread worker([&] {
        answer = proxy.Connect(s, "busy.test", busy.port());
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(returned.load());  // still waiting on the full queue
    proxy.Stop();
    // Before the SYN is even retried.
    EXPECT_TRUE(testsupport::WaitFor([&] { return returned.load(); }, 800));
    while (!returned) busy.AcceptWithin(50);  // frees the queue so a failing test still ends
    worker.join();
    EXPECT_TRUE(answer);
    EXPECT_EQ(s, kInvalidSocket);
    EXPECT_FALSE(proxy.hostCache.Find("busy.test"));

    // After the stop nothing connects, not even a free address.
    Listener open("127.0.0.3", 0);
    resolver.names["open.test"] = {open.address()};
    EXPECT_TRUE(proxy.Connect(s, "open.test", open.port()));
    EXPECT_EQ(s, kInvalidSocket);
}

// The listener's own Connect goes through its host cache and its resolver.
TEST(ConnectUpstreamListener, ConnectUsesHostCacheAndResolver) {
    testsupport::TempFolder folder(true);
    Listener origin("127.0.0.3", 0);
    ASSERT_TRUE(origin.ok());
    FakeResolver resolver;
    resolver.names["origin.test"] = {Ipv4("127.0.0.3")};
    CLocalProxy proxy(0);
    proxy.dialer.resolver = &resolver;

    platform::Socket s = kInvalidSocket;
    ASSERT_TRUE(proxy.Connect(s, "origin.test", origin.port()));
    ASSERT_NE(s, kInvalidSocket);
    platform::CloseSocket(s);
    EXPECT_EQ(proxy.hostCache.Find("origin.test")->address, Ipv4("127.0.0.3"));
    EXPECT_FALSE(proxy.Connect(s, "nowhere.test", origin.port()));
    EXPECT_EQ(resolver.calls, 2);  // the system resolver was never asked
}

}  // namespace

// An address whose handshake never completes (a full accept queue drops the
// SYNs) is given up after the connect time-out, and nothing is chosen.
TEST(ConnectUpstreamListener, ConnectAttemptGivesUpAfterItsTimeOut) {
    testsupport::TempFolder folder(true);
    FullAcceptQueue queue;
    ASSERT_TRUE(queue.Fill());
    Listener& busy = queue.busy();

    FakeResolver resolver;
    resolver.names["busy.test"] = {busy.address()};
    CLocalProxy proxy(0);
    proxy.dialer.resolver = &resolver;
    proxy.limits.connectMs = 300;
    platform::Socket s = kInvalidSocket;
    auto connect = std::async(std::launch::async, [&] { return proxy.Connect(s, "busy.test", busy.port()); });
    const bool ended = connect.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    while (connect.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready) busy.AcceptWithin(50);
    EXPECT_TRUE(ended) << "the connect outlived its time-out";
    EXPECT_TRUE(connect.get());
    EXPECT_EQ(s, kInvalidSocket);
    EXPECT_FALSE(proxy.hostCache.Find("busy.test"));
}
