// Many browsers at once through the real program: every request is answered,
// whole and intact, and every one reaches the origin exactly once.
#include <gtest/gtest.h>

#include <iostream>

#include "Browser.h"
#include "LoadOrigin.h"
#include "ProxyProcess.h"

using namespace e2e;

namespace {

// Of every 16 requests: three of each HTML framing, three JSON, one 1 MB binary.
Kind KindOf(int i) {
    switch (i % 16) {
        case 0: case 1: case 2: return Kind::HtmlPlain;
        case 3: case 4: case 5: return Kind::HtmlGzip;
        case 6: case 7: case 8: return Kind::HtmlChunked;
        case 9: case 10: case 11: return Kind::HtmlChunkedGzip;
        case 12: case 13: case 14: return Kind::Json;
        default: return Kind::Binary;
    }
}

std::string Describe(const LoadStats& stats) {
    std::string s;
    for (const auto& f : stats.failures) s += "\n  " + f;
    return s;
}

}  // namespace

TEST(LoadTest, EveryRequestAtConcurrency64IsAnsweredWholeAndIntact) {
    const int count = ScaledCount("MORVANE_E2E_REQUESTS", 20000, 5000);
    constexpr int kConcurrency = 64;
    RaiseOpenFileLimit(4096);
    LoadOrigin origin;
    ProxyProcess proxy;
    ASSERT_TRUE(proxy.Start());

    LoadStats stats = RunLoad(count, kConcurrency, 240000, [&](int i) {
        return FetchAndCheck(proxy.port(), origin.port(), KindOf(i), (i * 7) % kPageVariants);
    });

    std::cout << "[ figures  ] " << stats.started << " requests at concurrency " << kConcurrency << " in "
              << stats.seconds << " s (" << static_cast<int>(stats.started / stats.seconds) << " per s), "
              << stats.failed << " failed; proxy RSS " << proxy.ResidentKb() << " kB after the run\n";
    EXPECT_EQ(stats.started, count) << "the run hit its deadline";
    EXPECT_EQ(stats.failed, 0) << Describe(stats);
    EXPECT_EQ(origin.Answered(), static_cast<size_t>(count)) << "requests lost or repeated on the way to the origin";
    EXPECT_TRUE(proxy.Running());
    EXPECT_EQ(proxy.Stop(10000), 0);
}
