#include "adblock/TokenIndex.h"

#include <algorithm>

#include "adblock/PatternShape.h"

namespace adblock {

namespace {
constexpr uint64_t kOffset = 1469598103934665603ULL;  // FNV-1a
constexpr uint64_t kPrime = 1099511628211ULL;

uint64_t Finish(uint64_t h) { return h == 0 ? 1 : h; }
}  // namespace

uint64_t TokenIndex::Hash(std::string_view token) {
    uint64_t h = kOffset;
    for (char c : token) h = (h ^ static_cast<unsigned char>(c)) * kPrime;
    return Finish(h);
}

void TokenIndex::Add(std::string_view token, uint32_t ruleId) { pending_.emplace_back(Hash(token), ruleId); }

void TokenIndex::Build() {
    std::sort(pending_.begin(), pending_.end());
    pending_.erase(std::unique(pending_.begin(), pending_.end()), pending_.end());
    size_t distinct = 0;
    for (size_t i = 0; i < pending_.size(); ++i)
        if (i == 0 || pending_[i].first != pending_[i - 1].first) ++distinct;
    size_t size = 16;
    while (size < distinct * 2) size *= 2;
    slots_.assign(size, Slot{});
    ruleIds_.resize(pending_.size());
    for (size_t i = 0; i < pending_.size();) {
        size_t j = i;
        while (j < pending_.size() && pending_[j].first == pending_[i].first) {
            ruleIds_[j] = pending_[j].second;
            ++j;
        }
        size_t s = pending_[i].first & (size - 1);
        while (slots_[s].hash != 0) s = (s + 1) & (size - 1);
        slots_[s] = {pending_[i].first, static_cast<uint32_t>(i), static_cast<uint32_t>(j - i)};
        i = j;
    }
    filter_.assign((size_t{1} << kFilterBits) / 64, 0);
    for (const auto& [hash, rule] : pending_) {
        uint64_t bit = hash >> (64 - kFilterBits);
        filter_[bit / 64] |= uint64_t{1} << (bit % 64);
    }
    keyCount_ = distinct;
    pending_ = {};
}

void TokenIndex::Lookup(uint64_t hash, std::vector<uint32_t>& out) const {
    uint64_t bit = hash >> (64 - kFilterBits);
    if ((filter_[bit / 64] & (uint64_t{1} << (bit % 64))) == 0) return;
    const size_t mask = slots_.size() - 1;
    for (size_t s = hash & mask;; s = (s + 1) & mask) {
        const Slot& slot = slots_[s];
        if (slot.hash == hash) {
            out.insert(out.end(), ruleIds_.begin() + slot.start, ruleIds_.begin() + slot.start + slot.count);
            return;
        }
        if (slot.hash == 0) return;
    }
}

void TokenIndex::Collect(std::string_view text, std::vector<uint32_t>& out) const {
    if (keyCount_ == 0) return;
    size_t i = 0;
    const size_t n = text.size();
    while (i < n) {
        if (!IsTokenChar(text[i])) {
            ++i;
            continue;
        }
        uint64_t h = kOffset;
        while (i < n && IsTokenChar(text[i])) h = (h ^ static_cast<unsigned char>(text[i++])) * kPrime;
        Lookup(Finish(h), out);
    }
}

}  // namespace adblock
