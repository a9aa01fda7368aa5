#include "adblock/CAdFilter.h"

#include <algorithm>
#include <functional>
#include <utility>

#include <sievekit/CUtility.h>

namespace {
constexpr const char* kDefaultList = "Data\\easylistchina.txt";
}

std::string TunnelCheckUrl(std::string_view host) {
    std::string url;
    url.reserve(host.size() + 9);
    url += "https://";
    url += host;
    url += '/';
    return url;
}

AdRuleSet::AdRuleSet(const std::set<std::wstring>& lines) {
    CUtility utility;
    for (const std::wstring& line : lines) {
        auto converted = adblock::ConvertLine(utility.wtoa(line.c_str(), -1));
        if (!converted) continue;
        rules_.push_back(std::make_unique<AdRule>(std::move(*converted), utility.wstring_to_utf8(line)));
    }
    Index();
}

namespace {

// Tokens found in nearly every URL: as keys they would make their rules
// candidates for almost every check.
bool IsCommonToken(std::string_view t) {
    static constexpr std::string_view kCommon[] = {"http", "https", "www", "com", "net", "org", "cn",  "js",
                                                   "html", "htm",   "php", "jpg", "png", "gif", "css", "de"};
    if (t.size() < 2) return true;
    for (std::string_view c : kCommon)
        if (t == c) return true;
    return false;
}

}  // namespace

void AdRuleSet::Index() {
    // A rule is keyed by, per alternative, the token of its own that fewest
    // other rules offer (commonest URL tokens last); a rule without a usable
    // whole token by a required literal found by the automaton; a rule with
    // neither is confirmed for every URL.
    std::vector<std::vector<std::vector<std::string_view>>> offered(rules_.size());
    std::vector<uint64_t> offerHashes;  // one per (rule alternative, token); sorted to count
    for (size_t id = 0; id < rules_.size(); ++id) {
        offered[id] = rules_[id]->WholeTokens();
        for (auto& alternative : offered[id]) {
            std::sort(alternative.begin(), alternative.end());
            alternative.erase(std::unique(alternative.begin(), alternative.end()), alternative.end());
            for (std::string_view t : alternative) offerHashes.push_back(adblock::TokenIndex::Hash(t));
        }
    }
    std::sort(offerHashes.begin(), offerHashes.end());
    auto offers = [&](std::string_view t) {
        auto range = std::equal_range(offerHashes.begin(), offerHashes.end(), adblock::TokenIndex::Hash(t));
        return range.second - range.first;
    };
    auto better = [&](std::string_view a, std::string_view b) {
        bool ca = IsCommonToken(a), cb = IsCommonToken(b);
        if (ca != cb) return cb;
        auto oa = offers(a), ob = offers(b);
        if (oa != ob) return oa < ob;
        return a.size() > b.size();
    };
    std::vector<std::string_view> keys;
    for (uint32_t id = 0; id < rules_.size(); ++id) {
        keys.clear();
        bool keyed = !offered[id].empty();
        for (auto& alternative : offered[id]) {
            if (alternative.empty()) {
                keyed = false;
                break;
            }
            keys.push_back(*std::min_element(alternative.begin(), alternative.end(), better));
        }
        // One alternative keyed only by a common token: a long literal beats it.
        if (keyed && keys.size() == 1 && IsCommonToken(keys[0]) &&
            rules_[id]->RequiredLiteral().size() > keys[0].size() + 2)
            keyed = false;
        if (keyed) {
            for (std::string_view k : keys) tokens_.Add(k, id);
            ++tokenKeyed_;
            continue;
        }
        std::string key = rules_[id]->RequiredLiteral();
        if (key.empty()) alwaysConfirmed_.push_back(id);
        else index_.Add(key, id);
    }
    tokens_.Build();
    index_.Build();
}


AdDecision AdRuleSet::Decide(std::string_view url, std::string_view host) const {
    thread_local std::vector<uint32_t> candidates;
    candidates.clear();
    tokens_.Collect(url, candidates);
    index_.Collect(url, candidates);
    candidates.insert(candidates.end(), alwaysConfirmed_.begin(), alwaysConfirmed_.end());
    std::sort(candidates.begin(), candidates.end());

    uint32_t previous = UINT32_MAX;
    for (uint32_t id : candidates) {
        if (id == previous) continue;
        previous = id;
        const AdRule& r = *rules_[id];
        if (r.Matches(url, host)) return {r.exception(), &r};
    }
    return {};
}

CAdFilter::CAdFilter() : CAdFilter(kDefaultList) {}

CAdFilter::CAdFilter(const std::string& listFile) : list_(listFile.c_str(), 0, 99, 2, 0) { list_.Readonly(1); }

CAdFilter::~CAdFilter() { ClearRules(); }

void CAdFilter::LoadRules() {
    uint64_t ticket;
    {
        std::lock_guard<std::mutex> g(stateLock_);
        ticket = ++lastTicket_;
    }
    list_.ReloadData();
    std::shared_ptr<const std::set<std::wstring>> lines = list_.Snapshot();
    {
        std::lock_guard<std::mutex> g(stateLock_);
        if (rules_ && rulesSource_.lock() == lines) {
            // Unchanged: the rules in force stay, unless a later call replaced them.
            if (ticket > ticketInForce_) ticketInForce_ = ticket;
            return;
        }
    }
    auto fresh = std::make_shared<const AdRuleSet>(*lines);  // the long part, under no lock
    std::shared_ptr<const AdRuleSet> old;
    uint64_t generation;
    {
        std::lock_guard<std::mutex> g(stateLock_);
        if (ticket < ticketInForce_) return;  // a later load or clear is in force
        ticketInForce_ = ticket;
        old = std::exchange(rules_, std::move(fresh));
        rulesSource_ = lines;
        generation = ++generation_;
    }
    cache_.Invalidate(generation);
    // The old set goes here unless a running check still holds it.
}

void CAdFilter::ClearRules() {
    std::shared_ptr<const AdRuleSet> old;
    uint64_t generation;
    {
        std::lock_guard<std::mutex> g(stateLock_);
        ticketInForce_ = ++lastTicket_;
        old = std::move(rules_);
        rules_.reset();
        rulesSource_.reset();
        generation = ++generation_;
    }
    cache_.Invalidate(generation);
}

bool CAdFilter::IsLoaded() const {
    std::lock_guard<std::mutex> g(stateLock_);
    return rules_ != nullptr;
}

std::shared_ptr<const AdRuleSet> CAdFilter::Rules() const {
    std::lock_guard<std::mutex> g(stateLock_);
    return rules_;
}

size_t CAdFilter::RuleCount() const {
    auto rules = Rules();
    return rules ? rules->size() : 0;
}

int32_t CAdFilter::CheckUrl(const std::string& url, const std::string& host) {
    if (url.empty()) return 1;
    uint64_t generation;
    {
        std::lock_guard<std::mutex> g(stateLock_);
        if (!rules_) return 1;
        generation = generation_;
    }
    const adblock::VerdictCache::Key key(url);
    if (std::optional<int32_t> cached = cache_.Find(key, generation)) return *cached;
    // Not seen: the rules are taken (and kept alive) only now, so a cached
    // answer costs no reference count. They may be newer than `generation`;
    // the verdict is filed under theirs.
    std::shared_ptr<const AdRuleSet> rules;
    {
        std::lock_guard<std::mutex> g(stateLock_);
        rules = rules_;
        generation = generation_;
    }
    if (!rules) return 1;  // cleared meanwhile
    return cache_.Insert(key, rules->Decide(url, host).verdict, generation);
}

AdDecision CAdFilter::Explain(const std::string& url, const std::string& host) const {
    if (url.empty()) return {};
    auto rules = Rules();
    if (!rules) return {};
    return rules->Decide(url, host);
}
