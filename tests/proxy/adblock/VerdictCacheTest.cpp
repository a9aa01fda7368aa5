#include "adblock/VerdictCache.h"

#include <gtest/gtest.h>

#include <string>

namespace adblock {
namespace {

std::optional<int32_t> Find(VerdictCache& cache, const std::string& url, uint64_t generation) {
    return cache.Find(VerdictCache::Key(url), generation);
}
int32_t Insert(VerdictCache& cache, const std::string& url, int32_t verdict, uint64_t generation) {
    return cache.Insert(VerdictCache::Key(url), verdict, generation);
}

TEST(VerdictCacheTest, KeepsWhatIsUsedWithinBothBounds) {
    VerdictCache cache;
    const std::string kept = "http://kept.test/";
    Insert(cache, kept, 0, 1);
    Insert(cache, "http://first.test/", 1, 1);
    for (size_t i = 0; i < VerdictCache::kMaxUrls * 2; ++i) {
        Insert(cache, "http://n.test/" + std::to_string(i), static_cast<int32_t>(i % 2), 1);
        if (i % 256 == 0) {
            ASSERT_EQ(Find(cache, kept, 1), 0) << i;  // used all along
        }
    }
    EXPECT_LE(cache.Size(), VerdictCache::kMaxUrls);
    EXPECT_EQ(Find(cache, kept, 1), 0);
    EXPECT_FALSE(Find(cache, "http://first.test/", 1)) << "one never used again goes";
    EXPECT_EQ(Find(cache, "http://n.test/" + std::to_string(VerdictCache::kMaxUrls * 2 - 1), 1), 1);

    // Long URLs: the text bound holds before the count does.
    const std::string pad(8192, 'p');
    for (size_t i = 0; i < VerdictCache::kMaxUrlBytes / pad.size() * 2; ++i)
        Insert(cache, "http://long.test/" + std::to_string(i) + pad, 0, 1);
    EXPECT_LE(cache.Size() * pad.size(), VerdictCache::kMaxUrlBytes);
    EXPECT_GT(cache.Size() * pad.size(), VerdictCache::kMaxUrlBytes / 2);
    // One URL bigger than a shard's share is answered but not kept.
    std::string huge = "http://huge.test/" + std::string(VerdictCache::kMaxUrlBytes, 'h');
    EXPECT_EQ(Insert(cache, huge, 0, 1), 0);
    EXPECT_FALSE(Find(cache, huge, 1));
}

// Verdicts belong to the rules that reached them: newer rules never see
// them, and a verdict of replaced rules is never kept.
TEST(VerdictCacheTest, GenerationsNeverMix) {
    VerdictCache cache;
    EXPECT_EQ(Insert(cache, "http://a.test/", 0, 1), 0);
    EXPECT_EQ(Insert(cache, "http://a.test/", 1, 1), 0) << "the first answer for a URL stands";
    EXPECT_FALSE(Find(cache, "http://a.test/", 2));
    EXPECT_FALSE(Find(cache, "http://a.test/", 1)) << "gone once newer rules asked";

    // A reload: what the old rules decided is gone, and a check that took
    // the old rules just before it leaves nothing behind.
    Insert(cache, "http://b.test/", 0, 1);
    cache.Invalidate(2);
    EXPECT_EQ(cache.Size(), 0u);
    EXPECT_EQ(Insert(cache, "http://c.test/", 1, 1), 1);
    EXPECT_FALSE(Find(cache, "http://c.test/", 1));
    EXPECT_FALSE(Find(cache, "http://c.test/", 2));
    EXPECT_EQ(Insert(cache, "http://c.test/", 0, 2), 0);
    EXPECT_EQ(Find(cache, "http://c.test/", 2), 0);
}

}  // namespace
}  // namespace adblock
