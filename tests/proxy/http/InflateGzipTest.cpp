#include "http/InflateGzip.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "GzipTestSupport.h"

using namespace gziptest;

namespace {

struct Outcome {
    int result;
    unsigned count;
    std::string bytes;
    bool operator==(const Outcome&) const = default;
};

template <typename Inflate>
Outcome RunInflate(Inflate inflateFn, const std::string& input, unsigned capacity) {
    std::vector<char> out(capacity + 1, '\x5A');
    unsigned count = capacity;
    int r = inflateFn(input.data(), static_cast<unsigned>(input.size()), out.data(), &count);
    Outcome o{r, r == 0 ? count : 0u, {}};
    if (r == 0) o.bytes.assign(out.data(), count);
    EXPECT_EQ(out[capacity], '\x5A') << "wrote past the capacity";
    return o;
}

// The form whose output grows as it decodes.
Outcome RunGrowing(const std::string& input, unsigned capacity) {
    std::string out = "stale";
    int r = InflateGzipInto(input.data(), static_cast<unsigned>(input.size()), capacity, out);
    EXPECT_LE(out.size(), capacity) << "grew past the capacity";
    if (r != 0) {
        EXPECT_TRUE(out.empty()) << "a failure left bytes behind";
    }
    return Outcome{r, r == 0 ? static_cast<unsigned>(out.size()) : 0u, r == 0 ? out : std::string()};
}

// All forms must agree on result, count and bytes.
void ExpectSame(const std::string& input, unsigned capacity, const std::string& what) {
    Outcome fast = RunInflate(InflateGzip, input, capacity);
    Outcome slow = RunInflate(InflateGzipBytewise, input, capacity);
    Outcome growing = RunGrowing(input, capacity);
    ASSERT_EQ(fast.result, slow.result) << what << " capacity " << capacity;
    ASSERT_EQ(fast.count, slow.count) << what << " capacity " << capacity;
    ASSERT_TRUE(fast.bytes == slow.bytes) << what << " capacity " << capacity;
    ASSERT_EQ(growing.result, slow.result) << what << " growing, capacity " << capacity;
    ASSERT_EQ(growing.count, slow.count) << what << " growing, capacity " << capacity;
    ASSERT_TRUE(growing.bytes == slow.bytes) << what << " growing, capacity " << capacity;
}

std::vector<std::pair<std::string, std::string>> Streams() {
    std::vector<std::pair<std::string, std::string>> s;
    s.emplace_back("page", Gzip(PageLike(20000, 1)));
    s.emplace_back("page-fast", Gzip(PageLike(20000, 2), 1));
    s.emplace_back("page-huffman", Gzip(PageLike(6000, 3), 6, Z_HUFFMAN_ONLY));
    s.emplace_back("page-fixed", Gzip(PageLike(6000, 4), 6, Z_FIXED));
    s.emplace_back("page-rle", Gzip(PageLike(6000, 5), 6, Z_RLE));
    s.emplace_back("stored", Gzip(RandomBytes(5000, 6), 0));
    s.emplace_back("random", Gzip(RandomBytes(5000, 7)));
    s.emplace_back("bomb", Gzip(std::string(200000, 'a')));
    s.emplace_back("zeros", Gzip(std::string(3000, '\0')));
    return s;
}

}  // namespace

TEST(InflateGzipEquivalence, CapacityBoundariesStepByStep) {
    // Every capacity around the output sizes where matches and blocks end.
    std::string small = Gzip(PageLike(600, 10));
    for (unsigned cap = 0; cap <= 650; ++cap) ExpectSame(small, cap, "small page capacity sweep");
    std::string gz = Gzip(PageLike(9000, 11));
    for (unsigned cap = 4000; cap <= 9100; cap += 3) ExpectSame(gz, cap, "page capacity sweep");
    std::string bomb = Gzip(std::string(50000, 'x') + PageLike(2000, 12) + std::string(50000, 'y'));
    for (unsigned cap = 49000; cap < 53000; cap += 7) ExpectSame(bomb, cap, "bomb capacity sweep");
}

TEST(InflateGzipEquivalence, TruncatedStreamsAtEveryLength) {
    for (const auto& [name, gz] : Streams()) {
        const unsigned n = static_cast<unsigned>(gz.size());
        const unsigned stride = n > 1500 ? n / 300 : 1;
        for (unsigned len = 0; len <= n; len += stride) ExpectSame(gz.substr(0, len), 18 * n, name + " cut");
        for (unsigned len = n > 40 ? n - 40 : 0; len <= n; ++len) ExpectSame(gz.substr(0, len), 18 * n, name + " cut tail");
    }
}

TEST(InflateGzipEquivalence, TwoMembersAndTrailingBytes) {
    std::string a = Gzip(PageLike(5000, 21)), b = Gzip(PageLike(3000, 22));
    ExpectSame(a + b, 18 * static_cast<unsigned>((a + b).size()), "two members");
    ExpectSame(a + "trailing garbage", 100000, "trailing bytes");
    for (unsigned cut = static_cast<unsigned>(a.size()) - 10; cut < a.size() + 20; ++cut)
        ExpectSame((a + b).substr(0, cut), 100000, "two members cut");

    Outcome o = RunInflate(InflateGzip, a + b, 100000);
    EXPECT_EQ(o.result, 0);
    EXPECT_EQ(o.bytes, PageLike(5000, 21));
}

TEST(InflateGzipEquivalence, CorruptedStreams) {
    for (const auto& [name, gz] : Streams()) {
        const size_t n = gz.size();
        std::mt19937 rng(99);
        for (int k = 0; k < 150; ++k) {
            std::string bad = gz;
            size_t at = k < 40 ? static_cast<size_t>(k) % n : rng() % n;
            bad[at] = static_cast<char>(bad[at] ^ (1 + rng() % 255));
            unsigned cap = k % 3 == 0 ? 18 * static_cast<unsigned>(n) : static_cast<unsigned>(rng() % (20 * n + 1));
            ExpectSame(bad, cap, name + " corrupt at " + std::to_string(at));
        }
    }
}

TEST(InflateGzipEquivalence, RandomGarbageAndOtherWrappers) {
    for (unsigned seed = 0; seed < 200; ++seed) ExpectSame(RandomBytes(1 + seed % 64, seed), 1000, "garbage");
    ExpectSame(ZlibWrapped(PageLike(1000, 5)), 18000, "zlib wrapper");
    EXPECT_EQ(RunInflate(InflateGzip, ZlibWrapped(PageLike(1000, 5)), 18000).result, -1);
}

TEST(InflateGzip, CorruptChecksumFailsWhenTheTrailerIsReached) {
    std::string text = PageLike(4000, 41);
    std::string gz = Gzip(text);
    gz[gz.size() - 6] ^= 0x01;  // inside the CRC
    EXPECT_EQ(RunInflate(InflateGzip, gz, 100000).result, -1);
    // Stopped by the capacity before the trailer: the bytes decoded so far count.
    Outcome cut = RunInflate(InflateGzip, gz, 1000);
    EXPECT_EQ(cut.result, 0);
    EXPECT_EQ(cut.bytes, text.substr(0, 1000));
}

TEST(InflateGzipEquivalence, RandomisedStreamsCutsAndCapacities) {
    std::mt19937 rng(5);
    for (int it = 0; it < 1200; ++it) {
        std::string text;
        switch (it % 4) {
            case 0: text = PageLike(2000 + rng() % 30000, rng()); break;
            case 1: text = std::string(rng() % 40000, 'q') + PageLike(500, rng()); break;
            case 2: text = PageLike(5000, rng()) + RandomBytes(rng() % 3000, rng()); break;
            default: text = PageLike(8000, rng()) + std::string(rng() % 9000, 'z'); break;
        }
        std::string gz = Gzip(text, static_cast<int>(rng() % 10), static_cast<int>(rng() % 5));
        unsigned n = static_cast<unsigned>(gz.size());
        unsigned len = rng() % 2 ? n : static_cast<unsigned>(rng() % (n + 1));
        unsigned cap = rng() % 2 ? 18 * len : static_cast<unsigned>(rng() % (text.size() + 10));
        ExpectSame(gz.substr(0, len), cap, "stream " + std::to_string(it));
    }
}

TEST(InflateGzipEquivalence, LiteralOnlyStreamsWhereEveryByteLoopCallCounts) {
    // Fixed codes of eight bits and no matches: pulls and writes alternate,
    // so where the byte loop's calls fall decides the last byte kept.
    std::mt19937 rng(8);
    for (int it = 0; it < 150; ++it) {
        std::string text(9000 + rng() % 3000, '\0');
        for (char& c : text) c = static_cast<char>(rng() % 144);
        std::string gz = Gzip(text, 6, Z_FIXED);
        unsigned n = static_cast<unsigned>(gz.size());
        for (int k = 0; k < 6; ++k) {
            unsigned len = n - rng() % (n / 2);
            ExpectSame(gz.substr(0, len), 18 * len, "literal stream cut " + std::to_string(it));
        }
        ExpectSame(gz, 5000 + rng() % 4000, "literal stream capacity " + std::to_string(it));
    }
}
