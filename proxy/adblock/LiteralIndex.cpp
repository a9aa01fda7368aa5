#include "adblock/LiteralIndex.h"

#include <algorithm>

namespace adblock {

void LiteralIndex::Add(std::string_view key, uint32_t ruleId) {
    if (key.empty()) return;
    if (key.size() > kMaxKeyLength) key = key.substr(0, kMaxKeyLength);
    if (building_.empty()) {
        building_.emplace_back();
        buildingOutputs_.emplace_back();
    }
    uint32_t state = 0;
    for (char ch : key) {
        auto c = static_cast<unsigned char>(ch);
        auto& edges = building_[state];
        auto it = std::find_if(edges.begin(), edges.end(), [c](const Edge& e) { return e.label == c; });
        if (it != edges.end()) {
            state = it->target;
            continue;
        }
        auto next = static_cast<uint32_t>(building_.size());
        edges.push_back({c, next});
        building_.emplace_back();
        buildingOutputs_.emplace_back();
        state = next;
    }
    buildingOutputs_[state].push_back(ruleId);
}

uint32_t LiteralIndex::Child(uint32_t state, unsigned char c) const {
    for (uint32_t e = edgeStart_[state]; e < edgeStart_[state + 1]; ++e)
        if (labels_[e] == c) return targets_[e];
    return 0;
}

void LiteralIndex::Build() {
    if (building_.empty()) {
        building_.emplace_back();
        buildingOutputs_.emplace_back();
    }
    const size_t n = building_.size();
    edgeStart_.assign(n + 1, 0);
    for (size_t s = 0; s < n; ++s) {
        auto& edges = building_[s];
        std::sort(edges.begin(), edges.end(), [](const Edge& a, const Edge& b) { return a.label < b.label; });
        edgeStart_[s + 1] = edgeStart_[s] + static_cast<uint32_t>(edges.size());
    }
    labels_.resize(edgeStart_[n]);
    targets_.resize(edgeStart_[n]);
    for (size_t s = 0; s < n; ++s) {
        uint32_t e = edgeStart_[s];
        for (const Edge& edge : building_[s]) {
            labels_[e] = edge.label;
            targets_[e++] = edge.target;
        }
    }
    for (const Edge& edge : building_[0]) rootNext_[edge.label] = edge.target;

    // Breadth-first: fail links and output links.
    fail_.assign(n, 0);
    outputLink_.assign(n, 0);
    std::vector<uint32_t> queue;
    queue.reserve(n);
    for (const Edge& edge : building_[0]) queue.push_back(edge.target);
    for (size_t head = 0; head < queue.size(); ++head) {
        uint32_t s = queue[head];
        uint32_t f = fail_[s];
        outputLink_[s] = buildingOutputs_[f].empty() ? outputLink_[f] : f;
        for (const Edge& edge : building_[s]) {
            uint32_t t = f;
            uint32_t next = 0;
            while (true) {
                next = t == 0 ? rootNext_[edge.label] : Child(t, edge.label);
                if (next != 0 || t == 0) break;
                t = fail_[t];
            }
            fail_[edge.target] = next;
            queue.push_back(edge.target);
        }
    }

    outputStart_.assign(n + 1, 0);
    for (size_t s = 0; s < n; ++s)
        outputStart_[s + 1] = outputStart_[s] + static_cast<uint32_t>(buildingOutputs_[s].size());
    outputs_.reserve(outputStart_[n]);
    for (auto& o : buildingOutputs_) outputs_.insert(outputs_.end(), o.begin(), o.end());

    building_ = {};
    buildingOutputs_ = {};
}

void LiteralIndex::Collect(std::string_view text, std::vector<uint32_t>& out) const {
    if (fail_.empty()) return;
    uint32_t state = 0;
    for (char ch : text) {
        auto c = static_cast<unsigned char>(ch);
        while (true) {
            if (state == 0) {
                state = rootNext_[c];
                break;
            }
            uint32_t next = Child(state, c);
            if (next != 0) {
                state = next;
                break;
            }
            state = fail_[state];
        }
        for (uint32_t s = outputStart_[state] != outputStart_[state + 1] ? state : outputLink_[state]; s != 0;
             s = outputLink_[s])
            out.insert(out.end(), outputs_.begin() + outputStart_[s], outputs_.begin() + outputStart_[s + 1]);
    }
}

}  // namespace adblock
