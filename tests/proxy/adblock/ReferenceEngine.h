#pragma once

// The straightforward engine, kept as the definition the fast one must agree
// with: both patterns of every rule compiled with std::regex at load, and
// every rule searched in list order until one matches.

#include <memory>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include <sievekit/CUtility.h>

#include "adblock/RuleConversion.h"

class ReferenceEngine {
public:
    struct Decision {
        int verdict = 1;
        std::string line = "-";  // the deciding list line, "-" for none
    };

    explicit ReferenceEngine(const std::set<std::wstring>& lines) {
        CUtility utility;
        for (const auto& wide : lines) {
            auto converted = adblock::ConvertLine(utility.wtoa(wide.c_str(), -1));
            if (!converted) continue;
            try {
                auto r = std::make_unique<Rule>();
                r->url = std::regex(converted->urlPattern, std::regex::ECMAScript);
                r->domain = std::regex(converted->domainText, std::regex::ECMAScript);
                r->anyDomain = converted->domainText == ".*";
                r->exception = converted->exception;
                r->line = utility.wstring_to_utf8(wide);
                rules_.push_back(std::move(r));
            } catch (const std::regex_error&) {
            }
        }
    }

    Decision Decide(const std::string& url, const std::string& host) const {
        if (url.empty()) return {};
        for (const auto& r : rules_) {
            try {
                if (!std::regex_search(url, r->url)) continue;
                if (!r->anyDomain && !std::regex_search(host, r->domain)) continue;
            } catch (const std::regex_error&) {
                continue;
            }
            return {r->exception, r->line};
        }
        return {};
    }

    size_t size() const { return rules_.size(); }

private:
    struct Rule {
        std::regex url, domain;
        bool anyDomain = true;
        int exception = 0;
        std::string line;
    };
    std::vector<std::unique_ptr<Rule>> rules_;
};
