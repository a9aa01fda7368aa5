#include "adblock/VerdictCache.h"

namespace adblock {

void VerdictCache::Shard::EvictOne() {
    while (!clock[hand] || clock[hand]->second.used) {
        if (clock[hand]) clock[hand]->second.used = false;  // a second chance
        hand = (hand + 1) % clock.size();
    }
    Map::value_type* victim = clock[hand];
    clock[hand] = nullptr;
    freePlaces.push_back(static_cast<uint32_t>(hand));
    hand = (hand + 1) % clock.size();
    bytes -= victim->first.size();
    entries.erase(entries.find(victim->first));
}

void VerdictCache::Shard::Place(Map::value_type* entry) {
    if (freePlaces.empty()) {
        clock.push_back(entry);
        return;
    }
    clock[freePlaces.back()] = entry;
    freePlaces.pop_back();
}

VerdictCache::Map VerdictCache::Shard::TakeAll(uint64_t newGeneration) {
    generation = newGeneration;
    clock.clear();
    freePlaces.clear();
    hand = 0;
    bytes = 0;
    Map old;
    old.swap(entries);
    return old;
}

std::optional<int32_t> VerdictCache::Find(const Key& key, uint64_t generation) {
    Shard& shard = ShardFor(key);
    Map stale;  // freed after the lock is left
    std::lock_guard<std::mutex> g(shard.lock);
    if (shard.generation != generation) {
        if (shard.generation < generation) stale = shard.TakeAll(generation);
        return std::nullopt;
    }
    auto it = shard.entries.find(key);
    if (it == shard.entries.end()) return std::nullopt;
    it->second.used = true;
    return it->second.verdict;
}

int32_t VerdictCache::Insert(const Key& key, int32_t verdict, uint64_t generation) {
    const std::string& url = key.url();
    // A URL longer than a shard's share of the text budget is not kept: it
    // would push out everything else.
    if (url.size() > kBytesPerShard) return verdict;
    Shard& shard = ShardFor(key);
    Map stale;
    std::lock_guard<std::mutex> g(shard.lock);
    if (generation < shard.generation) return verdict;  // reached by rules already replaced
    if (generation > shard.generation) stale = shard.TakeAll(generation);
    auto [it, inserted] = shard.entries.try_emplace(url);
    if (!inserted) return it->second.verdict;
    it->second.verdict = verdict;
    // Room first; the new entry is not on the clock yet, so it stays.
    while (shard.entries.size() > kUrlsPerShard || shard.bytes + url.size() > kBytesPerShard) shard.EvictOne();
    shard.Place(&*it);
    shard.bytes += url.size();
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
