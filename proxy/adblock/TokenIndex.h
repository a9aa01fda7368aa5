#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace adblock {

// Rules keyed by a whole token (see IsTokenChar): a hash table from the
// token's hash to the rules that carry it. One pass over a URL's tokens, one
// lookup each, yields the candidates. Hash collisions only add candidates.
class TokenIndex {
public:
    static uint64_t Hash(std::string_view token);

    void Add(std::string_view token, uint32_t ruleId);
    // Freezes the table; Add may not be called afterwards.
    void Build();
    // Appends the ids of the rules whose token is a token of text (unordered,
    // may repeat).
    void Collect(std::string_view text, std::vector<uint32_t>& out) const;
    size_t KeyCount() const { return keyCount_; }

private:
    struct Slot {
        uint64_t hash = 0;  // 0: empty (no token hashes to 0, see Hash)
        uint32_t start = 0;
        uint32_t count = 0;
    };
    void Lookup(uint64_t hash, std::vector<uint32_t>& out) const;

    std::vector<std::pair<uint64_t, uint32_t>> pending_;  // (hash, rule) until Build
    std::vector<Slot> slots_;                              // power-of-two size
    // One bit per hash value class: most URL tokens are no key, and this
    // small table (it stays in cache) tells so without touching slots_.
    static constexpr unsigned kFilterBits = 19;
    std::vector<uint64_t> filter_;
    std::vector<uint32_t> ruleIds_;
    size_t keyCount_ = 0;
};

}  // namespace adblock
