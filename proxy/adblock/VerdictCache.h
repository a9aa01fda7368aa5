#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace adblock {

// The verdicts of recently checked URLs, so a URL seen again costs a lookup
// instead of a scan of the rules. Bounded: at most kMaxUrls URLs and
// kMaxUrlBytes of URL text. What goes first is chosen the "clock" way, the
// cheap stand-in for least recently used: a hand walks round the entries,
// gives one that was used since it last passed a second chance, and takes
// the first that was not. A hit only marks its entry, so it writes no memory
// beyond the entry it reads.
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

    // A URL with its hash, taken once for a lookup and the insert that may
    // follow it. Refers to the caller's text, which must outlive it.
    class Key {
    public:
        explicit Key(const std::string& url) : url_(url), hash_(std::hash<std::string>{}(url)) {}
        const std::string& url() const { return url_; }
        size_t hash() const { return hash_; }

    private:
        const std::string& url_;
        size_t hash_;
    };

    // The verdict remembered for the URL under rules of this generation.
    std::optional<int32_t> Find(const Key& key, uint64_t generation);
    // Remembers a verdict reached by rules of this generation. Returns the
    // verdict that stands: one another thread remembered first for the same
    // URL and generation wins.
    int32_t Insert(const Key& key, int32_t verdict, uint64_t generation);
    // Forgets everything older rules decided (a reload or a clear).
    void Invalidate(uint64_t generation);
    size_t Size() const;

private:
    static constexpr size_t kUrlsPerShard = kMaxUrls / kShards;
    static constexpr size_t kBytesPerShard = kMaxUrlBytes / kShards;

    // A remembered URL's verdict; 8 bytes, so a map node is 56.
    struct Entry {
        int32_t verdict = 1;
        bool used = false;  // looked up since the hand last passed
    };
    // Looked up by Key, so a lookup does not hash the URL again.
    struct Hash {
        using is_transparent = void;
        size_t operator()(const std::string& url) const { return std::hash<std::string>{}(url); }
        size_t operator()(const Key& key) const { return key.hash(); }
    };
    struct Equal {
        using is_transparent = void;
        bool operator()(const std::string& a, const std::string& b) const { return a == b; }
        bool operator()(const Key& a, const std::string& b) const { return a.url() == b; }
        bool operator()(const std::string& a, const Key& b) const { return a == b.url(); }
    };
    using Map = std::unordered_map<std::string, Entry, Hash, Equal>;

    struct alignas(64) Shard {
        mutable std::mutex lock;
        uint64_t generation = 0;
        Map entries;
        // Every entry once (map nodes never move); null where one was evicted
        // and no new one has come yet.
        std::vector<Map::value_type*> clock;
        std::vector<uint32_t> freePlaces;  // the null places of clock
        size_t hand = 0;
        size_t bytes = 0;  // URL text held

        // Evicts the entry the hand settles on and moves the hand past it
        // (the shard holds at least one entry).
        void EvictOne();
        // Puts a new entry on the clock: in a freed place (which the hand
        // meets last) or at the end.
        void Place(Map::value_type* entry);
        // Takes the entries out, to be freed by the caller outside the lock.
        Map TakeAll(uint64_t newGeneration);
    };

    Shard& ShardFor(const Key& key) { return shards_[key.hash() % kShards]; }

    Shard shards_[kShards];
};

}  // namespace adblock
