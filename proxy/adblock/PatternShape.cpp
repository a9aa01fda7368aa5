#include "adblock/PatternShape.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace adblock {

// ---- Chunk ----

void Chunk::PushLiteral(char c) {
    text_.push_back(c);
    any_.push_back(false);
}

void Chunk::PushOptional(char c) {
    optionalAt_ = static_cast<uint32_t>(text_.size());
    PushLiteral(c);
}

void Chunk::PushAny() {
    text_.push_back('.');
    any_.push_back(true);
}

void Chunk::Finish() {
    anchorOffset_ = anchorLength_ = 0;
    size_t runStart = 0;
    for (size_t i = 0; i <= text_.size(); ++i) {
        if (i == text_.size() || !Fixed(i)) {
            if (i - runStart > anchorLength_) {
                anchorOffset_ = static_cast<uint32_t>(runStart);
                anchorLength_ = static_cast<uint32_t>(i - runStart);
            }
            runStart = i + 1;
        }
    }
}

std::string_view Chunk::LongestLiteral() const {
    return std::string_view(text_).substr(anchorOffset_, anchorLength_);
}

bool Chunk::MatchesAt(std::string_view text, size_t pos) const {
    if (pos > text.size() || text.size() - pos < text_.size()) return false;
    for (size_t i = 0; i < text_.size(); ++i)
        if (!any_[i] && text[pos + i] != text_[i]) return false;
    return true;
}

bool Chunk::MatchesShortAt(std::string_view text, size_t pos) const {
    if (!HasOptional()) return false;
    if (pos > text.size() || text.size() - pos < text_.size() - 1) return false;
    for (size_t i = 0; i < optionalAt_; ++i)
        if (!any_[i] && text[pos + i] != text_[i]) return false;
    for (size_t i = optionalAt_ + 1; i < text_.size(); ++i)
        if (!any_[i] && text[pos + i - 1] != text_[i]) return false;
    return true;
}

size_t Chunk::Find(std::string_view text, size_t from) const {
    if (from > text.size() || text.size() - from < text_.size()) return std::string_view::npos;
    if (anchorLength_ == 0) return from;  // only "." characters: any position with room
    std::string_view anchor = LongestLiteral();
    size_t searchFrom = from + anchorOffset_;
    while (true) {
        size_t hit = text.find(anchor, searchFrom);
        if (hit == std::string_view::npos) return hit;
        size_t start = hit - anchorOffset_;
        if (text.size() - start < text_.size()) return std::string_view::npos;
        if (MatchesAt(text, start)) return start;
        searchFrom = hit + 1;
    }
}

void Chunk::AppendTokenRuns(bool leftEdge, bool rightEdge, std::vector<TokenRun>& out) const {
    const size_t n = text_.size();
    size_t i = 0;
    // An optional byte bounds nothing: a match may hold it or not.
    while (i < n) {
        if (!Fixed(i) || !IsTokenChar(text_[i])) {
            ++i;
            continue;
        }
        size_t start = i;
        while (i < n && Fixed(i) && IsTokenChar(text_[i])) ++i;
        TokenRun run;
        run.text = std::string_view(text_).substr(start, i - start);
        run.boundedLeft = start == 0 ? leftEdge : Fixed(start - 1);
        run.boundedRight = i == n ? rightEdge : Fixed(i);
        out.push_back(run);
    }
}

// ---- Glob ----

namespace {

// Everything after the anchored part; a ".*" (or the unanchored start) stands
// before the first floating chunk, so the leftmost place of each chunk is the
// best one.
bool MatchRest(const Glob& g, std::string_view text, size_t pos) {
    const size_t n = text.size();
    const size_t k = g.floating.size();
    for (size_t i = 0; i < k; ++i) {
        const Chunk& c = g.floating[i];
        if (i + 1 == k && g.anchoredEnd) {
            if (n < c.size() || n - c.size() < pos) return false;
            return c.MatchesAt(text, n - c.size());
        }
        size_t at = c.Find(text, pos);
        if (at == std::string_view::npos) return false;
        pos = at + c.size();
    }
    if (!g.suffixWords.empty()) {
        for (const Chunk& w : g.suffixWords)
            if (w.Find(text, pos) != std::string_view::npos) return true;
        return false;
    }
    return true;
}

}  // namespace

bool Glob::Search(std::string_view text, bool atStart, bool atEnd) const {
    if (anchoredStart && !atStart) return false;
    if (anchoredEnd && !atEnd) return false;
    if (!anchoredStart) return MatchRest(*this, text, 0);

    if (head.MatchesAt(text, 0) && SearchAfterHead(text, head.size())) return true;
    return head.MatchesShortAt(text, 0) && SearchAfterHead(text, head.size() - 1);
}

bool Glob::SearchAfterHead(std::string_view text, size_t base) const {
    const bool restEmpty = floating.empty() && suffixWords.empty();
    if (!dotRun) {
        if (restEmpty) return !anchoredEnd || base == text.size();
        return MatchRest(*this, text, base);
    }

    // "(.*?\.|)": the next part starts right at base or just after any "."
    // at or beyond base.
    if (restEmpty && anchoredEnd) {
        if (text.size() < base + afterDotRun.size()) return false;
        size_t s = text.size() - afterDotRun.size();
        if (s != base && text[s - 1] != '.') return false;
        return afterDotRun.MatchesAt(text, s);
    }
    // The leftmost such start leaves the most room for the rest. Searched
    // for by the chunk's own literal, not dot by dot: a long URL has many dots.
    size_t from = base;
    while (true) {
        size_t s = afterDotRun.Find(text, from);
        if (s == std::string_view::npos) return false;
        if (s == base || text[s - 1] == '.') return restEmpty || MatchRest(*this, text, s + afterDotRun.size());
        from = s + 1;
    }
}

std::string Glob::RequiredLiteral() const {
    // "http://" and its kin are in nearly every URL and make poor keys.
    auto weak = [](std::string_view run) {
        return std::string_view("https://www.").find(run) != std::string_view::npos ||
               std::string_view("http://www.").find(run) != std::string_view::npos;
    };
    std::string_view best;
    bool bestWeak = true;
    auto consider = [&](const Chunk& c) {
        std::string_view run = c.LongestLiteral();
        if (run.empty()) return;
        bool w = weak(run);
        if (best.empty() || (bestWeak && !w) || (w == bestWeak && run.size() > best.size())) {
            best = run;
            bestWeak = w;
        }
    };
    if (anchoredStart) consider(head);
    if (dotRun) consider(afterDotRun);
    for (const Chunk& c : floating) consider(c);
    return std::string(best);
}

std::vector<TokenRun> Glob::TokenRuns() const {
    // Which chunk ends lie at a separator of every match: the text's edges,
    // and the "." that the dot run ends with. A ".*" bounds nothing.
    std::vector<TokenRun> out;
    const bool restEmpty = floating.empty() && suffixWords.empty();
    if (anchoredStart) {
        head.AppendTokenRuns(true, !dotRun && restEmpty && anchoredEnd, out);
        if (dotRun) {
            // Starts right after the head or right after a ".".
            bool left = head.empty() || head.EndsWithSeparator();
            afterDotRun.AppendTokenRuns(left, restEmpty && anchoredEnd, out);
        }
    }
    for (size_t i = 0; i < floating.size(); ++i) {
        bool last = i + 1 == floating.size();
        floating[i].AppendTokenRuns(false, last && anchoredEnd && suffixWords.empty(), out);
    }
    return out;
}

void SimplePattern::Index() {
    if (alternatives.size() < kIndexedAlternatives) return;
    auto index = std::make_shared<LiteralIndex>();
    unkeyed_.clear();
    for (uint32_t i = 0; i < alternatives.size(); ++i) {
        std::string key = alternatives[i].RequiredLiteral();
        if (key.empty()) unkeyed_.push_back(i);
        else index->Add(key, i);
    }
    index->Build();
    index_ = std::move(index);
}

bool SimplePattern::SearchLine(std::string_view line, bool atStart, bool atEnd) const {
    if (!index_) {
        for (const Glob& g : alternatives)
            if (g.Search(line, atStart, atEnd)) return true;
        return false;
    }
    for (uint32_t i : unkeyed_)
        if (alternatives[i].Search(line, atStart, atEnd)) return true;
    thread_local std::vector<uint32_t> hits;
    hits.clear();
    index_->Collect(line, hits);
    for (uint32_t i : hits)
        if (alternatives[i].Search(line, atStart, atEnd)) return true;
    return false;
}

namespace {

// The first line terminator at or after from, or the text's size. (Two
// vectorised scans; find_first_of would call memchr once per byte.)
size_t LineEnd(std::string_view text, size_t from) {
    const char* base = text.data() + from;
    const size_t n = text.size() - from;
    const void* lf = std::memchr(base, '\n', n);
    const size_t lfAt = lf ? static_cast<const char*>(lf) - base : n;
    const void* cr = std::memchr(base, '\r', lfAt);
    return from + (cr ? static_cast<const char*>(cr) - base : lfAt);
}

}  // namespace

bool SimplePattern::Search(std::string_view text) const {
    if (LineEnd(text, 0) == text.size()) return SearchLine(text, true, true);
    // No piece of a simple pattern matches a line terminator, so a match lies
    // within one line; "^" and "$" still mean the ends of the whole input.
    size_t start = 0;
    while (true) {
        size_t end = LineEnd(text, start);
        if (SearchLine(text.substr(start, end - start), start == 0, end == text.size())) return true;
        if (end == text.size()) return false;
        start = end + 1;
    }
}

// ---- Parsing ----

namespace {

struct Item {
    enum class Kind { Literal, OptionalLiteral, Any, Star, Begin, End, Group };
    Item(Kind k, char ch = 0) : kind(k), c(ch) {}
    Kind kind;
    char c;
    std::vector<std::vector<Item>> alternatives;  // Group only
};
using Seq = std::vector<Item>;

// Escapes of ASCII punctuation stand for the character itself in
// std::regex's ECMAScript grammar.
bool IsPunctuation(char c) {
    auto u = static_cast<unsigned char>(c);
    return (u >= 33 && u <= 47) || (u >= 58 && u <= 64) || (u >= 91 && u <= 96) || (u >= 123 && u <= 126);
}

class Parser {
public:
    explicit Parser(std::string_view p) : p_(p) {}

    std::optional<std::vector<Seq>> Parse() {
        auto alts = Alternation(0);
        if (!ok_ || i_ != p_.size()) return std::nullopt;
        return alts;
    }

private:
    std::vector<Seq> Alternation(int depth) {
        std::vector<Seq> alts(1);
        while (ok_ && i_ < p_.size()) {
            char c = p_[i_];
            if (c == '|') {
                ++i_;
                alts.emplace_back();
                continue;
            }
            if (c == ')') {
                if (depth == 0) ok_ = false;
                return alts;
            }
            Seq& s = alts.back();
            switch (c) {
            case '(': {
                if (i_ + 1 < p_.size() && p_[i_ + 1] == '?') return Fail(alts);
                ++i_;
                Item g{Item::Kind::Group};
                g.alternatives = Alternation(depth + 1);
                if (!ok_ || i_ >= p_.size() || p_[i_] != ')') return Fail(alts);
                ++i_;
                s.push_back(std::move(g));
                break;
            }
            case '\\':
                if (i_ + 1 >= p_.size() || !IsPunctuation(p_[i_ + 1])) return Fail(alts);
                s.push_back({Item::Kind::Literal, p_[i_ + 1]});
                i_ += 2;
                break;
            case '.':
                s.push_back({Item::Kind::Any});
                ++i_;
                break;
            case '*':
                if (s.empty() || s.back().kind != Item::Kind::Any) return Fail(alts);
                s.back().kind = Item::Kind::Star;
                ++i_;
                if (i_ < p_.size() && p_[i_] == '?') ++i_;
                break;
            case '^':
                s.push_back({Item::Kind::Begin});
                ++i_;
                break;
            case '$':
                s.push_back({Item::Kind::End});
                ++i_;
                break;
            case '?':
                // "s?" in "^https?://": an optional literal, taken in a head only.
                if (s.empty() || s.back().kind != Item::Kind::Literal) return Fail(alts);
                s.back().kind = Item::Kind::OptionalLiteral;
                ++i_;
                break;
            case '+':
            case '{':
            case '}':
            case '[':
            case ']':
                return Fail(alts);
            default:
                s.push_back({Item::Kind::Literal, c});
                ++i_;
                break;
            }
        }
        if (depth > 0 && i_ >= p_.size()) ok_ = false;
        return alts;
    }

    std::vector<Seq> Fail(std::vector<Seq>& alts) {
        ok_ = false;
        return std::move(alts);
    }

    std::string_view p_;
    size_t i_ = 0;
    bool ok_ = true;
};

// Groups of one alternative are only brackets: splice their content in.
void InlineSingleGroups(Seq& seq) {
    if (std::none_of(seq.begin(), seq.end(), [](const Item& it) { return it.kind == Item::Kind::Group; })) return;
    Seq out;
    out.reserve(seq.size());
    for (Item& item : seq) {
        if (item.kind == Item::Kind::Group) {
            for (Seq& alt : item.alternatives) InlineSingleGroups(alt);
            if (item.alternatives.size() == 1) {
                for (Item& inner : item.alternatives[0]) out.push_back(std::move(inner));
                continue;
            }
        }
        out.push_back(std::move(item));
    }
    seq = std::move(out);
}

// An alternative that matches the empty text whatever follows: "" or ".*".
bool MatchesEmpty(const Seq& seq) {
    for (const Item& it : seq)
        if (it.kind != Item::Kind::Star) return false;
    return true;
}

// "(.*?\.|)" or "(|.*?\.)".
bool IsDotRun(const Item& it) {
    if (it.kind != Item::Kind::Group || it.alternatives.size() != 2) return false;
    const Seq* run = &it.alternatives[0];
    const Seq* none = &it.alternatives[1];
    if (!none->empty()) std::swap(run, none);
    return none->empty() && run->size() == 2 && (*run)[0].kind == Item::Kind::Star &&
           (*run)[1].kind == Item::Kind::Literal && (*run)[1].c == '.';
}

// The chunk items from i on; with allowOptional, one optional literal among
// them (a second one ends the chunk, and the pattern is then not simple).
Chunk ReadChunk(const Seq& seq, size_t& i, bool allowOptional = false) {
    Chunk c;
    for (; i < seq.size(); ++i) {
        const Item& it = seq[i];
        if (it.kind == Item::Kind::Any) c.PushAny();
        else if (it.kind == Item::Kind::Literal) c.PushLiteral(it.c);
        else if (it.kind == Item::Kind::OptionalLiteral && allowOptional && !c.HasOptional()) c.PushOptional(it.c);
        else break;
    }
    c.Finish();
    return c;
}

std::optional<Glob> BuildGlob(const Seq& seq) {
    Glob g;
    size_t i = 0;
    const size_t n = seq.size();
    if (i < n && seq[i].kind == Item::Kind::Begin) {
        g.anchoredStart = true;
        ++i;
        g.head = ReadChunk(seq, i, true);
        if (i < n && IsDotRun(seq[i])) {
            g.dotRun = true;
            ++i;
            g.afterDotRun = ReadChunk(seq, i);
        }
    } else {
        g.floating.push_back(ReadChunk(seq, i));
    }
    while (i < n) {
        const Item& it = seq[i];
        if (it.kind == Item::Kind::Star) {
            while (i < n && seq[i].kind == Item::Kind::Star) ++i;
            if (i < n && seq[i].kind == Item::Kind::Group) {
                if (i + 1 != n) return std::nullopt;
                const Item& group = seq[i];
                ++i;
                bool alwaysMatches = false;
                std::vector<Chunk> words;
                for (const Seq& alt : group.alternatives) {
                    if (MatchesEmpty(alt)) {
                        alwaysMatches = true;
                        continue;
                    }
                    size_t j = 0;
                    Chunk w = ReadChunk(alt, j);
                    if (j != alt.size()) return std::nullopt;
                    words.push_back(std::move(w));
                }
                // ".*(…|.*)": the group can match nothing, so it demands nothing.
                if (!alwaysMatches) g.suffixWords = std::move(words);
                break;
            }
            g.floating.push_back(ReadChunk(seq, i));
        } else if (it.kind == Item::Kind::End && i + 1 == n) {
            g.anchoredEnd = true;
            ++i;
        } else {
            return std::nullopt;
        }
    }
    return g;
}

}  // namespace

std::optional<SimplePattern> ParseSimplePattern(std::string_view pattern) {
    if (pattern.size() > kMaxSimplePatternLength) return std::nullopt;
    auto parsed = Parser(pattern).Parse();
    if (!parsed) return std::nullopt;
    std::vector<Seq> alts;
    for (Seq& alt : *parsed) {
        InlineSingleGroups(alt);
        // A whole alternative that is one group, "(a|b)": its alternatives
        // are alternatives of the pattern.
        if (alt.size() == 1 && alt[0].kind == Item::Kind::Group) {
            for (Seq& inner : alt[0].alternatives) alts.push_back(std::move(inner));
        } else {
            alts.push_back(std::move(alt));
        }
    }
    SimplePattern out;
    for (const Seq& alt : alts) {
        auto g = BuildGlob(alt);
        if (!g) return std::nullopt;
        out.alternatives.push_back(std::move(*g));
    }
    out.Index();
    return out;
}

std::string RequiredLiteralOfRegex(std::string_view p) {
    std::string best, run;
    auto endRun = [&] {
        if (run.size() > best.size()) best = run;
        run.clear();
    };
    bool lastWasLiteral = false;  // the previous atom is the last byte of run
    int depth = 0;
    size_t i = 0;
    auto skipBracket = [&]() -> bool {  // i at "["; false when it cannot be told
        ++i;
        if (i < p.size() && p[i] == '^') ++i;
        while (i < p.size()) {
            char c = p[i];
            if (c == '\\') {
                i += 2;
                continue;
            }
            if (c == '[') return false;
            if (c == ']') {
                ++i;
                return true;
            }
            ++i;
        }
        return false;
    };
    while (i < p.size()) {
        char c = p[i];
        if (depth > 0) {
            if (c == '\\') i += 2;
            else if (c == '[') {
                if (!skipBracket()) return {};
            } else {
                if (c == '(') ++depth;
                else if (c == ')') --depth;
                ++i;
            }
            continue;
        }
        switch (c) {
        case '\\': {
            if (i + 1 >= p.size()) return {};
            char d = p[i + 1];
            if (IsPunctuation(d)) {
                run.push_back(d);
                lastWasLiteral = true;
                i += 2;
                continue;
            }
            if (std::strchr("bBdDsSwWfnrtv", d) == nullptr || d == '\0') return {};
            endRun();
            lastWasLiteral = false;
            i += 2;
            continue;
        }
        case '*':
        case '+':
        case '?':
        case '{':
            if (lastWasLiteral && !run.empty()) run.pop_back();
            endRun();
            lastWasLiteral = false;
            if (c == '{') {
                size_t close = p.find('}', i);
                if (close == std::string_view::npos) return {};
                for (size_t k = i + 1; k < close; ++k)
                    if (!(p[k] >= '0' && p[k] <= '9') && p[k] != ',') return {};
                i = close + 1;
            } else {
                ++i;
            }
            if (i < p.size() && p[i] == '?') ++i;  // lazy form
            continue;
        case '|':
            return {};
        case ')':
        case ']':
        case '}':
            return {};
        case '(':
            endRun();
            lastWasLiteral = false;
            ++depth;
            ++i;
            continue;
        case '[':
            endRun();
            lastWasLiteral = false;
            if (!skipBracket()) return {};
            continue;
        case '.':
        case '^':
        case '$':
            endRun();
            lastWasLiteral = false;
            ++i;
            continue;
        default:
            run.push_back(c);
            lastWasLiteral = true;
            ++i;
            continue;
        }
    }
    if (depth != 0) return {};
    endRun();
    return best;
}

}  // namespace adblock
