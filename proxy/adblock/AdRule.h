#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include "adblock/PatternShape.h"
#include "adblock/RuleConversion.h"

// Longest text (URL or host) that std::regex is asked to search. libstdc++'s
// matcher recurses once per character and backtracks without bound: measured
// on this machine, ".*x" over 2,000 bytes takes 70 ms and overflows a 1 MB
// thread stack before 4,000 bytes. Over this length a rule that needs
// std::regex counts as not matching; rules matched directly still decide.
inline constexpr size_t kRegexSafeLength = 1024;

// One converted list line. Patterns of the shapes the conversion produces are
// matched directly; anything else goes to std::regex (ECMAScript), compiled on
// the rule's first use. A rule whose std::regex does not compile never matches.
class AdRule {
public:
    AdRule(adblock::ConvertedRule converted, std::string sourceLine);
    AdRule(const AdRule&) = delete;
    AdRule& operator=(const AdRule&) = delete;

    // Whether the rule matches: its URL pattern is found in url and, unless
    // its domain text is ".*", its domain pattern in host.
    bool Matches(std::string_view url, std::string_view host) const;

    const std::string& urlPattern() const { return urlPattern_; }
    const std::string& domainText() const { return domainText_; }
    int32_t exception() const { return exception_; }
    int32_t thirdParty() const { return thirdParty_; }
    // The list line as written in the file (UTF-8).
    const std::string& sourceLine() const { return sourceLine_; }
    // A text every URL this rule matches contains; empty when none is known.
    std::string RequiredLiteral() const;
    // For each alternative of a directly matched URL pattern, the tokens that
    // every URL it matches carries whole; empty for a std::regex pattern.
    std::vector<std::vector<std::string_view>> WholeTokens() const;
    bool NeedsRegex() const { return !urlSimple_ || NeedsDomainRegex(); }
    bool UrlNeedsRegex() const { return !urlSimple_.has_value(); }

private:
    bool NeedsDomainRegex() const { return !anyDomain_ && !domainSimple_; }
    // Compiles the patterns that have no direct matcher; false when one fails.
    bool EnsureCompiled() const;

    std::string urlPattern_;
    std::string domainText_;
    int32_t exception_;
    int32_t thirdParty_;
    bool anyDomain_;
    std::optional<adblock::SimplePattern> urlSimple_;
    std::optional<adblock::SimplePattern> domainSimple_;
    std::string sourceLine_;

    mutable std::once_flag compileOnce_;
    mutable bool compiled_ = false;  // written once under compileOnce_
    mutable std::unique_ptr<std::regex> urlRegex_;
    mutable std::unique_ptr<std::regex> domainRegex_;
};
