#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "adblock/LiteralIndex.h"

namespace adblock {

// Token characters: ASCII letters and digits. A URL is read as maximal runs of
// them (its tokens); everything else separates.
inline bool IsTokenChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// A run of literal token characters that every match contains. Bounded on a
// side when the match has a separator (or the edge of the text) there, so
// that a bounded-both-ways run is a whole token of any matching URL.
struct TokenRun {
    std::string_view text;
    bool boundedLeft = false;
    bool boundedRight = false;
    bool whole() const { return boundedLeft && boundedRight; }
};

// A fixed-length run of pattern characters, each a literal byte or "." (any
// byte but a line terminator). One literal may be optional ("s?" in
// "^https?://"): the chunk then also matches without it, one byte shorter.
class Chunk {
public:
    Chunk() = default;
    void PushLiteral(char c);
    void PushOptional(char c);  // at most one per chunk
    void PushAny();
    size_t size() const { return text_.size(); }  // with the optional byte
    bool empty() const { return text_.empty(); }
    bool HasOptional() const { return optionalAt_ != kNoOptional; }
    // The longest run of literal bytes that every match contains.
    std::string_view LongestLiteral() const;
    bool MatchesAt(std::string_view text, size_t pos) const;
    // The chunk without its optional byte, at pos (false when it has none).
    bool MatchesShortAt(std::string_view text, size_t pos) const;
    // Leftmost position >= from where the chunk matches, or npos. Not for
    // a chunk with an optional byte.
    size_t Find(std::string_view text, size_t from) const;
    void Finish();  // computes the search anchor once the chunk is complete
    // The chunk's literal token runs; leftEdge/rightEdge say whether the
    // chunk's own ends are bounded (see TokenRun).
    void AppendTokenRuns(bool leftEdge, bool rightEdge, std::vector<TokenRun>& out) const;
    // Whether the chunk's first / last character is a literal separator in
    // every match.
    bool StartsWithSeparator() const { return SeparatorAt(0) && (optionalAt_ != 0 || SeparatorAt(1)); }
    bool EndsWithSeparator() const {
        return SeparatorAt(text_.size() - 1) && (optionalAt_ + 1 != text_.size() || SeparatorAt(text_.size() - 2));
    }

private:
    static constexpr uint32_t kNoOptional = UINT32_MAX;
    bool Fixed(size_t i) const { return !any_[i] && i != optionalAt_; }  // a literal every match holds here
    bool SeparatorAt(size_t i) const { return i < text_.size() && !any_[i] && !IsTokenChar(text_[i]); }

    std::string text_;
    std::vector<bool> any_;
    uint32_t anchorOffset_ = 0;  // the longest literal run, searched for first
    uint32_t anchorLength_ = 0;
    uint32_t optionalAt_ = kNoOptional;
};

// The shapes the rule conversion produces, matched without std::regex:
//   [^] head [(.*?\.|) after-dotrun] (.* chunk)* [.*(word|word...)] [$]
// where a chunk is literal bytes and "." and an unanchored pattern floats;
// the head alone may hold one optional literal.
// One Glob is one alternative; a pattern may be an alternation of Globs.
struct Glob {
    bool anchoredStart = false;
    Chunk head;            // anchored at the start (anchoredStart only)
    bool dotRun = false;   // "(.*?\.|)" after the head
    Chunk afterDotRun;     // anchored right after the dot run
    std::vector<Chunk> floating;     // each preceded by ".*" (or, first one, by the unanchored start)
    std::vector<Chunk> suffixWords;  // ".*(w1|w2|...)": one of them after all the rest
    bool anchoredEnd = false;

    // Match anywhere in text, which holds no line terminator; atStart/atEnd
    // say whether its ends are the ends of the whole input.
    bool Search(std::string_view text, bool atStart, bool atEnd) const;
    // Every literal run that any match must contain, the longest first candidate.
    std::string RequiredLiteral() const;
    // Every token run that any match contains, with its bounds.
    std::vector<TokenRun> TokenRuns() const;

private:
    // The part after the head, which matched text up to base.
    bool SearchAfterHead(std::string_view text, size_t base) const;
};

// A pattern that Glob matching decides exactly as std::regex (ECMAScript) does.
struct SimplePattern {
    std::vector<Glob> alternatives;
    // Search over a whole input, line terminators included.
    bool Search(std::string_view text) const;

    // Long alternations (a rule's list of domains) are searched through an
    // automaton over the alternatives' required literals, so only the
    // alternatives whose literal occurs are tried. Built by Index().
    static constexpr size_t kIndexedAlternatives = 8;
    void Index();

private:
    bool SearchLine(std::string_view line, bool atStart, bool atEnd) const;

    std::shared_ptr<const LiteralIndex> index_;
    std::vector<uint32_t> unkeyed_;  // alternatives without a literal, always tried
};

// Longest pattern text taken as simple: std::regex refuses automata beyond its
// state limit, and such a pattern must then never match.
inline constexpr size_t kMaxSimplePatternLength = 20000;

// Parses a converted pattern; empty when it uses anything beyond the shapes above.
std::optional<SimplePattern> ParseSimplePattern(std::string_view pattern);

// A literal text that every std::regex match of the pattern contains, taken
// outside groups, alternations and quantifiers; empty when none can be told
// safely. Used for patterns that ParseSimplePattern refuses.
std::string RequiredLiteralOfRegex(std::string_view pattern);

}  // namespace adblock
