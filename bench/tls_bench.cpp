// The TLS pieces of HTTPS interception: minting a leaf, finding a cached one,
// a handshake pair on loopback (browser side and origin side, both ours), and
// what building a context costs, which is why contexts are built once. The
// intercepted request as a whole is measured when the request path uses them.
#include <benchmark/benchmark.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include <platform/Socket.h>

#include "tls/Leaf.h"
#include "tls/LeafCache.h"
#include "tls/LocalCa.h"
#include "tls/TlsContext.h"
#include "tls/TlsSession.h"

namespace {

std::shared_ptr<const tls::LocalCa> BenchCa() {
    static std::shared_ptr<const tls::LocalCa> ca = [] {
        std::string error;
        return tls::LocalCa::Create(error);
    }();
    return ca;
}

// Our CA's certificate in a file, for the origin side to trust.
std::string CaFile() {
    static std::string path = [] {
        std::string p = (std::filesystem::temp_directory_path() / "morvane-tls-bench-ca.pem").string();
        std::ofstream(p) << BenchCa()->CertificatePem();
        return p;
    }();
    return path;
}

void BM_MintLeaf(benchmark::State& state) {
    auto ca = BenchCa();
    for (auto _ : state) benchmark::DoNotOptimize(tls::MintLeaf(*ca, "www.example.com"));
}
BENCHMARK(BM_MintLeaf)->Unit(benchmark::kMicrosecond);

// A cache hit among `hosts` cached hosts, the lookup every intercepted
// CONNECT makes.
void BM_CachedLeafLookup(benchmark::State& state) {
    const int hosts = static_cast<int>(state.range(0));
    tls::LeafCache cache(BenchCa());
    std::vector<std::string> names;
    for (int i = 0; i < hosts; ++i) names.push_back("host" + std::to_string(i) + ".example.com");
    for (const auto& n : names) cache.Get(n);
    size_t i = 0;
    for (auto _ : state) benchmark::DoNotOptimize(cache.Get(names[i++ % names.size()]));
}
BENCHMARK(BM_CachedLeafLookup)->Arg(1)->Arg(1000);

// A browser-side session on a thread of its own per connection is what the
// proxy does; here one thread accepts and handshakes in a loop.
class HandshakeServer {
public:
    explicit HandshakeServer(std::shared_ptr<const tls::Leaf> leaf) : leaf_(std::move(leaf)) {
        std::string error;
        context_ = tls::ServerContext::Create(error);
        listen_ = platform::CreateTcpSocket().rc;
        platform::BindIPv4(listen_, "127.0.0.1", 0);
        platform::ListenOn(listen_, 1024);
        port_ = platform::LocalPort(listen_);
        thread_ = std::thread([this] {
            for (;;) {
                platform::Socket s = platform::AcceptOn(listen_).rc;
                if (s == platform::kInvalidSocket) return;
                tls::Handshake hs = tls::TlsSession::Accept(*context_, s, *leaf_, 5000);
                if (hs.session) {
                    char byte;
                    hs.session->Read(&byte, 1, 5000);  // until the client closes
                }
                platform::CloseSocket(s);
            }
        });
    }
    ~HandshakeServer() {
        platform::ShutdownSocket(listen_);
        thread_.join();
        platform::CloseSocket(listen_);
    }
    uint16_t port() const { return port_; }

private:
    std::shared_ptr<const tls::Leaf> leaf_;
    std::unique_ptr<tls::ServerContext> context_;
    platform::Socket listen_ = platform::kInvalidSocket;
    uint16_t port_ = 0;
    std::thread thread_;
};

// TCP connect, both handshakes (TLS 1.3, P-256) and the close.
void BM_HandshakePair(benchmark::State& state) {
    HandshakeServer server(tls::MintLeaf(*BenchCa(), "www.example.com"));
    std::string error;
    auto client = tls::ClientContext::Create({CaFile(), ""}, error);
    const uint32_t loopback = platform::ResolveIPv4("127.0.0.1").at(0);
    int64_t failed = 0;
    for (auto _ : state) {
        platform::Socket s = platform::CreateTcpSocket().rc;
        platform::ConnectIPv4(s, loopback, server.port());
        tls::Handshake hs = tls::TlsSession::Connect(*client, s, "www.example.com", 5000);
        failed += hs.status != tls::HandshakeStatus::Done;
        if (hs.session) hs.session->Close();
        hs.session.reset();
        platform::ShutdownSocket(s);
        platform::CloseSocket(s);
    }
    state.counters["failed"] = static_cast<double>(failed);
}
BENCHMARK(BM_HandshakePair)->Unit(benchmark::kMicrosecond);

// Building the origin side's context with the system's trust store: what a
// proxy pays per connection when it does not keep its contexts.
void BM_ClientContextWithSystemStore(benchmark::State& state) {
    for (auto _ : state) {
        std::string error;
        benchmark::DoNotOptimize(tls::ClientContext::Create({}, error));
    }
}
BENCHMARK(BM_ClientContextWithSystemStore)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
