// What ConnectUpstream costs per request for a remembered host, on loopback,
// next to the bare timed connect and the base class's resolve-and-connect.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include <unistd.h>

#include <platform/Socket.h>

#include "net/CSocketBase.h"
#include "net/ConnectUpstream.h"

namespace {

// An origin on 127.0.0.1 that accepts and closes every connection.
class Origin {
public:
    Origin() {
        listen_ = platform::CreateTcpSocket().rc;
        for (uint16_t port = 39100; port < 39200 && port_ == 0; ++port) {
            if (platform::BindIPv4(listen_, "127.0.0.1", port).rc == 0) port_ = port;
        }
        platform::ListenOn(listen_, 4096);
        acceptor_ = std::thread([this] {
            for (;;) {
                platform::Socket c = platform::AcceptOn(listen_).rc;
                if (c == platform::kInvalidSocket) {
                    if (stopping_) return;
                    continue;
                }
                platform::CloseSocket(c);
            }
        });
    }
    ~Origin() {
        stopping_ = true;
        platform::ShutdownSocket(listen_);
        acceptor_.join();
        platform::CloseSocket(listen_);
    }
    uint16_t port() const { return port_; }

private:
    platform::Socket listen_ = platform::kInvalidSocket;
    uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread acceptor_;
};

class NoResolver : public IHostResolver {
public:
    std::vector<uint32_t> Resolve(const std::string&) const override { return {}; }
};

uint32_t Loopback() {
    auto a = platform::ResolveIPv4("127.0.0.1");
    return a.empty() ? 0 : a[0];
}

std::string CacheFile() {
    return (std::filesystem::temp_directory_path() / ("connect_upstream_bench_" + std::to_string(::getpid()) + ".dat"))
        .string();
}

void BM_ConnectUpstreamRemembered(benchmark::State& state) {
    Origin origin;
    std::string file = CacheFile();
    {
        HostCache cache(file);
        // Remembered with a generous time, so every request reuses the
        // address; stored last, so a full cache keeps it.
        for (int i = 0; i < state.range(0); ++i)
            cache.Store(HostRecord::Make(Loopback(), "host" + std::to_string(i) + ".bench", 1000, cache.Now32()));
        cache.Store(HostRecord::Make(Loopback(), "origin.bench", 1000, cache.Now32()));
        NoResolver resolver;
        UpstreamDialer dialer;
        dialer.resolver = &resolver;
        for (auto _ : state) {
            platform::Socket s = platform::kInvalidSocket;
            bool ok = ConnectUpstream(cache, dialer, s, "origin.bench", origin.port());
            if (!ok || s == platform::kInvalidSocket) {
                state.SkipWithError("remembered connect failed");
                break;
            }
            platform::CloseSocket(s);
        }
    }
    std::filesystem::remove(file);
}
BENCHMARK(BM_ConnectUpstreamRemembered)->Arg(0)->Arg(10000)->MinTime(0.5)->UseRealTime();

void BM_TimedConnectOnly(benchmark::State& state) {
    Origin origin;
    uint32_t address = Loopback();
    for (auto _ : state) {
        platform::Socket s = platform::kInvalidSocket;
        if (TimedConnect(address, origin.port(), s) >= kConnectFailedMs) {
            state.SkipWithError("connect failed");
            break;
        }
        platform::CloseSocket(s);
    }
}
BENCHMARK(BM_TimedConnectOnly)->MinTime(0.5)->UseRealTime();

// The plain Connect of the socket base: a resolver call and a connect.
void BM_BaseConnectNumericHost(benchmark::State& state) {
    Origin origin;
    CSocketBase base(0);
    for (auto _ : state) {
        platform::Socket s = platform::kInvalidSocket;
        if (!base.Connect(s, "127.0.0.1", origin.port())) {
            state.SkipWithError("connect failed");
            break;
        }
        platform::CloseSocket(s);
    }
}
BENCHMARK(BM_BaseConnectNumericHost)->MinTime(0.5)->UseRealTime();

// The cache's share alone: one Lookup among many hosts.
void BM_HostCacheLookup(benchmark::State& state) {
    std::string file = CacheFile();
    {
        HostCache cache(file);
        for (int i = 0; i < state.range(0); ++i)
            cache.Store(HostRecord::Make(Loopback(), "host" + std::to_string(i) + ".bench", 5, cache.Now32()));
        std::string host = "host" + std::to_string(state.range(0) / 2) + ".bench";
        for (auto _ : state) benchmark::DoNotOptimize(cache.Lookup(host));
    }
    std::filesystem::remove(file);
}
BENCHMARK(BM_HostCacheLookup)->Arg(10)->Arg(10000);

// A busy day's hosts: what the cache holds after N distinct hosts, and what
// writing host.dat at stop costs.
void BM_HostCacheSaveAfterManyHosts(benchmark::State& state) {
    std::string file = CacheFile();
    for (auto _ : state) {
        state.PauseTiming();
        auto cache = std::make_unique<HostCache>(file);
        for (int i = 0; i < state.range(0); ++i)
            cache->Store(HostRecord::Make(Loopback(), "host" + std::to_string(i) + ".bench", 5, cache->Now32()));
        state.counters["hosts_kept"] = static_cast<double>(cache->Size());
        state.ResumeTiming();
        cache->Save();
        state.PauseTiming();
        state.counters["file_MB"] = static_cast<double>(std::filesystem::file_size(file)) / (1024.0 * 1024.0);
        cache.reset();
        std::filesystem::remove(file);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_HostCacheSaveAfterManyHosts)->Arg(60000)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
