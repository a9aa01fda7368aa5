#include "adblock/AdRule.h"

#include <algorithm>
#include <exception>
#include <vector>

namespace {

// A search that the library refuses (or that cannot run safely) is no match.
bool SafeSearch(std::string_view text, const std::regex& re) {
    if (text.size() > kRegexSafeLength) return false;
    try {
        return std::regex_search(text.begin(), text.end(), re);
    } catch (const std::exception&) {
        return false;
    }
}

// libstdc++ reads the number of a back-reference ("\\12") or of a repeat
// count ("{2,5}") into a long without checking for overflow, so compiling a
// pattern with such a number of 19 digits or more is undefined behaviour. No
// list needs more than nine digits there; a pattern that has them is treated
// like one the library refuses.
bool HasOverlongRegexNumber(std::string_view pattern) {
    auto digitsAt = [&](size_t i) {
        size_t n = 0;
        while (i + n < pattern.size() && pattern[i + n] >= '0' && pattern[i + n] <= '9') ++n;
        return n;
    };
    constexpr size_t kMaxDigits = 9;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '\\') {
            if (digitsAt(i + 1) > kMaxDigits) return true;
            ++i;  // the escaped character, so "\\\\" is not read as an escape
        } else if (pattern[i] == '{') {
            size_t first = digitsAt(i + 1);
            if (first > kMaxDigits) return true;
            size_t after = i + 1 + first;
            if (after < pattern.size() && pattern[after] == ',' && digitsAt(after + 1) > kMaxDigits) return true;
        }
    }
    return false;
}

// A repeat applied straight to a repeat ("a*+", ".*{2}") or to a group that
// holds one ("(a+)+") makes libstdc++'s backtracking matcher take time
// exponential in the text: 30 s and more on URLs of a hundred bytes. Such a
// search cannot run safely, so the rule is treated like one the library
// refuses. The lazy mark ("*?") is no repeat.
bool HasNestedRepeat(std::string_view p) {
    struct Group {
        bool holdsRepeat = false;
    };
    std::vector<Group> groups(1);
    enum class Last { None, Atom, Group, Repeat, LazyRepeat } last = Last::None;
    bool lastGroupHoldsRepeat = false;
    // Length of a "{n}", "{n,}" or "{n,m}" at i, or 0 when it is none.
    auto braceRepeat = [&](size_t i) -> size_t {
        size_t j = i + 1;
        size_t digits = 0;
        while (j < p.size() && p[j] >= '0' && p[j] <= '9') ++j, ++digits;
        if (digits == 0) return 0;
        if (j < p.size() && p[j] == ',') {
            ++j;
            while (j < p.size() && p[j] >= '0' && p[j] <= '9') ++j;
        }
        return j < p.size() && p[j] == '}' ? j - i + 1 : 0;
    };
    for (size_t i = 0; i < p.size(); ++i) {
        char c = p[i];
        size_t brace = c == '{' ? braceRepeat(i) : 0;
        if (c == '*' || c == '+' || c == '?' || brace > 0) {
            if (c == '?' && last == Last::Repeat) {
                last = Last::LazyRepeat;
                continue;
            }
            if (last == Last::Repeat || last == Last::LazyRepeat) return true;
            if (last == Last::Group && lastGroupHoldsRepeat && c != '?') return true;
            groups.back().holdsRepeat = true;
            last = Last::Repeat;
            if (brace > 0) i += brace - 1;
            continue;
        }
        switch (c) {
        case '\\':
            ++i;
            last = Last::Atom;
            break;
        case '[':
            for (++i; i < p.size() && p[i] != ']'; ++i)
                if (p[i] == '\\') ++i;
            last = Last::Atom;
            break;
        case '(':
            groups.emplace_back();
            last = Last::None;
            break;
        case ')':
            if (groups.size() > 1) {
                lastGroupHoldsRepeat = groups.back().holdsRepeat;
                groups.pop_back();
                if (lastGroupHoldsRepeat) groups.back().holdsRepeat = true;
            }
            last = Last::Group;
            break;
        case '|':
            last = Last::None;
            break;
        default:
            last = Last::Atom;
            break;
        }
    }
    return false;
}

// Each unbounded repeat multiplies the backtracking of a failed search by
// the text's length: a list line of twenty wildcards took minutes on one URL.
// The lists' own lines need at most six (a "||" start and four wildcards).
constexpr size_t kMaxUnboundedRepeats = 6;

// The pattern's characters one at a time, with what each is: an escape
// ("\x") and a class ("[...]") come as one piece.
template <typename Visit>
void ForEachPiece(std::string_view p, Visit visit) {
    for (size_t i = 0; i < p.size();) {
        size_t end = i + 1;
        if (p[i] == '\\') {
            end = std::min(p.size(), i + 2);
        } else if (p[i] == '[') {
            while (end < p.size() && p[end] != ']') end += p[end] == '\\' ? 2 : 1;
            end = std::min(p.size(), end + 1);
        }
        visit(p.substr(i, end - i));
        i = end;
    }
}

bool HasTooManyUnboundedRepeats(std::string_view p) {
    size_t repeats = 0;
    ForEachPiece(p, [&](std::string_view piece) { repeats += piece == "*" || piece == "+"; });
    return repeats > kMaxUnboundedRepeats;
}

bool UnsafeRegex(std::string_view pattern) {
    return HasOverlongRegexNumber(pattern) || HasNestedRepeat(pattern) || HasTooManyUnboundedRepeats(pattern);
}

// ".*.*" finds what ".*" finds: wildcard runs ("a***b") are searched as one
// wildcard, so they cost nothing extra.
std::string WithoutWildcardRuns(std::string_view p) {
    std::vector<std::string_view> pieces;
    ForEachPiece(p, [&](std::string_view piece) { pieces.push_back(piece); });
    std::vector<std::string_view> kept;
    for (size_t i = 0; i < pieces.size(); ++i) {
        const size_t n = kept.size();
        if (pieces[i] == "." && i + 1 < pieces.size() && pieces[i + 1] == "*" && n >= 2 && kept[n - 2] == "." &&
            kept[n - 1] == "*") {
            ++i;
            continue;
        }
        kept.push_back(pieces[i]);
    }
    std::string out;
    out.reserve(p.size());
    for (std::string_view piece : kept) out.append(piece);
    return out;
}

}  // namespace

AdRule::AdRule(adblock::ConvertedRule converted, std::string sourceLine)
    : urlPattern_(std::move(converted.urlPattern)),
      domainText_(std::move(converted.domainText)),
      exception_(converted.exception),
      thirdParty_(converted.thirdParty),
      anyDomain_(domainText_ == ".*"),
      sourceLine_(std::move(sourceLine)) {
    urlSimple_ = adblock::ParseSimplePattern(urlPattern_);
    if (!anyDomain_) domainSimple_ = adblock::ParseSimplePattern(domainText_);
}

std::string AdRule::RequiredLiteral() const {
    if (urlSimple_) {
        if (urlSimple_->alternatives.size() != 1) return {};
        return urlSimple_->alternatives[0].RequiredLiteral();
    }
    return adblock::RequiredLiteralOfRegex(urlPattern_);
}

std::vector<std::vector<std::string_view>> AdRule::WholeTokens() const {
    std::vector<std::vector<std::string_view>> out;
    if (!urlSimple_) return out;
    for (const adblock::Glob& g : urlSimple_->alternatives) {
        auto& tokens = out.emplace_back();
        for (const adblock::TokenRun& run : g.TokenRuns())
            if (run.whole()) tokens.push_back(run.text);
    }
    return out;
}

bool AdRule::EnsureCompiled() const {
    std::call_once(compileOnce_, [this] {
        try {
            auto flags = std::regex::ECMAScript;
            if ((!urlSimple_ && UnsafeRegex(WithoutWildcardRuns(urlPattern_))) ||
                (NeedsDomainRegex() && UnsafeRegex(WithoutWildcardRuns(domainText_))))
                throw std::regex_error(std::regex_constants::error_badbrace);
            if (!urlSimple_) urlRegex_ = std::make_unique<std::regex>(WithoutWildcardRuns(urlPattern_), flags);
            if (NeedsDomainRegex()) domainRegex_ = std::make_unique<std::regex>(WithoutWildcardRuns(domainText_), flags);
            compiled_ = true;
        } catch (const std::exception&) {
            urlRegex_.reset();
            domainRegex_.reset();
            compiled_ = false;
        }
    });
    return compiled_;
}

bool AdRule::Matches(std::string_view url, std::string_view host) const {
    // Both patterns must match and neither search has effects, so the cheap
    // one goes first: a direct domain check spares most std::regex searches
    // of rules limited to a few sites.
    if (!urlSimple_ && domainSimple_ && !domainSimple_->Search(host)) return false;
    if (urlSimple_) {
        if (!urlSimple_->Search(url)) return false;
    } else {
        if (url.size() > kRegexSafeLength || !EnsureCompiled() || !SafeSearch(url, *urlRegex_)) return false;
    }
    if (anyDomain_) return true;
    if (domainSimple_) return urlSimple_ ? domainSimple_->Search(host) : true;
    return host.size() <= kRegexSafeLength && EnsureCompiled() && SafeSearch(host, *domainRegex_);
}
