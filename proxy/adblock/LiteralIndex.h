#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace adblock {

// A multi-pattern (Aho-Corasick) automaton over the rules' literal keys: one
// pass over a URL yields every rule whose key occurs in it.
class LiteralIndex {
public:
    // Keys longer than this are cut: a prefix of a required text is required too.
    static constexpr size_t kMaxKeyLength = 32;

    void Add(std::string_view key, uint32_t ruleId);
    // Freezes the automaton; Add may not be called afterwards.
    void Build();
    // Appends the ids of the rules whose keys occur in text (unordered, may repeat).
    void Collect(std::string_view text, std::vector<uint32_t>& out) const;
    size_t StateCount() const { return fail_.size(); }

private:
    uint32_t Child(uint32_t state, unsigned char c) const;

    // Build-time trie: edges kept per state, sorted by byte once built.
    struct Edge {
        unsigned char label;
        uint32_t target;
    };
    std::vector<std::vector<Edge>> building_;
    std::vector<std::vector<uint32_t>> buildingOutputs_;

    // Frozen form (flat arrays).
    uint32_t rootNext_[256] = {};
    std::vector<uint32_t> edgeStart_;  // per state, into labels_/targets_; one extra at the end
    std::vector<unsigned char> labels_;
    std::vector<uint32_t> targets_;
    std::vector<uint32_t> fail_;
    std::vector<uint32_t> outputStart_;  // per state, into outputs_; one extra at the end
    std::vector<uint32_t> outputs_;
    std::vector<uint32_t> outputLink_;  // nearest state down the fail chain with outputs; 0 = none
};

}  // namespace adblock
