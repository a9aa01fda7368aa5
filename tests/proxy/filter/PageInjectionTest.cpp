#include "filter/PageInjection.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include "FilterTestSupport.h"

using filtertest::DataFolder;
using filtertest::Gbk;

TEST(InsertBeforeClose, PrefersHeadThenBodyThenHtml) {
    std::string page = "<html><head></head><body></body></html>";
    InsertBeforeClose(page, "A");
    InsertBeforeClose(page, "B");
    EXPECT_EQ(page, "<html><head>AB</head><body></body></html>");

    page = "<html><body>x</body></html>";
    InsertBeforeClose(page, "A");
    EXPECT_EQ(page, "<html><body>xA</body></html>");

    page = "<p>x</p></html>";
    InsertBeforeClose(page, "A");
    EXPECT_EQ(page, "<p>x</p>A</html>");

    page = "<head></head><head></head>";
    InsertBeforeClose(page, "A");
    EXPECT_EQ(page, "<head>A</head><head></head>");

    page = "<HTML><BODY>x</BODY></HTML>";
    EXPECT_FALSE(HasCloseTag(page));
    InsertBeforeClose(page, "A");
    EXPECT_EQ(page, "<HTML><BODY>x</BODY></HTML>");
    EXPECT_TRUE(HasCloseTag("</body>"));
}

TEST(ReplacePlaceholder, EveryOccurrenceOnceWithoutRescanning) {
    std::string t = "a ShareContent b ShareContent";
    ReplacePlaceholder(t, "ShareContent", "[tip]");
    EXPECT_EQ(t, "a [tip] b [tip]");

    t = "x ShareContent y";
    ReplacePlaceholder(t, "ShareContent", "ShareContent ShareContent");
    EXPECT_EQ(t, "x ShareContent ShareContent y");

    t = "ShareContent";
    ReplacePlaceholder(t, "ShareContent", "");
    EXPECT_EQ(t, "");

    t = "abc";
    ReplacePlaceholder(t, "", "z");
    EXPECT_EQ(t, "abc");
}

TEST(InsertNoImageScript, OnlyWithACloseTag) {
    std::string page = "<img src=a></body>";
    InsertNoImageScript(page);
    EXPECT_EQ(page, "<img src=a><script>zelk_data.no_img='1'</script>\r\n</body>");
    EXPECT_EQ(kNoImageScript.size(), 39u);
    std::string bare = "<img src=a>";
    InsertNoImageScript(bare);
    EXPECT_EQ(bare, "<img src=a>");
}

TEST(CMyTips, PicksWithinOneSecondAreEqualAndCoverTheList) {
    DataFolder data;
    data.Write("Data/jiese_tips.txt", "c tip\na tip\nb tip\n\n");
    data.Write("Data/xiu_shen_tips.txt", "z\ny\nx\n");
    CMyTips tips("Data/jiese_tips.txt");
    CMyTips other("Data/xiu_shen_tips.txt");
    ASSERT_EQ(*tips.tips(), (std::vector<std::wstring>{L"a tip", L"b tip", L"c tip"}));

    std::set<std::wstring> seen;
    for (std::time_t s = 1700000000; s < 1700000060; ++s) {
        std::wstring pick = tips.PickTip(s);
        EXPECT_EQ(pick, tips.PickTip(s));
        // Lists of the same size are asked with the same index.
        size_t index = static_cast<size_t>(pick[0] - L'a');
        EXPECT_EQ(other.PickTip(s), std::wstring(1, static_cast<wchar_t>(L'x' + index)));
        seen.insert(pick);
    }
    EXPECT_EQ(seen.size(), 3u);

    // The clock form: two picks in the same second agree.
    for (int attempt = 0; attempt < 5; ++attempt) {
        std::time_t before = std::time(nullptr);
        std::wstring a = tips.PickTip(), b = tips.PickTip();
        if (std::time(nullptr) != before) continue;
        EXPECT_EQ(a, b);
        break;
    }
}

TEST(CMyTips, EmptyListAndReload) {
    DataFolder data;
    CMyTips tips("Data/jiese_tips.txt");
    EXPECT_EQ(tips.PickTip(), L"");
    data.Write("Data/jiese_tips.txt", "only tip\n");
    EXPECT_EQ(tips.PickTip(), L"");
    EXPECT_TRUE(tips.ReloadData());
    EXPECT_EQ(tips.PickTip(12345), L"only tip");
    EXPECT_EQ(tips.size(), tips.tips()->size());
}

TEST(BuildTipsText, FollowsTheTwoSwitches) {
    DataFolder data;
    data.Write("Data/jiese_tips.txt", "J1\n");
    data.Write("Data/xiu_shen_tips.txt", "X1\n");
    data.Write("Data/WebBottomTips.txt", "<div>ShareContent|ShareContent</div>");
    TipsStore store;
    EXPECT_EQ(BuildTipsText(store), "");

    ProxyConfig().Config().jieseTips = 1;
    EXPECT_EQ(BuildTipsText(store), "<div>J1|J1</div>");
    ProxyConfig().Config().jieseTips = 0;
    ProxyConfig().Config().xiuShenTips = 1;
    EXPECT_EQ(BuildTipsText(store), "<div>X1|X1</div>");
    ProxyConfig().Config().jieseTips = 1;
    std::set<std::string> seen;
    for (int i = 0; i < 400 && seen.size() < 2; ++i) {
        std::string text = BuildTipsText(store);
        EXPECT_TRUE(text == "<div>J1|J1</div>" || text == "<div>X1|X1</div>") << text;
        seen.insert(text);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(seen.size(), 2u) << "both lists should be drawn from over time";

    // The bottom-tips page is read for every tip.
    data.Write("Data/WebBottomTips.txt", "<p>ShareContent</p>");
    ProxyConfig().Config().jieseTips = 0;
    EXPECT_EQ(BuildTipsText(store), "<p>X1</p>");
}

TEST(BuildTipsText, EmptyListRemovesThePlaceholder) {
    DataFolder data;
    data.Write("Data/WebBottomTips.txt", "<div>[ShareContent]</div>");
    ProxyConfig().Config().xiuShenTips = 1;
    TipsStore store;
    EXPECT_EQ(BuildTipsText(store), "<div>[]</div>");
}

TEST(InjectPage, OrderAndEncodingOfTheInsertedTexts) {
    DataFolder data;
    data.Write("Data/jiese_tips.txt", "少上网\n");
    data.Write("Data/WebBottomTips.txt", "<t>ShareContent</t>");
    data.Write("Data/Control.html", "<c>控制</c>");
    data.Write("Data/Inject.zelk", "<s>var zelk_data={};</s>");
    ProxyConfig().Config().jieseTips = 1;
    ProxyConfig().Config().showControl = 1;
    TipsStore store;

    std::string utf8 = "<html><head></head><body></body></html>";
    InjectPage(utf8, true, store);
    EXPECT_EQ(utf8, "<html><head><t>少上网</t><c>控制</c><s>var zelk_data={};</s></head><body></body></html>");

    std::string gbk = "<html><body></body></html>";
    InjectPage(gbk, false, store);
    EXPECT_EQ(gbk, "<html><body>" + Gbk(L"<t>少上网</t><c>控制</c>") + "<s>var zelk_data={};</s></body></html>");

    ProxyConfig().Config().showControl = 0;
    ProxyConfig().Config().jieseTips = 0;
    std::string plain = "<body></body>";
    InjectPage(plain, true, store);
    EXPECT_EQ(plain, "<body><s>var zelk_data={};</s></body>");

    std::string none = "<p>no closing tag</p>";
    InjectPage(none, true, store);
    EXPECT_EQ(none, "<p>no closing tag</p>");
}

TEST(TipsStore, InjectAndControlAreReadOnceUntilForgotten) {
    DataFolder data;
    data.Write("Data/Inject.zelk", "<s>one</s>");
    auto first = TipsStore::Ensure();
    ASSERT_TRUE(first);
    data.Write("Data/Inject.zelk", "<s>two</s>");
    EXPECT_EQ(TipsStore::Ensure(), first);
    std::string page = "</head>";
    InjectPage(page, false);
    EXPECT_EQ(page, "<s>one</s></head>");
    TipsStore::Forget();
    page = "</head>";
    InjectPage(page, false);
    EXPECT_EQ(page, "<s>two</s></head>");
    EXPECT_EQ(first->injectText, "<s>one</s>");  // a holder keeps its store
}

TEST(TipsStore, ConcurrencyOfFirstCreation) {
    DataFolder data;
    data.Write("Data/Inject.zelk", "<s>x</s>");
    std::vector<std::shared_ptr<const TipsStore>> got(8);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < got.size(); ++i) threads.emplace_back([&got, i] { got[i] = TipsStore::Ensure(); });
    for (auto& t : threads) t.join();
    for (const auto& s : got) {
        ASSERT_TRUE(s);
        EXPECT_EQ(s, got[0]);
    }
    EXPECT_EQ(got[0]->injectText, "<s>x</s>");
}

TEST(CMyTips, ConcurrencyOfReloadAndPicks) {
    DataFolder data;
    data.Write("Data/jiese_tips.txt", "a\nb\n");
    CMyTips tips("Data/jiese_tips.txt");
    std::atomic<bool> stop{false};
    std::atomic<int> wrong{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 3; ++t)
        readers.emplace_back([&] {
            for (std::time_t s = 0; !stop.load(); ++s) {
                std::wstring tip = tips.PickTip(s);
                if (tip != L"a" && tip != L"b" && tip != L"c") ++wrong;
            }
        });
    for (int i = 0; i < 200; ++i) {
        data.Write("Data/jiese_tips.txt", i % 2 ? "a\nb\n" : "c\n");
        tips.ReloadData();
    }
    stop = true;
    for (auto& r : readers) r.join();
    EXPECT_EQ(wrong.load(), 0);
}
