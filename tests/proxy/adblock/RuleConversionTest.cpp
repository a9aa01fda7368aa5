#include "adblock/RuleConversion.h"

#include <gtest/gtest.h>

namespace adblock {
namespace {

ConvertedRule Convert(const std::string& line) {
    auto r = ConvertLine(line);
    EXPECT_TRUE(r.has_value()) << line;
    return r.value_or(ConvertedRule{});
}

TEST(ReplaceAllTest, ReplacesEveryOccurrenceWithoutRescanningInsertedText) {
    std::string t = "a.b.c";
    EXPECT_TRUE(ReplaceAll(t, ".", "\\."));
    EXPECT_EQ(t, "a\\.b\\.c");
    t = "**";
    EXPECT_TRUE(ReplaceAll(t, "*", ".*"));  // the inserted "*" is not replaced again
    EXPECT_EQ(t, ".*.*");
    t = "aaa";
    EXPECT_TRUE(ReplaceAll(t, "a", "aa"));
    EXPECT_EQ(t, "aaaaaa");
}

TEST(ReplaceAllTest, EmptyOrEqualArgumentsLeaveTextAlone) {
    std::string t = "a.b";
    EXPECT_TRUE(ReplaceAll(t, "", "x"));
    EXPECT_TRUE(ReplaceAll(t, ".", ""));
    EXPECT_TRUE(ReplaceAll(t, ".", "."));
    EXPECT_EQ(t, "a.b");
}

TEST(ReplaceAllTest, StopsAfterTheLimitInsteadOfEndingTheProgram) {
    std::string t(3000, '.');
    EXPECT_TRUE(ReplaceAll(t, ".", "\\."));
    EXPECT_EQ(t.size(), 6000u);
    std::string u(3001, '.');
    EXPECT_FALSE(ReplaceAll(u, ".", "\\."));
}

TEST(ConvertLineTest, AddressRulesBecomeAnchoredPatterns) {
    auto r = Convert("||ads.example.com^");
    EXPECT_EQ(r.urlPattern, "^https?://(.*?\\.|)ads\\.example\\.com.");
    EXPECT_EQ(r.domainText, ".*");
    EXPECT_EQ(r.exception, 0);
    EXPECT_EQ(Convert("|http://ad.example.com/a.js|").urlPattern, "^http://ad\\.example\\.com/a\\.js$");
    EXPECT_EQ(Convert("/ad?x=*&y^").urlPattern, "/ad\\?x=.*&y.");
    // The separator at the very end stays "." (one more character); only a
    // "^" left by the start anchor is removed.
    EXPECT_EQ(Convert("|").urlPattern, "");
    EXPECT_EQ(Convert("|$image").urlPattern, "^.*(jpg|png|bmp|gif)");
}

TEST(ConvertLineTest, BarsInsideAreLiteral) {
    EXPECT_EQ(Convert("a|b").urlPattern, "a\\|b");
    EXPECT_EQ(Convert("||").urlPattern, "^https?://(.*?\\.|)");
    EXPECT_EQ(Convert("|||").urlPattern, "^https?://(.*?\\.|)$");
    EXPECT_EQ(Convert("|a|b|").urlPattern, "^a\\|b$");
}

TEST(ConvertLineTest, OptionsGiveTypeSuffixThirdPartyAndDomains) {
    auto r = Convert("@@||example.com^$image,domain=example.net|example.org");
    EXPECT_EQ(r.urlPattern, "^https?://(.*?\\.|)example\\.com..*(jpg|png|bmp|gif)");
    EXPECT_EQ(r.domainText, "(example\\.net|example\\.org)");
    EXPECT_EQ(r.exception, 1);

    r = Convert("/banner/*$script,third-party");
    EXPECT_EQ(r.urlPattern, "/banner/.*.*(js|vbs)");
    EXPECT_EQ(r.thirdParty, 1);
    EXPECT_EQ(r.domainText, ".*");

    EXPECT_EQ(Convert("x$domain=example.net|~example.org").domainText, "(example\\.net|.*\\.example\\.org)");
    EXPECT_EQ(Convert("x$domain=~example.org,image").domainText, ".*\\.example\\.org");
    EXPECT_EQ(Convert("x$image,object,script").urlPattern, "x.*(jpg|png|bmp|gif|swf|jar|js|vbs)");
    // Words by substring: "~image" counts, "object-subrequest" counts twice,
    // "subdocument" (spelled right) does not.
    EXPECT_EQ(Convert("x$~image").urlPattern, "x.*(jpg|png|bmp|gif)");
    EXPECT_EQ(Convert("x$object-subrequest").urlPattern, "x.*(swf|jar|.*)");
    EXPECT_EQ(Convert("x$subdocument").urlPattern, "x");
    EXPECT_EQ(Convert("x$popup,match-case").urlPattern, "x");
}

TEST(ConvertLineTest, EndAnchorIsNotAnOptionMarker) {
    EXPECT_EQ(Convert("foo|").urlPattern, "foo$");
    auto r = Convert("foo$image|");
    EXPECT_EQ(r.urlPattern, "foo.*(jpg|png|bmp|gif)");
    r = Convert("foo$domain=a.com|");
    EXPECT_EQ(r.urlPattern, "foo");
    EXPECT_EQ(r.domainText, "a\\.com$");
}

TEST(ConvertLineTest, SkipsCommentsHeadersAndElementHiding) {
    EXPECT_FALSE(ConvertLine("  ! comment"));
    EXPECT_FALSE(ConvertLine("[Adblock Plus 2.0]"));
    EXPECT_FALSE(ConvertLine("example.com##.ad"));
    EXPECT_FALSE(ConvertLine(" \t\r\n"));
    // "#@#" holds no "##": an address rule like any other.
    EXPECT_EQ(Convert("example.com#@#.ad").urlPattern, "example\\.com#@#\\.ad");
}

TEST(ConvertLineTest, BlanksAreRemovedEverywhere) {
    EXPECT_EQ(Convert(" ad\tbanner .js\r").urlPattern, "adbanner\\.js");
    auto r = Convert("@@");
    EXPECT_EQ(r.urlPattern, "");
    EXPECT_EQ(r.exception, 1);
}

TEST(ConvertLineTest, LinesNeedingTooManyReplacementsAreDropped) {
    EXPECT_FALSE(ConvertLine(std::string(3001, '*')));
    EXPECT_FALSE(ConvertLine("x$domain=" + std::string(3001, '~')));
    EXPECT_TRUE(ConvertLine(std::string(3000, '*')));
}

}  // namespace
}  // namespace adblock
