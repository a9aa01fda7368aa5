#include "net/HostCache.h"

#include <ctime>
#include <fstream>

int64_t HostCache::SystemNow() { return static_cast<int64_t>(std::time(nullptr)); }

HostCache::HostCache(std::string fileName, Clock clock) : fileName_(std::move(fileName)), clock_(std::move(clock)) {
    Load();
}

HostCache::~HostCache() { Save(); }

void HostCache::Load() {
    std::ifstream in(fileName_, std::ios::binary);
    if (!in) return;
    HostRecord::Bytes bytes;
    while (in.read(reinterpret_cast<char*>(bytes.data()), bytes.size())) {
        HostRecord r = HostRecord::FromBytes(bytes);
        if (r.address == 0 || r.connectMs < 0) continue;
        // The stamp holds the low 32 bits of the time: their difference
        // modulo 2^32 is the age, also after the 32-bit time wraps.
        int32_t age = static_cast<int32_t>(static_cast<uint32_t>(clock_()) - static_cast<uint32_t>(r.stamp));
        if (age < kMaxAgeSeconds) Store(r);
    }
}

void HostCache::Store(const HostRecord& record) {
    std::string host = record.Host();
    std::lock_guard<std::mutex> g(lock_);
    auto it = map_.find(host);
    if (it == map_.end()) {
        map_.emplace(std::move(host), record);
        return;
    }
    it->second.address = record.address;
    it->second.connectMs = record.connectMs;
    it->second.stamp = Now32();
}

std::optional<HostCache::Hit> HostCache::Lookup(const std::string& host) {
    std::lock_guard<std::mutex> g(lock_);
    auto it = map_.find(host);
    if (it == map_.end()) return std::nullopt;
    it->second.stamp = Now32();
    return Hit{it->second.address, it->second.connectMs};
}

void HostCache::Save() {
    std::lock_guard<std::mutex> g(lock_);
    if (saved_) return;
    saved_ = true;
    std::ofstream out(fileName_, std::ios::binary | std::ios::trunc);
    if (!out) return;  // a lost cache only costs fresh lookups
    for (const auto& [host, record] : map_) {
        HostRecord::Bytes bytes = record.ToBytes();
        out.write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
}

size_t HostCache::Size() const {
    std::lock_guard<std::mutex> g(lock_);
    return map_.size();
}

std::optional<HostRecord> HostCache::Find(const std::string& host) const {
    std::lock_guard<std::mutex> g(lock_);
    auto it = map_.find(host);
    if (it == map_.end()) return std::nullopt;
    return it->second;
}
