#include "adblock/VerdictCache.h"

#include <functional>

namespace adblock {

void VerdictCache::Shard::Unlink(Entry& e) {
    (e.newer ? e.newer->older : newest) = e.older;
    (e.older ? e.older->newer : oldest) = e.newer;
    e.newer = e.older = nullptr;
}

void VerdictCache::Shard::PushNewest(Entry& e) {
    e.newer = nullptr;
    e.older = newest;
    (newest ? newest->newer : oldest) = &e;
    newest = &e;
}

void VerdictCache::Shard::EvictOldest() {
    Entry* victim = oldest;
    Unlink(*victim);
    bytes -= victim->url->size();
    entries.erase(entries.find(*victim->url));
}

VerdictCache::Map VerdictCache::Shard::TakeAll(uint64_t newGeneration) {
    generation = newGeneration;
    newest = oldest = nullptr;
    bytes = 0;
    Map old;
    old.swap(entries);
    return old;
}

VerdictCache::Shard& VerdictCache::ShardFor(const std::string& url) {
    return shards_[std::hash<std::string>{}(url) % kShards];
}

std::optional<int32_t> VerdictCache::Find(const std::string& url, uint64_t generation) {
    Shard& shard = ShardFor(url);
    Map stale;  // freed after the lock is left
    std::lock_guard<std::mutex> g(shard.lock);
    if (shard.generation != generation) {
        if (shard.generation < generation) stale = shard.TakeAll(generation);
        return std::nullopt;
    }
    auto it = shard.entries.find(url);
    if (it == shard.entries.end()) return std::nullopt;
    Entry& e = it->second;
    if (shard.newest != &e) {
        shard.Unlink(e);
        shard.PushNewest(e);
    }
    return e.verdict;
}

int32_t VerdictCache::Insert(const std::string& url, int32_t verdict, uint64_t generation) {
    // A URL longer than a shard's share of the text budget is not kept: it
    // would push out everything else.
    if (url.size() > kBytesPerShard) return verdict;
    Shard& shard = ShardFor(url);
    Map stale;
    std::lock_guard<std::mutex> g(shard.lock);
    if (generation < shard.generation) return verdict;  // reached by rules already replaced
    if (generation > shard.generation) stale = shard.TakeAll(generation);
    auto [it, inserted] = shard.entries.try_emplace(url);
    Entry& e = it->second;
    if (!inserted) return e.verdict;
    e.verdict = verdict;
    e.url = &it->first;
    shard.PushNewest(e);
    shard.bytes += url.size();
    while (shard.entries.size() > kUrlsPerShard || shard.bytes > kBytesPerShard) shard.EvictOldest();
    return verdict;
}

void VerdictCache::Invalidate(uint64_t generation) {
    for (Shard& shard : shards_) {
        Map stale;
        std::lock_guard<std::mutex> g(shard.lock);
        if (shard.generation < generation) stale = shard.TakeAll(generation);
    }
}

size_t VerdictCache::Size() const {
    size_t n = 0;
    for (const Shard& shard : shards_) {
        std::lock_guard<std::mutex> g(shard.lock);
        n += shard.entries.size();
    }
    return n;
}

}  // namespace adblock
