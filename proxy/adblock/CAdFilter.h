#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <sievekit/CMyList.h>

#include "adblock/AdRule.h"
#include "adblock/LiteralIndex.h"
#include "adblock/TokenIndex.h"

// What a check decided and which rule decided it (nullptr: no rule matched).
struct AdDecision {
    int32_t verdict = 1;  // 1 lets the request through, 0 blocks it
    const AdRule* rule = nullptr;
};

// A loaded set of rules, immutable once built. Checks hold it by shared
// pointer, so ClearRules never frees rules under a running scan: the last
// holder destroys it.
class AdRuleSet {
public:
    explicit AdRuleSet(const std::set<std::wstring>& lines);
    AdRuleSet(const AdRuleSet&) = delete;
    AdRuleSet& operator=(const AdRuleSet&) = delete;

    // The first rule, in list order, that matches decides.
    AdDecision Decide(std::string_view url, std::string_view host) const;

    size_t size() const { return rules_.size(); }
    const AdRule& rule(size_t i) const { return *rules_[i]; }
    size_t AlwaysConfirmedCount() const { return alwaysConfirmed_.size(); }
    size_t TokenKeyedCount() const { return tokenKeyed_; }

private:
    void Index();

    std::vector<std::unique_ptr<AdRule>> rules_;  // in the order of the list's lines
    adblock::TokenIndex tokens_;                   // whole token -> rule ids
    adblock::LiteralIndex index_;                  // literal key -> rule ids, for rules without a good token
    std::vector<uint32_t> alwaysConfirmed_;        // rules without a key, ascending
    size_t tokenKeyed_ = 0;
};

// The ad-block engine: the list "Data/easylistchina.txt" converted into rules,
// and one remembered verdict per URL.
//
// Locks (never one inside the other):
//  - stateLock_ guards loaded_ and rules_ (the pointer). LoadRules and
//    ClearRules hold it for their whole run, so a check never sees a
//    half-built set; a check holds it only to read the flag and take the set.
//  - each cache shard's lock guards that shard; held for one lookup or insert.
// A scan runs under neither, so a cached verdict never waits behind it.
class CAdFilter {
public:
    CAdFilter();
    // The same engine over another list file (the diagnostic tool, tests).
    explicit CAdFilter(const std::string& listFile);
    ~CAdFilter();
    CAdFilter(const CAdFilter&) = delete;
    CAdFilter& operator=(const CAdFilter&) = delete;

    // Converts the list's lines into rules; does nothing when already loaded.
    void LoadRules();
    // Drops every rule. Remembered verdicts stay.
    void ClearRules();
    // 1 lets the request through, 0 blocks it.
    int32_t CheckUrl(const std::string& url, const std::string& host);

    // The decision of the loaded rules for a URL, neither read from nor kept
    // in the verdict cache; what CheckUrl gives a URL it has not seen.
    AdDecision Explain(const std::string& url, const std::string& host) const;
    bool IsLoaded() const;
    size_t RuleCount() const;
    // Keeps the loaded set alive for the caller (for the rule returned by Explain).
    std::shared_ptr<const AdRuleSet> Rules() const;

private:
    static constexpr size_t kCacheShards = 16;
    struct CacheShard {
        std::mutex lock;
        std::unordered_map<std::string, int32_t> verdicts;
    };
    CacheShard& ShardFor(const std::string& url);

    CMyList list_;
    mutable std::mutex stateLock_;
    bool loaded_ = false;
    std::shared_ptr<const AdRuleSet> rules_;
    CacheShard cache_[kCacheShards];
};
