#include "net/HostCache.h"

#include <algorithm>
#include <ctime>
#include <fstream>
#include <vector>

int64_t HostCache::SystemNow() { return static_cast<int64_t>(std::time(nullptr)); }

HostCache::HostCache(std::string fileName, Clock clock) : fileName_(std::move(fileName)), clock_(std::move(clock)) {
    Load();
}

HostCache::~HostCache() { Save(); }

void HostCache::Load() {
    std::ifstream in(fileName_, std::ios::binary);
    if (!in) return;
    // The stamp holds the low 32 bits of the time: the difference modulo
    // 2^32 is the age, also after the 32-bit time wraps.
    const uint32_t now = static_cast<uint32_t>(clock_());
    auto ageOf = [now](const HostRecord& r) { return static_cast<int32_t>(now - static_cast<uint32_t>(r.stamp)); };
    auto younger = [&](const HostRecord& a, const HostRecord& b) { return ageOf(a) < ageOf(b); };

    // The most recently used records, at most kMaxHosts of them, however
    // long the file (a file of an older version may hold any number).
    std::vector<HostRecord> kept;
    HostRecord::Bytes bytes;
    while (in.read(reinterpret_cast<char*>(bytes.data()), bytes.size())) {
        HostRecord r = HostRecord::FromBytes(bytes);
        if (r.address == 0 || r.connectMs < 0 || ageOf(r) >= kMaxAgeSeconds) continue;
        kept.push_back(r);
        if (kept.size() == 2 * kMaxHosts) {
            std::nth_element(kept.begin(), kept.begin() + kMaxHosts, kept.end(), younger);
            kept.resize(kMaxHosts);
        }
    }
    // Oldest first, so the most recently used ends up at the front; a host
    // listed twice keeps its most recent record.
    std::stable_sort(kept.begin(), kept.end(), [&](const HostRecord& a, const HostRecord& b) { return younger(b, a); });
    if (kept.size() > kMaxHosts) kept.erase(kept.begin(), kept.end() - kMaxHosts);
    std::lock_guard<std::mutex> g(lock_);
    for (const HostRecord& r : kept) InsertLocked(r).record = r;
}

HostCache::Entry& HostCache::InsertLocked(const HostRecord& record) {
    auto [it, inserted] = map_.try_emplace(record.Host());
    Entry& e = it->second;
    if (inserted) {
        e.record = record;
        e.name = &it->first;
    } else {
        Unlink(e);
    }
    Touch(e);
    while (map_.size() > kMaxHosts) EraseLocked(*oldest_);
    return e;
}

void HostCache::Unlink(Entry& e) {
    (e.newer ? e.newer->older : newest_) = e.older;
    (e.older ? e.older->newer : oldest_) = e.newer;
    e.newer = e.older = nullptr;
}

void HostCache::Touch(Entry& e) {
    if (newest_ == &e) return;
    if (e.newer || e.older || oldest_ == &e) Unlink(e);
    e.older = newest_;
    (newest_ ? newest_->newer : oldest_) = &e;
    newest_ = &e;
}

void HostCache::EraseLocked(Entry& e) {
    Unlink(e);
    map_.erase(map_.find(*e.name));
}

void HostCache::Store(const HostRecord& record, Resolution resolution) {
    std::lock_guard<std::mutex> g(lock_);
    const bool known = map_.count(record.Host()) != 0;
    Entry& e = InsertLocked(record);
    if (known) {
        e.record.address = record.address;
        e.record.connectMs = record.connectMs;
        e.record.stamp = Now32();
    }
    e.resolvedAt = clock_();
    e.resolvedKnown = true;
    e.resolution = resolution;
}

std::optional<HostCache::Hit> HostCache::Lookup(const std::string& host, Resolution resolution) {
    std::lock_guard<std::mutex> g(lock_);
    auto it = map_.find(host);
    if (it == map_.end()) return std::nullopt;
    Entry& e = it->second;
    const int64_t now = clock_();
    e.record.stamp = static_cast<int32_t>(static_cast<uint32_t>(now));
    Touch(e);
    const int64_t sinceResolved = now - e.resolvedAt;
    // A clock set back makes the age negative: resolve again rather than trust it.
    const bool confirmed = e.resolvedKnown && e.resolution == resolution && sinceResolved >= 0 &&
                           sinceResolved < kConfirmSeconds;
    return Hit{e.record.address, e.record.connectMs, confirmed};
}

void HostCache::Confirm(const std::string& host, uint32_t address, Resolution resolution) {
    std::lock_guard<std::mutex> g(lock_);
    auto it = map_.find(host);
    if (it == map_.end() || it->second.record.address != address) return;  // replaced meanwhile
    it->second.resolvedAt = clock_();
    it->second.resolvedKnown = true;
    it->second.resolution = resolution;
}

void HostCache::Forget(const std::string& host, uint32_t address) {
    std::lock_guard<std::mutex> g(lock_);
    auto it = map_.find(host);
    if (it == map_.end() || it->second.record.address != address) return;  // replaced meanwhile
    EraseLocked(it->second);
}

void HostCache::Save() {
    std::string file;
    {
        std::lock_guard<std::mutex> g(lock_);
        if (saved_) return;
        saved_ = true;
        file.reserve(map_.size() * HostRecord::kSize);
        for (const auto& [host, entry] : map_) {
            HostRecord::Bytes bytes = entry.record.ToBytes();
            file.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        }
    }
    std::ofstream out(fileName_, std::ios::binary | std::ios::trunc);
    if (!out) return;  // a lost cache only costs fresh lookups
    out.write(file.data(), static_cast<std::streamsize>(file.size()));
}

size_t HostCache::Size() const {
    std::lock_guard<std::mutex> g(lock_);
    return map_.size();
}

std::optional<HostRecord> HostCache::Find(const std::string& host) const {
    std::lock_guard<std::mutex> g(lock_);
    auto it = map_.find(host);
    if (it == map_.end()) return std::nullopt;
    return it->second.record;
}
