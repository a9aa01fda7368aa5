// Resident memory of the program over a long run: flat while the same URLs
// repeat, and growing with distinct URLs no faster than the one remembered
// ad-block verdict per URL (the only per-URL state the program keeps; every
// request here goes to one host, so the host cache holds one entry).
#include <gtest/gtest.h>

#include <iostream>
#include <thread>

#include "Browser.h"
#include "LoadOrigin.h"
#include "ProxyProcess.h"
#include "support/LoopbackClient.h"

using namespace e2e;

TEST(MemoryTest, ResidentMemoryGrowsOnlyByTheVerdictsOfNewUrls) {
    if (kSanitizedBuild) GTEST_SKIP() << "a sanitizer's own bookkeeping swamps the program's resident memory";
    const int count = ScaledCount("MORVANE_E2E_MEMORY_REQUESTS", 10000, 10000);
    RaiseOpenFileLimit(4096);
    LoadOrigin origin(64);
    ProxyProcess proxy;
    ASSERT_TRUE(proxy.Start());
    const long idleThreads = proxy.ServingThreads();

    auto run = [&](int requests, const char* query, int first) {
        static constexpr Kind kinds[] = {Kind::HtmlPlain, Kind::HtmlGzip, Kind::HtmlChunkedGzip, Kind::Json};
        return RunLoad(requests, 16, 120000, [&](int i) {
            std::string q = query ? query + std::to_string(first + i) : std::string();
            return FetchAndCheck(proxy.port(), origin.port(), kinds[i % 4], i % kPageVariants, q);
        });
    };
    // Resident memory once every connection is over.
    auto settled = [&] {
        EXPECT_TRUE(testsupport::WaitFor([&] { return proxy.ServingThreads() <= idleThreads; }, 10000));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        return proxy.ResidentKb();
    };

    // Warm-up: the allocator's arenas and the page caches reach their size.
    LoadStats warm = run(count / 2, nullptr, 0);
    const long start = settled();
    LoadStats repeated = run(count, nullptr, 0);
    const long afterRepeated = settled();
    LoadStats distinct = run(count, "?v=", 0);
    const long afterDistinct = settled();
    LoadStats distinctAgain = run(count, "?v=", count);
    const long afterDistinctAgain = settled();

    std::cout << "[ figures  ] VmRSS " << start << " kB after " << warm.started << " warm-up requests; " << afterRepeated
              << " kB after " << repeated.started << " repeated URLs (" << repeated.seconds << " s); " << afterDistinct
              << " kB after " << distinct.started << " distinct URLs; " << afterDistinctAgain << " kB after "
              << distinctAgain.started << " more distinct URLs\n";
    for (const LoadStats* s : {&warm, &repeated, &distinct, &distinctAgain}) {
        EXPECT_EQ(s->started, s == &warm ? count / 2 : count);
        EXPECT_EQ(s->failed, 0) << (s->failures.empty() ? "" : s->failures[0]);
    }
    // Repeated URLs keep nothing: allow 4 MB of allocator noise, which a leak
    // of 400 bytes per request would already exceed.
    EXPECT_LT(afterRepeated - start, 4096) << "memory grows with requests that add no state";
    // A verdict costs its URL (about 60 bytes here) plus a hash node: well
    // under 512 bytes.
    const long allowedKb = 4096 + count * 512L / 1024;
    EXPECT_LT(afterDistinct - afterRepeated, allowedKb) << "memory grows faster than the verdict cache";
    EXPECT_LT(afterDistinctAgain - afterDistinct, allowedKb) << "memory grows faster than the verdict cache";
    EXPECT_EQ(proxy.Stop(10000), 0);
}
