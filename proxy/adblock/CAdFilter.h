#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include <sievekit/CMyList.h>

#include "adblock/AdRule.h"
#include "adblock/LiteralIndex.h"
#include "adblock/TokenIndex.h"
#include "adblock/VerdictCache.h"

// The URL a "CONNECT" tunnel to host is checked as: where an https:// page
// on the host starts ("https://<host>/", the port left out), so domain rules
// such as "||ads.example.com^" refuse the tunnel.
std::string TunnelCheckUrl(std::string_view host);

// What a check decided and which rule decided it (nullptr: no rule matched).
struct AdDecision {
    int32_t verdict = 1;  // 1 lets the request through, 0 blocks it
    const AdRule* rule = nullptr;
};

// A loaded set of rules, immutable once built. Checks hold it by shared
// pointer, so a reload or ClearRules never frees rules under a running scan:
// the last holder destroys it.
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
// and the verdicts of recently checked URLs.
//
// Locks (never one inside the other):
//  - stateLock_ guards rules_, rulesSource_, generation_ and the two
//    tickets; held only to read or swap them, never while rules are built.
//  - each verdict cache shard's lock guards that shard (VerdictCache).
// A scan and a build run under neither, so a check never waits for a rebuild
// and a cached verdict never waits behind a scan.
//
// Every LoadRules and ClearRules draws a ticket when it starts; a rule set is
// put in force only if no later call has put its own result in force
// meanwhile, so the outcome is that of the call that started last.
class CAdFilter {
public:
    CAdFilter();
    // The same engine over another list file (the diagnostic tool, tests).
    explicit CAdFilter(const std::string& listFile);
    ~CAdFilter();
    CAdFilter(const CAdFilter&) = delete;
    CAdFilter& operator=(const CAdFilter&) = delete;

    // Reads the list file again and, when it differs from the one the rules
    // in force were built from (or none are), builds new rules aside and
    // then puts them in force; checks meanwhile use the old ones. An
    // unchanged file is not rebuilt.
    void LoadRules();
    // Drops every rule and every remembered verdict.
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
    // URLs whose verdict is remembered.
    size_t CachedVerdictCount() const { return cache_.Size(); }

private:
    CMyList list_;
    mutable std::mutex stateLock_;
    std::shared_ptr<const AdRuleSet> rules_;  // null while unloaded
    // The list's entries the rules were built from. The list keeps the same
    // snapshot for as long as its file holds the same bytes (CMyList::ReloadData).
    std::weak_ptr<const std::set<std::wstring>> rulesSource_;
    uint64_t generation_ = 0;                 // changes with every change of rules_
    uint64_t lastTicket_ = 0;                 // drawn by the latest LoadRules or ClearRules
    uint64_t ticketInForce_ = 0;              // of the call whose result is in force
    adblock::VerdictCache cache_;
};
