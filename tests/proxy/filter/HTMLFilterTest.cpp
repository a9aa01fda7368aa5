#include "filter/CHTMLFilter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cwchar>
#include <random>
#include <thread>
#include <vector>

#include "FilterTestSupport.h"

using filtertest::DataFolder;
using filtertest::Gbk;

namespace {

struct Filtered {
    bool passed;
    std::string body;
    double examined, removed;
};

Filtered FilterPage(WordFilterPair& words, std::string body, bool noImage = false) {
    CHTMLFilter filter;
    filter.words = &words;
    filter.noImage = noImage;
    bool passed = filter.Process(body);
    return {passed, body, filter.anchorsExamined, filter.anchorsRemoved};
}

}  // namespace

TEST(AnchorText, ImageAttributesThenTextWithoutTags) {
    EXPECT_EQ(AnchorText(L"<a href=x><img src=\"i.png\" alt=\"badword pic\"></a>"), L"badword pic");
    EXPECT_EQ(AnchorText(L"<a href=x><img alt=\"A\" title=\"T\" src=y>text</a>"), L"ATtext");
    EXPECT_EQ(AnchorText(L"<a href=x><b>bold</b> and\r\n\t<i>it</i></a>"), L"bold andit");
    EXPECT_EQ(AnchorText(L"<a href=x><img src=y><span></span></a>"), L"");
    EXPECT_EQ(AnchorText(L"<a href=x></a>"), L"");
    EXPECT_EQ(AnchorText(L"<a href=x>/a>"), L"");
    EXPECT_EQ(AnchorText(L"<a /a>"), L"");
    // A value without its closing quote is skipped.
    EXPECT_EQ(AnchorText(L"<a href=x><img alt=\"open>t</a>"), L"t");
    // Nested brackets: the innermost tag goes first, then what encloses it.
    EXPECT_EQ(AnchorText(L"<a href=x>a<b<c>d>e</a>"), L"ae");
    // A ">" with no "<" before it ends the stripping.
    EXPECT_EQ(AnchorText(L"<a href=x>1 > 2 <b>x</b></a>"), L"1 > 2 <b>x</b>");
}

TEST(AnchorText, StepsOverWholeCharactersBeyondTheBasicPlane) {
    // The quote after "alt=" and the character before "/a>" may each be one
    // character of two wchar_t (a surrogate pair, where wchar_t is UTF-16).
    EXPECT_EQ(AnchorText(L"<a href=x><img alt=\U0001F600tip\" src=y></a>"), L"tip");
    EXPECT_EQ(AnchorText(L"<a href=x>ab\U0001F600/a>"), L"ab");
    EXPECT_EQ(AnchorText(L"<a href=x>\U0001F600/a>"), L"");
}

TEST(ExtractTitle, BetweenTheFirstTitleTags) {
    EXPECT_EQ(ExtractTitle(L"<head><title>Hello</title><title>2</title>"), L"Hello");
    EXPECT_EQ(ExtractTitle(L"<title>open"), L"");
    EXPECT_EQ(ExtractTitle(L"<TITLE>x</TITLE>"), L"");
}

TEST(HTMLFilter, TitleCondemnsThePageUnlessExemptOrSwitchedOff) {
    DataFolder data;
    WordFilterPair& words = data.Words();
    const std::string page = "<html><head><title>some badword here</title></head><body>"
                             "<a href=1>badword link</a><a href=2>fine</a></body></html>";
    Filtered f = FilterPage(words, page);
    EXPECT_FALSE(f.passed);
    EXPECT_TRUE(f.body.empty());

    Filtered exempt = FilterPage(words, "<title>badword education</title><body></body>");
    EXPECT_TRUE(exempt.passed);

    ProxyConfig().Config().wordFilter = 0;
    Filtered off = FilterPage(words, page);
    EXPECT_TRUE(off.passed);
    EXPECT_EQ(off.body, "<html><head><title>some badword here</title></head><body><a href=2>fine</a></body></html>");
    EXPECT_EQ(off.examined, 2);
    EXPECT_EQ(off.removed, 1);

    Filtered upper = FilterPage(words, "<TITLE>badword</TITLE><A href=1>badword</A>");
    EXPECT_TRUE(upper.passed);
    EXPECT_EQ(upper.examined, 0);
}

TEST(HTMLFilter, CondemnedAnchorsAndCounters) {
    DataFolder data;
    WordFilterPair& words = data.Words();
    Filtered f = FilterPage(words,
                     "<body><a href=1><img src=p alt=\"secretpage\"></a>|<a href=2>ok</a>|"
                     "<a href=3><img src=q></a>|<a href=4>Badword</a>|<a href=4>Badword</a>|"
                     "<a href=5>badword education</a></body>");
    EXPECT_TRUE(f.passed);
    EXPECT_EQ(f.body, "<body>|<a href=2>ok</a>|<a href=3><img src=q></a>|||<a href=5>badword education</a></body>");
    EXPECT_EQ(f.examined, 6);
    EXPECT_EQ(f.removed, 3);
}

TEST(HTMLFilter, AtMostTenThousandAndOneAnchorsAreExamined) {
    DataFolder data;
    WordFilterPair& words = data.Words();
    std::string page = "<body>";
    for (int i = 0; i < 10050; ++i) page += "<a href=" + std::to_string(i) + ">badword</a>";
    page += "</body>";
    Filtered f = FilterPage(words, page);
    EXPECT_EQ(f.examined, 10001);
    EXPECT_EQ(f.removed, 10001);
    std::string rest = "<body>";
    for (int i = 10001; i < 10050; ++i) rest += "<a href=" + std::to_string(i) + ">badword</a>";
    EXPECT_EQ(f.body, rest + "</body>");
}

TEST(HTMLFilter, ImagesSuppressedOnlyInLowerCaseAndWhenAsked) {
    DataFolder data;
    WordFilterPair& words = data.Words();
    const std::string page = "<html><body><img src=a><IMG src=b></body></html>";
    EXPECT_EQ(FilterPage(words, page).body, page);

    ProxyConfig().Config().imageMode = 1;
    EXPECT_EQ(FilterPage(words, page).body,
              "<html><body><iii src=a><IMG src=b><script>zelk_data.no_img='1'</script>\r\n</body></html>");
    EXPECT_EQ(FilterPage(words, "<p><img src=a></p>").body, "<p><iii src=a></p>");

    ProxyConfig().Config().imageMode = 2;
    EXPECT_EQ(FilterPage(words, page).body, page);
    EXPECT_EQ(FilterPage(words, page, true).body,
              "<html><body><iii src=a><IMG src=b><script>zelk_data.no_img='1'</script>\r\n</body></html>");
}

TEST(HTMLFilter, InsertionsInOrderBeforeTheClosingTag) {
    DataFolder data;
    data.Write("Data/jiese_tips.txt", "tip\n");
    data.Write("Data/WebBottomTips.txt", "<t>ShareContent</t>");
    data.Write("Data/Control.html", "<c/>");
    data.Write("Data/Inject.zelk", "<s/>");
    ProxyConfig().Config().jieseTips = 1;
    ProxyConfig().Config().showControl = 1;
    ProxyConfig().Config().imageMode = 1;
    WordFilterPair& words = data.Words();
    EXPECT_EQ(FilterPage(words, "<html><body><img src=x></body></html>").body,
              "<html><body><iii src=x><t>tip</t><c/><s/><script>zelk_data.no_img='1'</script>\r\n</body></html>");
    EXPECT_EQ(FilterPage(words, "<head></head><body></body>").body,
              "<head><t>tip</t><c/><s/><script>zelk_data.no_img='1'</script>\r\n</head><body></body>");
}

TEST(HTMLFilter, PagesReturnInTheirOwnEncoding) {
    DataFolder data;
    data.Write("Data/Inject.zelk", "<s>注入</s>");
    WordFilterPair& words = data.Words();
    const std::wstring wide = L"<html><head><title>新闻</title></head><body>"
                              L"<a href=1>赌博网站</a><a href=2>学习</a></body></html>";
    const std::wstring kept = L"<html><head><title>新闻</title><s>注入</s></head><body>"
                              L"<a href=2>学习</a></body></html>";

    Filtered utf8 = FilterPage(words, CUtility().wstring_to_utf8(wide));
    EXPECT_TRUE(utf8.passed);
    EXPECT_EQ(utf8.body, CUtility().wstring_to_utf8(kept));
    EXPECT_EQ(utf8.removed, 1);

    const std::string gbkPage = Gbk(wide);
    ASSERT_EQ(CUtility().detect_utf8(gbkPage.data(), static_cast<int>(gbkPage.size())), 0);
    Filtered gbk = FilterPage(words, gbkPage);
    EXPECT_TRUE(gbk.passed);
    EXPECT_EQ(gbk.body, Gbk(kept));
    EXPECT_EQ(gbk.removed, 1);

    Filtered condemned = FilterPage(words, Gbk(L"<title>赌博</title>"));
    EXPECT_FALSE(condemned.passed);
}

TEST(HTMLFilter, CharactersBeyondTheBasicPlaneSurviveAndAreMatched) {
    DataFolder data;
    data.Write("Data/block_words.txt", "\xF0\x9D\x84\x9E" "bad\n");  // "𝄞bad"
    WordFilterPair& words = data.Words();
    // UTF-8 bytes as they arrive: four-byte sequences, the last one the
    // highest character there is.
    const std::string head = "<html><head><title>\xF0\x9F\x98\x80 news</title></head><body>";
    const std::string kept = "<a href=2>\xF0\x9D\x84\x9E ok \xF4\x8F\xBF\xBF</a>";
    Filtered f = FilterPage(words, head + "<a href=1>x\xF0\x9D\x84\x9E" "BAD</a>" + kept + "</body></html>");
    EXPECT_TRUE(f.passed);
    EXPECT_EQ(f.body, head + kept + "</body></html>");
    EXPECT_EQ(f.removed, 1);

    EXPECT_FALSE(FilterPage(words, "<title>\xF0\x9D\x84\x9E" "bad</title>").passed);
}

TEST(HTMLFilter, ConcurrencyOfPagesSharingFiltersAndStore) {
    DataFolder data;
    data.Write("Data/jiese_tips.txt", "a\nb\n");
    data.Write("Data/WebBottomTips.txt", "<t>ShareContent</t>");
    data.Write("Data/Inject.zelk", "<s/>");
    ProxyConfig().Config().jieseTips = 1;
    WordFilterPair& words = data.Words();
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 50; ++i) {
                Filtered f = FilterPage(words, "<head></head><a href=1>badword</a><a href=2>ok</a>");
                bool ok = f.passed && f.removed == 1 &&
                          (f.body == "<head><t>a</t><s/></head><a href=2>ok</a>" ||
                           f.body == "<head><t>b</t><s/></head><a href=2>ok</a>");
                if (!ok) ++wrong;
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(wrong.load(), 0);
}

namespace {

// The anchor text taken literally: repeated erasing from the last "<" before
// the first ">" through that ">". The one-pass form must agree with it.
std::wstring AnchorTextLiterally(const std::wstring& anchor) {
    size_t gt = anchor.find(L'>');
    if (gt == std::wstring::npos) return L"";
    size_t close = anchor.find(L"/a>", gt);
    if (close == std::wstring::npos || close == gt + 1) return L"";
    std::wstring inner = anchor.substr(gt + 1, close - gt - 2);
    std::wstring result;
    size_t img = inner.find(L"<img ");
    if (img != std::wstring::npos) {
        std::wstring tag = inner.substr(img, inner.find(L'>', img) == std::wstring::npos ? std::wstring::npos
                                                                                         : inner.find(L'>', img) - img + 1);
        for (const wchar_t* name : {L"alt=", L"title="}) {
            size_t at = tag.find(name);
            if (at == std::wstring::npos) continue;
            size_t start = at + std::wcslen(name) + 1;
            size_t end = start <= tag.size() ? tag.find(L'"', start) : std::wstring::npos;
            if (end != std::wstring::npos) result += tag.substr(start, end - start);
        }
    }
    for (;;) {
        size_t g = inner.find(L'>');
        if (g == std::wstring::npos) break;
        size_t l = inner.rfind(L'<', g);
        if (l == std::wstring::npos) break;
        inner.erase(l, g - l + 1);
    }
    result += inner;
    std::erase_if(result, [](wchar_t c) { return c == L'\r' || c == L'\n' || c == L'\t'; });
    return result;
}

}  // namespace

TEST(AnchorText, AgreesWithTheLiteralFormOnRandomAnchors) {
    const std::wstring pieces[] = {L"<", L">", L"a", L"b", L" ", L"\"", L"\r\n", L"\t", L"<img ", L"alt=\"",
                                   L"title=\"", L"</b>", L"<i>", L"/a", L"=", L"x"};
    std::mt19937 rng(17);
    for (int i = 0; i < 20000; ++i) {
        std::wstring anchor = L"<a ";
        int n = static_cast<int>(rng() % 14);
        for (int k = 0; k < n; ++k) anchor += pieces[rng() % std::size(pieces)];
        anchor += L"/a>";
        ASSERT_EQ(AnchorText(anchor), AnchorTextLiterally(anchor)) << std::string(anchor.begin(), anchor.end());
    }
}

TEST(FilterAnchors, AgreesWithErasingFirstOccurrencesInTurn) {
    DataFolder data;
    data.Write("Data/block_words.txt", "bad\n");
    WordFilterPair& words = data.Words();
    // Pieces that make nested anchors, repeated anchors and cuts that join
    // into a new "<a " or "/a>".
    const std::wstring pieces[] = {L"<a ", L"</a>", L"<a x>bad</a>", L"<a y>ok</a>", L"<a x>bad</a>", L"<", L"a",
                                   L" ", L"/", L">", L"bad", L"a x>bad</a>", L"<a p>education", L"<a z><b>bad</b></a>"};
    std::mt19937 rng(23);
    for (int i = 0; i < 20000; ++i) {
        std::wstring page;
        int n = static_cast<int>(rng() % 16);
        for (int k = 0; k < n; ++k) page += pieces[rng() % std::size(pieces)];

        std::wstring expected = page;
        std::vector<std::wstring> condemned;
        int examined = 0;
        for (size_t pos = 0;;) {
            size_t open = expected.find(L"<a ", pos);
            if (open == std::wstring::npos) break;
            size_t close = expected.find(L"/a>", open);
            if (close == std::wstring::npos) break;
            std::wstring anchor = expected.substr(open, close + 3 - open);
            std::wstring text = AnchorText(anchor);
            if (!text.empty() && TextIsFiltered(words, text)) condemned.push_back(anchor);
            ++examined;
            pos = close + 3;
        }
        for (const auto& a : condemned)
            if (size_t at = expected.find(a); at != std::wstring::npos) expected.erase(at, a.size());

        std::wstring actual = page;
        AnchorCounts counts = FilterAnchors(actual, words);
        ASSERT_EQ(actual, expected) << std::string(page.begin(), page.end());
        ASSERT_EQ(counts.examined, examined);
        ASSERT_EQ(counts.removed, static_cast<int>(condemned.size()));
    }
}

TEST(TitleCondemnsPage, ReadsTheTitleAsTheWholePageFilterDoes) {
    DataFolder data;
    WordFilterPair& words = data.Words();
    const std::wstring body = L"</head><body><a href=1>学习</a></body></html>";
    const std::vector<std::string> pages = {
        CUtility().wstring_to_utf8(L"<html><head><title>赌博</title>" + body),
        Gbk(L"<html><head><title>赌博</title>" + body),
        CUtility().wstring_to_utf8(L"<html><head><title>新闻</title>" + body),
        "<title>some badword here</title><body></body>",
        "<title>badword education</title>",  // exempt
        "<title>badword",                    // no closing tag: no title
        "<TITLE>badword</TITLE>",
    };
    for (const std::string& page : pages)
        EXPECT_EQ(TitleCondemnsPage(page, words), !FilterPage(words, page).passed) << page;

    // The first part of a long UTF-8 page may end inside a character: the
    // page is still read as UTF-8 (as GBK its title would not match).
    const std::string utf8 = CUtility().wstring_to_utf8(L"<html><head><title>赌博</title>" + body + L"学");
    ASSERT_EQ(utf8.size() - utf8.rfind("\xE5"), 3u);
    for (size_t cut = 1; cut <= 3; ++cut) EXPECT_TRUE(TitleCondemnsPage(std::string_view(utf8).substr(0, utf8.size() - cut), words)) << cut;

    ProxyConfig().Config().wordFilter = 0;
    EXPECT_FALSE(TitleCondemnsPage(pages[0], words));
}
