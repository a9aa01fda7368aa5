#include "adblock/CAdFilter.h"

#include <gtest/gtest.h>

#include <sstream>

#include "adblock/ExplainLines.h"
#include "support/TempFolder.h"

namespace {

// An engine over "Data/easylistchina.txt" in a fresh working folder.
class CAdFilterTest : public ::testing::Test {
protected:
    void WriteList(const std::string& text) { folder_.Write("Data/easylistchina.txt", text); }
    std::unique_ptr<CAdFilter> Loaded(const std::string& text) {
        WriteList(text);
        auto f = std::make_unique<CAdFilter>();
        f->LoadRules();
        return f;
    }
    testsupport::TempFolder folder_{true};
};

TEST_F(CAdFilterTest, DomainAnchorMatchesTheDomainAndItsSubdomainsOverHttpAndHttps) {
    auto f = Loaded("||ads.example.com^\n");
    for (std::string scheme : {"http://", "https://"}) {
        SCOPED_TRACE(scheme);
        EXPECT_EQ(f->CheckUrl(scheme + "ads.example.com/x.js", "ads.example.com"), 0);
        EXPECT_EQ(f->CheckUrl(scheme + "cdn.ads.example.com/x.js", "cdn.ads.example.com"), 0);
        EXPECT_EQ(f->CheckUrl(scheme + "ads.example.com/", "ads.example.com"), 0);  // how a tunnel is checked
        EXPECT_EQ(f->CheckUrl(scheme + "example.com/ads.example.com", "example.com"), 1);
        EXPECT_EQ(f->CheckUrl(scheme + "ads.example.com", "ads.example.com"), 1);  // the separator needs a character
        EXPECT_EQ(f->CheckUrl(scheme + "example.org/y.ads.example.com/", "example.org"), 0);  // path overrun
        EXPECT_EQ(f->CheckUrl(scheme + "Ads.Example.com/x", "ads.example.com"), 1);  // case-sensitive
    }
    // Other schemes, and the bare tunnel target, are no domain start.
    EXPECT_EQ(f->CheckUrl("httpss://ads.example.com/x", "ads.example.com"), 1);
    EXPECT_EQ(f->CheckUrl("ftp://ads.example.com/x", "ads.example.com"), 1);
    EXPECT_EQ(f->CheckUrl("ads.example.com:443", "ads.example.com"), 1);
}

// A tunnel is checked as the start of an https page on its host: domain
// rules refuse it, exceptions let it through, path rules cannot tell (they
// still decide full https URLs).
TEST_F(CAdFilterTest, TunnelsAndHttpsUrlsMeetDomainPathAndExceptionRules) {
    auto f = Loaded("||ads.example.com^\n@@||ok.ads.example.com^\nbanner/\n");  // the exception sorts first
    EXPECT_EQ(TunnelCheckUrl("ads.example.com"), "https://ads.example.com/");
    EXPECT_EQ(f->CheckUrl(TunnelCheckUrl("ads.example.com"), "ads.example.com"), 0);
    EXPECT_EQ(f->CheckUrl(TunnelCheckUrl("cdn.ads.example.com"), "cdn.ads.example.com"), 0);
    EXPECT_EQ(f->CheckUrl(TunnelCheckUrl("ok.ads.example.com"), "ok.ads.example.com"), 1);
    EXPECT_EQ(f->CheckUrl(TunnelCheckUrl("news.example.org"), "news.example.org"), 1);
    EXPECT_EQ(f->CheckUrl("https://news.example.org/banner/a.png", "news.example.org"), 0);
    EXPECT_EQ(f->CheckUrl("https://ok.ads.example.com/banner/a.png", "ok.ads.example.com"), 1);
}

TEST_F(CAdFilterTest, UnanchoredRuleMatchesTunnelTargets) {
    auto f = Loaded("ads.example.com\n");
    EXPECT_EQ(f->CheckUrl("ads.example.com:443", "ads.example.com"), 0);
    EXPECT_EQ(f->CheckUrl("https://x.test/?r=ads.example.com", "x.test"), 0);
}

TEST_F(CAdFilterTest, DomainOptionIsASubstringSearchOfTheHost) {
    auto f = Loaded("/track$domain=example.net|example.org\n");
    EXPECT_EQ(f->CheckUrl("http://a.test/track", "example.net"), 0);
    EXPECT_EQ(f->CheckUrl("http://b.test/track", "notexample.net"), 0);
    EXPECT_EQ(f->CheckUrl("http://c.test/track", "example.com"), 1);
    EXPECT_EQ(f->CheckUrl("http://d.test/track", ""), 1);
}

TEST_F(CAdFilterTest, FirstRuleInListOrderDecides) {
    // "@@" sorts before "|", so the exception comes first and wins.
    auto f = Loaded("|http://a.test/ad\n@@|http://a.test/ad\n/ads/*\n");
    EXPECT_EQ(f->CheckUrl("http://a.test/ad.png", "a.test"), 1);
    EXPECT_EQ(f->Explain("http://a.test/ad.png", "a.test").rule->sourceLine(), "@@|http://a.test/ad");
    // Here the blocking line sorts first ("/" < "@").
    auto g = Loaded("/ads/*\n@@/ads/ok\n");
    EXPECT_EQ(g->CheckUrl("http://a.test/ads/ok", "a.test"), 0);
    EXPECT_EQ(g->Explain("http://a.test/ads/ok", "a.test").rule->sourceLine(), "/ads/*");
}

TEST_F(CAdFilterTest, EmptyExceptionMatchesEverything) {
    auto f = Loaded("@@\n||ads.example.com^\n");
    EXPECT_EQ(f->CheckUrl("http://ads.example.com/x", "ads.example.com"), 1);
    EXPECT_EQ(f->Explain("http://ads.example.com/x", "").rule->sourceLine(), "@@");
}

TEST_F(CAdFilterTest, UnloadedEngineAndEmptyUrlPassWithoutCaching) {
    WriteList("ad\n");
    CAdFilter f;
    EXPECT_EQ(f.CheckUrl("http://a.test/ad", "a.test"), 1);  // not loaded yet
    f.LoadRules();
    EXPECT_EQ(f.CheckUrl("http://a.test/ad", "a.test"), 0);  // the earlier answer was not kept
    EXPECT_EQ(f.CheckUrl("", "a.test"), 1);
    f.ClearRules();
    EXPECT_EQ(f.CheckUrl("http://a.test/ad", "a.test"), 1);
    EXPECT_FALSE(f.IsLoaded());
}

// The list is read again on every load: a changed one is in force at once,
// with no verdict of the old rules left; an unchanged one keeps its rules.
TEST_F(CAdFilterTest, LoadTakesUpAChangedListAndForgetsOldVerdicts) {
    WriteList("||ads1.example^\n");
    CAdFilter f;
    f.LoadRules();
    EXPECT_EQ(f.CheckUrl("http://ads1.example/x", "ads1.example"), 0);
    EXPECT_EQ(f.CheckUrl("http://ads2.example/x", "ads2.example"), 1);
    std::shared_ptr<const AdRuleSet> first = f.Rules();
    f.LoadRules();
    EXPECT_EQ(f.Rules(), first) << "an unchanged list is not rebuilt";

    WriteList("||ads2.example^\n");  // same size, same second
    f.LoadRules();
    EXPECT_NE(f.Rules(), first);
    EXPECT_EQ(f.CheckUrl("http://ads1.example/x", "ads1.example"), 1);
    EXPECT_EQ(f.CheckUrl("http://ads2.example/x", "ads2.example"), 0);

    // Clearing forgets the verdicts too; the next load reads the list again.
    f.ClearRules();
    EXPECT_EQ(f.CachedVerdictCount(), 0u);
    WriteList("||ads1.example^\n||ads2.example^\n");
    f.LoadRules();
    EXPECT_EQ(f.CheckUrl("http://ads1.example/x", "ads1.example"), 0);
    EXPECT_EQ(f.CheckUrl("http://ads2.example/x", "ads2.example"), 0);
    EXPECT_EQ(f.RuleCount(), 2u);
}

// More distinct URLs than the cache holds: it stays within its bound and
// every answer is still the rules' own.
TEST_F(CAdFilterTest, VerdictCacheStaysBoundedAndAnswersStayRight) {
    auto f = Loaded("|http://a.test/banner/\n@@/banner/ok\n");  // the exception sorts first
    const size_t urls = adblock::VerdictCache::kMaxUrls + 20000;
    size_t wrong = 0;
    for (size_t i = 0; i < urls; ++i) {
        std::string n = std::to_string(i);
        bool ad = i % 3 == 0, ok = i % 6 == 0;
        std::string url = "http://a.test/" + std::string(ad ? "banner/" : "page/") + (ok ? "ok" : "") + n;
        wrong += f->CheckUrl(url, "a.test") != (ad && !ok ? 0 : 1);
    }
    EXPECT_EQ(wrong, 0u);
    EXPECT_LE(f->CachedVerdictCount(), adblock::VerdictCache::kMaxUrls);
    EXPECT_GT(f->CachedVerdictCount(), adblock::VerdictCache::kMaxUrls / 2);
    // URLs pushed out long ago are decided again, the same way.
    EXPECT_EQ(f->CheckUrl("http://a.test/banner/3", "a.test"), 0);
    EXPECT_EQ(f->CheckUrl("http://a.test/banner/ok0", "a.test"), 1);
    EXPECT_EQ(f->CheckUrl("http://a.test/page/1", "a.test"), 1);
}

TEST_F(CAdFilterTest, LoadingTwiceKeepsOneSetAndBlankVariantsStayTwoRules) {
    auto f = Loaded("ad\na d\n! comment\n[Adblock Plus 2.0]\nx.com##.ad\n");
    f->LoadRules();
    EXPECT_EQ(f->RuleCount(), 2u);
}

TEST_F(CAdFilterTest, MissingListLetsEverythingThrough) {
    CAdFilter f;
    f.LoadRules();
    EXPECT_TRUE(f.IsLoaded());
    EXPECT_EQ(f.RuleCount(), 0u);
    EXPECT_EQ(f.CheckUrl("http://ads.example.com/x", "ads.example.com"), 1);
}

TEST_F(CAdFilterTest, BrokenPatternsNeverMatchAndLoadingGoesOn) {
    auto f = Loaded("(ad\n[z-a]\n" + std::string(3001, '.') + "\nbanner\n");
    EXPECT_EQ(f->CheckUrl("http://a.test/(ad", "a.test"), 1);
    EXPECT_EQ(f->CheckUrl("http://a.test/banner", "a.test"), 0);
    EXPECT_EQ(f->Explain("http://a.test/banner", "a.test").rule->sourceLine(), "banner");
}

// A back-reference or repeat count of 19 digits or more overflows libstdc++'s
// number reading (undefined behaviour, caught by the sanitizer build); such a
// rule is refused like a broken one, while ordinary counts and escapes of
// digits still compile.
TEST_F(CAdFilterTest, OverlongRegexNumbersNeverMatchAndShortOnesStillDo) {
    auto f = Loaded("ad]+\\55555555555555555555-js/\n"
                    "track]{1,99999999999999999999}/\n"
                    "pix]{3}el\n"
                    "ban]{1,2}\\\\123456789012345/\n");
    EXPECT_EQ(f->CheckUrl("http://a.test/ad]]5-js/", "a.test"), 1);
    EXPECT_EQ(f->CheckUrl("http://a.test/track]/", "a.test"), 1);
    EXPECT_EQ(f->Explain("http://a.test/ad]]5-js/", "a.test").rule, nullptr);
    EXPECT_EQ(f->CheckUrl("http://a.test/pix]]]el", "a.test"), 0) << "a short count still works";
    // An escaped backslash followed by digits is no back-reference.
    EXPECT_EQ(f->CheckUrl("http://a.test/ban]\\123456789012345/", "a.test"), 0);
}

// A repeat of a repeat backtracks for an exponential time in std::regex (the
// first line took over 30 s on this 70-byte URL): such a rule never matches,
// while single repeats, lazy marks and repeated groups without repeats inside
// still work.
TEST_F(CAdFilterTest, NestedRepeatsNeverMatchAndSingleOnesStillDo) {
    auto f = Loaded("||*+example.com/ad/\n(ba+)+nner/\ntrack.*{2}x\npi+xel\n(ab)+cd/\n");
    EXPECT_EQ(f->CheckUrl("http://cdn.exhttps://safex.example.com/ad/q//safex.example.com/ad/q", "a.test"), 1);
    EXPECT_EQ(f->CheckUrl("http://a.test/baaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaannner/", "a.test"), 1);
    EXPECT_EQ(f->CheckUrl("http://a.test/trackxx", "a.test"), 1);
    EXPECT_EQ(f->CheckUrl("http://a.test/piiixel", "a.test"), 0);
    EXPECT_EQ(f->CheckUrl("http://a.test/ababcd/", "a.test"), 0);
}

// Every unbounded repeat multiplies a failed std::regex search's backtracking
// by the URL's length (a fuzzed line of twenty wildcards ran for minutes on
// one URL). A run of wildcards is searched as one and still matches; a
// std::regex rule with more than six unbounded repeats is refused.
TEST_F(CAdFilterTest, WildcardRunsAreOneWildcardAndTooManyRepeatsNeverMatch) {
    auto f = Loaded("ad]*******************\\?*0*0000]01\n"
                    "x]*1*2*3*4*5*6*7/\n"
                    "y]\\**z/\n");
    EXPECT_EQ(f->CheckUrl("http://a.test/ad]/q?a0b0000]01", "a.test"), 0);
    EXPECT_EQ(f->CheckUrl("http://a.test/" + std::string(900, 'a') + "0000]0", "a.test"), 1);
    EXPECT_EQ(f->CheckUrl("http://a.test/x]1234567/", "a.test"), 1);
    EXPECT_EQ(f->Explain("http://a.test/x]1234567/", "a.test").rule, nullptr);
    // "\\*" converts to a repeated escaped dot, no wildcard: "\\.*.*" keeps
    // both repeats.
    EXPECT_EQ(f->CheckUrl("http://a.test/y]qz/", "a.test"), 0);
}

TEST_F(CAdFilterTest, RegexRulesAreUsedWhenTheirShapeIsNotDirect) {
    // "{2}" and "[...]" go to std::regex; "\d" as well.
    auto f = Loaded("ad[0-9]{2}x/\n@@/ok\\d/\n");  // the exception sorts first
    EXPECT_EQ(f->CheckUrl("http://a.test/ad42x/", "a.test"), 0);
    EXPECT_EQ(f->CheckUrl("http://a.test/ad4x/", "a.test"), 1);
    EXPECT_EQ(f->CheckUrl("http://a.test/ok7/ad42x/", "a.test"), 1);
}

TEST_F(CAdFilterTest, LongUrlsNeitherCrashNorStallAndDirectRulesStillDecide) {
    auto f = Loaded("||ads.example.com^\n/ad[0-9]+x\nx*y*z\n");
    std::string tail(50000, 'x');
    // A direct rule decides at any length.
    EXPECT_EQ(f->CheckUrl("http://ads.example.com/" + tail, "ads.example.com"), 0);
    EXPECT_EQ(f->CheckUrl("http://b.test/" + tail + "y", "b.test"), 1);
    EXPECT_EQ(f->CheckUrl("http://b.test/" + tail + "yz", "b.test"), 0);
    // A rule that needs std::regex counts as not matching beyond the safe length.
    EXPECT_EQ(f->CheckUrl("http://c.test/ad12x/" + tail, "c.test"), 1);
    EXPECT_EQ(f->CheckUrl("http://c.test/ad12x/" + std::string(kRegexSafeLength - 30, 'q'), "c.test"), 0);
}

TEST_F(CAdFilterTest, ExplainLinesPrintsVerdictAndDecidingLine) {
    auto f = Loaded("||ads.example.com^\n@@||ads.example.com/ok\n");
    std::istringstream in(
        "http://ads.example.com/x\tads.example.com\tfirst\n"
        "http://ads.example.com/ok\tads.example.com\n"
        "http://news.test/\r\n"
        "\n"
        "https://ads.example.com/y\tads.example.com\n"
        "ads.example.com:443\tads.example.com\n"
        "news.test:443\tnews.test\n");
    std::ostringstream out;
    adblock::ExplainLines(*f, in, out);
    EXPECT_EQ(out.str(),
              "0\t||ads.example.com^\n"
              "1\t@@||ads.example.com/ok\n"
              "1\t-\n"
              "1\t-\n"
              "0\t||ads.example.com^\n"
              "0\t||ads.example.com^\n"
              "1\t-\n");
}

}  // namespace
