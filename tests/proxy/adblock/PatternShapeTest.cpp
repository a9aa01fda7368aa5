#include "adblock/PatternShape.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <regex>

namespace adblock {
namespace {

bool RegexSays(const std::string& pattern, const std::string& text) {
    return std::regex_search(text, std::regex(pattern, std::regex::ECMAScript));
}

// Checks the direct matcher against std::regex for one pattern over texts.
void ExpectSameAsRegex(const std::string& pattern, const std::vector<std::string>& texts) {
    auto simple = ParseSimplePattern(pattern);
    ASSERT_TRUE(simple.has_value()) << pattern;
    for (const auto& t : texts) EXPECT_EQ(simple->Search(t), RegexSays(pattern, t)) << pattern << " on " << t;
}

TEST(PatternShapeTest, TakesTheShapesTheConversionMakes) {
    for (const char* p : {"^https?://(.*?\\.|)ads\\.example\\.com.", "^http://ad\\.example\\.com/a\\.js$",
                          "/banner/.*.*(js|vbs)", "x.*(swf|jar|.*)", "(example\\.net|.*\\.example\\.org)", "",
                          "a\\|b", "ad\\?x=.*&y.", "^.*(jpg|png)", "(ab)c"})
        EXPECT_TRUE(ParseSimplePattern(p).has_value()) << p;
}

TEST(PatternShapeTest, LeavesEverythingElseToStdRegex) {
    for (const char* p : {"a+", "a?", "[ab]", "a{2}", "\\d", "(?:a)", "\\\\?", "(a|b)c", "a(b|c)", "a^b",
                          "a$b", "\\.*", "a**", "(a", "a)", "]", "\\1", "^^a", "(a|b)(c|d)"})
        EXPECT_FALSE(ParseSimplePattern(p).has_value()) << p;
    EXPECT_FALSE(ParseSimplePattern(std::string(kMaxSimplePatternLength + 1, 'a')).has_value());
}

TEST(PatternShapeTest, DotRunMayOverrunIntoThePath) {
    std::vector<std::string> urls = {"http://ads.example.com/x.js", "http://cdn.ads.example.com/x.js",
                                     "http://example.com/ads.example.com", "http://ads.example.com",
                                     "http://example.org/y.ads.example.com/", "https://ads.example.com/x",
                                     "ads.example.com:443", "http://xads.example.com/", "http://ads.example.com/\n"};
    ExpectSameAsRegex("^http://(.*?\\.|)ads\\.example\\.com.", urls);
    ExpectSameAsRegex("^https?://(.*?\\.|)ads\\.example\\.com.", urls);
    ExpectSameAsRegex("^https?://(.*?\\.|)ads\\.example\\.com/$", urls);
    ExpectSameAsRegex("^https?://(.*?\\.|)", {"http://", "https://", "httpss://", "htt://", "https:/", "https:"});
    ExpectSameAsRegex("^http://(.*?\\.|)ads\\.example\\.com/$", urls);
    ExpectSameAsRegex("^http://(.*?\\.|)$", {"http://", "http://a.", "http://a", "http://.\n."});
}

TEST(PatternShapeTest, LineTerminatorsBoundDotAndAnchors) {
    std::vector<std::string> texts = {"ab\ncd", "a\rb", "a\nb", "\nab", "ab\n", "cd", "a.b\r\nx.js"};
    for (const char* p : {"a.b", "a.*b", "^cd", "ab$", "cd$", "^a.*$", "b.*(js|vbs)", "", "$", "^"})
        ExpectSameAsRegex(p, texts);
}

TEST(PatternShapeTest, RequiredLiteralIsInEveryMatch) {
    EXPECT_EQ(ParseSimplePattern("^http://(.*?\\.|)ads\\.example\\.com.")->alternatives[0].RequiredLiteral(),
              "ads.example.com");
    EXPECT_EQ(ParseSimplePattern("^https?://(.*?\\.|)ads\\.example\\.com.")->alternatives[0].RequiredLiteral(),
              "ads.example.com");
    EXPECT_EQ(ParseSimplePattern("^abcs?d")->alternatives[0].RequiredLiteral(), "abc");  // "s" may be missing
    EXPECT_EQ(ParseSimplePattern("/banner/.*.*(js|vbs)")->alternatives[0].RequiredLiteral(), "/banner/");
    EXPECT_EQ(RequiredLiteralOfRegex("/(https\\?:\\/\\/)104\\\\.154\\\\.\\.{100,}/"), "104\\");
    EXPECT_EQ(RequiredLiteralOfRegex("abc+de"), "ab");    // "c" is quantified
    EXPECT_EQ(RequiredLiteralOfRegex("x[a|b]yz"), "yz");  // a bar inside a class is no alternation
    EXPECT_EQ(RequiredLiteralOfRegex("abc|de"), "");
    EXPECT_EQ(RequiredLiteralOfRegex("ab(c|d)e{2}"), "ab");
    EXPECT_EQ(RequiredLiteralOfRegex("\\x41\\x42xyz"), "");  // escapes it does not read: no key
}

// Random patterns of the accepted shapes against std::regex on random texts.
TEST(PatternShapeTest, RandomShapesMatchLikeStdRegex) {
    std::mt19937 rng(12345);
    auto pick = [&](const std::vector<std::string>& v) { return v[rng() % v.size()]; };
    const std::vector<std::string> starts = {"", "", "^", "^http://(.*?\\.|)", "^ab", "^http://", "^https?://(.*?\\.|)",
                                             "^a?b", "^ab?", "^a.?", "^a?b?"};
    const std::vector<std::string> pieces = {"a", "b", "\\.", ".", ".*", ".*?", "/", "\\|", "\\?", "ab", "(a)", "(b.)"};
    const std::vector<std::string> ends = {"", "", "$", ".*(a|b.)", ".*(ab|.*)", ".*$", "(a|\\.b)", "|b"};
    const std::vector<std::string> textPieces = {"a", "b", ".", "/", "ab", "ba", "x", "|", "?", "\n", "a.b", "s://"};
    int parsed = 0;
    for (int i = 0; i < 3000; ++i) {
        std::string pattern = pick(starts);
        for (int k = rng() % 5; k > 0; --k) pattern += pick(pieces);
        pattern += pick(ends);
        auto simple = ParseSimplePattern(pattern);
        if (!simple) continue;
        ++parsed;
        std::regex re(pattern, std::regex::ECMAScript);
        for (int j = 0; j < 20; ++j) {
            std::string text = rng() % 2 ? (rng() % 2 ? "http://" : "https://") : "";
            for (int k = rng() % 8; k > 0; --k) text += pick(textPieces);
            ASSERT_EQ(simple->Search(text), std::regex_search(text, re)) << pattern << " on [" << text << "]";
        }
    }
    EXPECT_GT(parsed, 2000);
}

// The maximal runs of token characters in text.
std::set<std::string> TokensOf(const std::string& text) {
    std::set<std::string> out;
    for (size_t i = 0; i < text.size();) {
        if (!IsTokenChar(text[i])) {
            ++i;
            continue;
        }
        size_t start = i;
        while (i < text.size() && IsTokenChar(text[i])) ++i;
        out.insert(text.substr(start, i - start));
    }
    return out;
}

// The index keys a rule by a token it calls whole: any text the pattern
// matches must carry that token as a maximal run, or the rule would be missed.
TEST(PatternShapeTest, WholeTokensAreTokensOfEveryMatch) {
    std::mt19937 rng(777);
    auto pick = [&](const std::vector<std::string>& v) { return v[rng() % v.size()]; };
    const std::vector<std::string> starts = {"", "^", "^http://(.*?\\.|)", "^ab", "^a/", "^(.*?\\.|)",
                                             "^a(.*?\\.|)", "^https?://(.*?\\.|)", "^ab?", "^a?b/", "^a1?(.*?\\.|)"};
    const std::vector<std::string> pieces = {"ab", "b", "\\.", ".", ".*", "/", "-", "a1", "\\?", "(a/)"};
    const std::vector<std::string> ends = {"", "$", ".*(ab|b)", "/$", ".", "(ab|\\.b)"};
    const std::vector<std::string> textPieces = {"a", "b", ".", "/", "ab", "a1", "-", "?", "\n", "ab.b", "http://",
                                                 "https://"};
    int checked = 0;
    for (int i = 0; i < 30000; ++i) {
        std::string pattern = pick(starts);
        for (int k = rng() % 5; k > 0; --k) pattern += pick(pieces);
        pattern += pick(ends);
        auto simple = ParseSimplePattern(pattern);
        if (!simple) continue;
        for (int j = 0; j < 40; ++j) {
            std::string text;
            for (int k = rng() % 9; k > 0; --k) text += pick(textPieces);
            if (!simple->Search(text)) continue;
            std::set<std::string> tokens = TokensOf(text);
            // At least one alternative matches; each matching one must be found by its whole tokens.
            for (const Glob& g : simple->alternatives) {
                SimplePattern one;
                one.alternatives.push_back(g);
                if (!one.Search(text)) continue;
                for (const TokenRun& run : g.TokenRuns()) {
                    if (!run.whole()) continue;
                    ++checked;
                    ASSERT_TRUE(tokens.count(std::string(run.text)))
                        << pattern << " on [" << text << "]: " << run.text << " is not a token";
                }
            }
        }
    }
    EXPECT_GT(checked, 1000);
}

// A rule's domain list is a long alternation, searched through its own index:
// the same answers as std::regex, empty and unkeyed alternatives included.
TEST(PatternShapeTest, LongAlternationsMatchLikeStdRegex) {
    std::string domains = "(a\\.com|b\\.org|.*\\.c\\.net|d\\.de|e\\.e|f\\.fr|gg|h\\.io|ii\\.jp|.*)";
    std::string noEmpty = "(a\\.com|b\\.org|.*\\.c\\.net|d\\.de|e\\.e|f\\.fr|gg|h\\.io|ii\\.jp|^k\\.k$|.)";
    std::string words = "x.*(a1|b2|c3|d4|e5|f6|g7|h8|i9|j0)";
    std::vector<std::string> texts = {"a.com", "www.b.org", "x.c.net", "c.net", "d.de", "xe.e", "gg",  "k.k",
                                      "sk.k", "k.k\n", "",        "q",       "ii.jp", "xj0", "xb", "x\nb2"};
    ExpectSameAsRegex(domains, texts);
    ExpectSameAsRegex(noEmpty, texts);
    ExpectSameAsRegex(words, texts);
    ExpectSameAsRegex("(a\\.com|b\\.org|c\\.net|d\\.de|e\\.e|f\\.fr|gg|h\\.io|ii\\.jp)", texts);
}

}  // namespace
}  // namespace adblock
