#include "adblock/VerdictCache.h"

#include <gtest/gtest.h>

#include <string>

namespace adblock {
namespace {

TEST(VerdictCacheTest, KeepsWhatIsUsedWithinBothBounds) {
    VerdictCache cache;
    const std::string kept = "http://kept.test/";
    cache.Insert(kept, 0, 1);
    cache.Insert("http://first.test/", 1, 1);
    for (size_t i = 0; i < VerdictCache::kMaxUrls * 2; ++i) {
        cache.Insert("http://n.test/" + std::to_string(i), static_cast<int32_t>(i % 2), 1);
        if (i % 256 == 0) {
            ASSERT_EQ(cache.Find(kept, 1), 0) << i;  // used all along
        }
    }
    EXPECT_LE(cache.Size(), VerdictCache::kMaxUrls);
    EXPECT_EQ(cache.Find(kept, 1), 0);
    EXPECT_FALSE(cache.Find("http://first.test/", 1)) << "one never used again goes";
    EXPECT_EQ(cache.Find("http://n.test/" + std::to_string(VerdictCache::kMaxUrls * 2 - 1), 1), 1);

    // Long URLs: the text bound holds before the count does.
    const std::string pad(8192, 'p');
    for (size_t i = 0; i < VerdictCache::kMaxUrlBytes / pad.size() * 2; ++i)
        cache.Insert("http://long.test/" + std::to_string(i) + pad, 0, 1);
    EXPECT_LE(cache.Size() * pad.size(), VerdictCache::kMaxUrlBytes);
    EXPECT_GT(cache.Size() * pad.size(), VerdictCache::kMaxUrlBytes / 2);
    // One URL bigger than a shard's share is answered but not kept.
    std::string huge = "http://huge.test/" + std::string(VerdictCache::kMaxUrlBytes, 'h');
    EXPECT_EQ(cache.Insert(huge, 0, 1), 0);
    EXPECT_FALSE(cache.Find(huge, 1));
}

// Verdicts belong to the rules that reached them: newer rules never see
// them, and a verdict of replaced rules is never kept.
TEST(VerdictCacheTest, GenerationsNeverMix) {
    VerdictCache cache;
    EXPECT_EQ(cache.Insert("http://a.test/", 0, 1), 0);
    EXPECT_EQ(cache.Insert("http://a.test/", 1, 1), 0) << "the first answer for a URL stands";
    EXPECT_FALSE(cache.Find("http://a.test/", 2));
    EXPECT_FALSE(cache.Find("http://a.test/", 1)) << "gone once newer rules asked";

    // A reload: what the old rules decided is gone, and a check that took
    // the old rules just before it leaves nothing behind.
    cache.Insert("http://b.test/", 0, 1);
    cache.Invalidate(2);
    EXPECT_EQ(cache.Size(), 0u);
    EXPECT_EQ(cache.Insert("http://c.test/", 1, 1), 1);
    EXPECT_FALSE(cache.Find("http://c.test/", 1));
    EXPECT_FALSE(cache.Find("http://c.test/", 2));
    EXPECT_EQ(cache.Insert("http://c.test/", 0, 2), 0);
    EXPECT_EQ(cache.Find("http://c.test/", 2), 0);
}

}  // namespace
}  // namespace adblock
