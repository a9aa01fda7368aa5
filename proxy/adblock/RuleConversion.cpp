#include "adblock/RuleConversion.h"

#include <algorithm>

namespace adblock {

bool ReplaceAll(std::string& text, std::string_view from, std::string_view to) {
    if (from.empty() || to.empty() || from == to) return true;
    size_t pos = 0;
    int replaced = 0;
    while ((pos = text.find(from, pos)) != std::string::npos) {
        if (replaced == kMaxReplacements) return false;
        text.replace(pos, from.size(), to);
        pos += to.size();
        ++replaced;
    }
    return true;
}

void RemoveBlanks(std::string& text) {
    std::erase_if(text, [](char c) { return c == '\r' || c == '\n' || c == '\t' || c == ' '; });
}

namespace {

bool StartsWith(const std::string& text, std::string_view prefix) { return text.starts_with(prefix); }

// The options after the first "$": the type suffix, the third-party flag and
// the domain text. False when a replacement runs over its limit.
bool ApplyOptions(ConvertedRule& rule, std::string& text, bool endAnchor) {
    size_t limit = endAnchor ? text.size() - 1 : text.size();
    size_t dollar = text.find('$');
    if (dollar == std::string::npos || dollar >= limit) return true;
    const std::string options = text.substr(dollar);

    std::string suffix;
    auto has = [&](std::string_view word) { return options.find(word) != std::string::npos; };
    if (has("image")) suffix += "|jpg|png|bmp|gif";
    if (has("object")) suffix += "|swf|jar";
    if (has("script")) suffix += "|js|vbs";
    if (has("subdocment")) suffix += "|.*";
    if (has("subrequest")) suffix += "|.*";
    if (!suffix.empty()) suffix = ".*(" + suffix.substr(1) + ")";

    if (has("third-party")) rule.thirdParty = 1;

    size_t domain = options.find("domain=");
    if (domain != std::string::npos) {
        std::string domains = options.substr(domain + 7);
        size_t comma = domains.find(',');
        if (comma != std::string::npos) domains.erase(comma);
        if (!ReplaceAll(domains, "~", ".*\\.")) return false;
        if (domains.find("\\|") != std::string::npos) {
            if (!ReplaceAll(domains, "\\|", "|")) return false;
            domains = "(" + domains + ")";
        }
        rule.domainText = std::move(domains);
    }

    text.erase(dollar);
    text += suffix;
    return true;
}

}  // namespace

std::optional<ConvertedRule> ConvertLine(std::string text) {
    RemoveBlanks(text);
    if (text.empty() || text[0] == '!' || text[0] == '[') return std::nullopt;
    if (text.find("##") != std::string::npos) return std::nullopt;

    ConvertedRule rule;
    rule.domainText = ".*";
    if (StartsWith(text, "@@")) {
        text.erase(0, 2);
        rule.exception = 1;
    }
    if (!ReplaceAll(text, ".", "\\.") || !ReplaceAll(text, "?", "\\?") || !ReplaceAll(text, "*", ".*") ||
        !ReplaceAll(text, "^", "."))
        return std::nullopt;

    if (StartsWith(text, "||")) text.replace(0, 2, "!!");
    else if (StartsWith(text, "|")) text.replace(0, 1, "^");
    bool endAnchor = false;
    if (!text.empty() && text.back() == '|') {
        text.back() = '$';
        endAnchor = true;
    }
    if (!ReplaceAll(text, "|", "\\|")) return std::nullopt;
    // "||" is the start of a domain name under any scheme the proxy sees
    // (tunnels are checked as "https://host/").
    if (StartsWith(text, "!!")) text.replace(0, 2, kDomainAnchor);

    if (!ApplyOptions(rule, text, endAnchor)) return std::nullopt;
    if (!text.empty() && text.back() == '^') text.pop_back();
    rule.urlPattern = std::move(text);
    return rule;
}

}  // namespace adblock
