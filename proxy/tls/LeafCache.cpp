#include "tls/LeafCache.h"

#include <chrono>
#include <ctime>

namespace tls {

namespace {

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

}  // namespace

LeafCache::LeafCache(std::shared_ptr<const LocalCa> ca, const TlsLimits& limits, Clock clock)
    : ca_(std::move(ca)), limits_(limits), clock_(std::move(clock)) {}

LeafCache::~LeafCache() = default;

int64_t LeafCache::Now() const { return clock_ ? clock_() : static_cast<int64_t>(std::time(nullptr)); }

std::shared_ptr<const Leaf> LeafCache::Get(const std::string& host) {
    if (!ca_) return nullptr;
    const std::string key = Lower(host);
    std::promise<std::shared_ptr<const Leaf>> minting;
    Result waitFor;
    {
        std::lock_guard<std::mutex> g(lock_);
        auto it = slots_.find(key);
        if (it != slots_.end() && it->second.leaf) {
            if (it->second.leaf->NotAfter() - Now() > limits_.leafRenewBeforeSeconds) {
                recency_.splice(recency_.begin(), recency_, it->second.use);
                return it->second.leaf;
            }
            recency_.erase(it->second.use);  // near its end: mint a new one
            slots_.erase(it);
            it = slots_.end();
        }
        if (it != slots_.end()) {
            waitFor = it->second.minting;  // another thread is minting it
        } else {
            Slot slot;
            slot.minting = minting.get_future().share();
            slots_.emplace(key, std::move(slot));
        }
    }
    if (waitFor.valid()) {
        if (waitFor.wait_for(std::chrono::milliseconds(limits_.leafMintWaitMs)) != std::future_status::ready)
            return nullptr;
        return waitFor.get();
    }

    std::shared_ptr<const Leaf> leaf = MintLeaf(*ca_, key, Now());
    {
        std::lock_guard<std::mutex> g(lock_);
        auto it = slots_.find(key);
        if (leaf) {
            ++minted_;
            recency_.push_front(key);
            it->second.leaf = leaf;
            it->second.minting = {};
            it->second.use = recency_.begin();
            while (recency_.size() > limits_.leafCacheHosts) {
                slots_.erase(recency_.back());
                recency_.pop_back();
            }
        } else {
            slots_.erase(it);  // the next request tries again
        }
    }
    // Fulfilled with no lock held; waiters that came meanwhile hold their
    // own copy of the future.
    minting.set_value(leaf);
    return leaf;
}

size_t LeafCache::Minted() const {
    std::lock_guard<std::mutex> g(lock_);
    return minted_;
}

size_t LeafCache::Size() const {
    std::lock_guard<std::mutex> g(lock_);
    return slots_.size();
}

}  // namespace tls
