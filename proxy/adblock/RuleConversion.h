#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace adblock {

// Most occurrences one ReplaceAll call replaces. A line that needs more is
// dropped (it would otherwise stall or end the whole program).
inline constexpr int kMaxReplacements = 3000;

// Replaces every occurrence of `from` by `to`, searching on after the inserted
// text. Leaves the text as it is when `from` or `to` is empty or they are
// equal. Returns false, with the text partly replaced, when a
// (kMaxReplacements+1)th occurrence turns up.
bool ReplaceAll(std::string& text, std::string_view from, std::string_view to);

// What "||" becomes: "http://" or "https://", then the start of the host or
// any run of characters ending in a dot (the domain and its subdomains).
inline constexpr std::string_view kDomainAnchor = "^https?://(.*?\\.|)";

// Removes every carriage return, line feed, tab and space.
void RemoveBlanks(std::string& text);

// One list line turned into the two pattern texts of a rule.
struct ConvertedRule {
    std::string urlPattern;
    std::string domainText;  // ".*" when the rule names no domain
    int exception = 0;       // 1 for "@@" lines: the verdict the rule gives
    int thirdParty = 0;      // recorded, never consulted
};

// Converts one narrow list line. Empty when the line is a comment, a header,
// an element-hiding rule, blank, or needs too many replacements.
std::optional<ConvertedRule> ConvertLine(std::string line);

}  // namespace adblock
