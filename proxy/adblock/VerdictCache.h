#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

namespace adblock {

// The verdicts of recently checked URLs, so a URL seen again costs a lookup
// instead of a scan of the rules. Bounded: at most kMaxUrls URLs and
// kMaxUrlBytes of URL text; the least recently used go first.
//
// Every verdict carries the generation of the rules that reached it. A
// lookup or insert under a newer generation empties what older rules left;
// one under an older generation (a check that took the rules just before a
// reload) is neither answered nor kept.
//
// Sharded by URL hash; each shard's lock guards that shard alone and is held
// for one lookup or insert, never while another lock is taken.
class VerdictCache {
public:
    static constexpr size_t kMaxUrls = 65536;
    static constexpr size_t kMaxUrlBytes = size_t{16} << 20;
    static constexpr size_t kShards = 16;

    VerdictCache() = default;
    VerdictCache(const VerdictCache&) = delete;
    VerdictCache& operator=(const VerdictCache&) = delete;

    // The verdict remembered for url under rules of this generation.
    std::optional<int32_t> Find(const std::string& url, uint64_t generation);
    // Remembers a verdict reached by rules of this generation. Returns the
    // verdict that stands: one another thread remembered first for the same
    // URL and generation wins.
    int32_t Insert(const std::string& url, int32_t verdict, uint64_t generation);
    // Forgets everything older rules decided (a reload or a clear).
    void Invalidate(uint64_t generation);
    size_t Size() const;

private:
    static constexpr size_t kUrlsPerShard = kMaxUrls / kShards;
    static constexpr size_t kBytesPerShard = kMaxUrlBytes / kShards;

    // A remembered URL's verdict and its place in its shard's recency list.
    struct Entry {
        int32_t verdict = 1;
        Entry* newer = nullptr;
        Entry* older = nullptr;
        const std::string* url = nullptr;  // the map's own key (nodes never move)
    };
    using Map = std::unordered_map<std::string, Entry>;

    struct alignas(64) Shard {
        mutable std::mutex lock;
        uint64_t generation = 0;
        Map entries;
        Entry* newest = nullptr;
        Entry* oldest = nullptr;
        size_t bytes = 0;  // URL text held

        void Unlink(Entry& e);
        void PushNewest(Entry& e);
        void EvictOldest();
        // Takes the entries out, to be freed by the caller outside the lock.
        Map TakeAll(uint64_t newGeneration);
    };

    Shard& ShardFor(const std::string& url);

    Shard shards_[kShards];
};

}  // namespace adblock
