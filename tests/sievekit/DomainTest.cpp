// Domain lists: which hosts an entry covers, and the verdict and flags that
// CDomainManager::Exists leaves in a request's DomainStruct.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "sievekit/CDomainManager.h"
#include "sievekit/IDomain.h"
#include "support/TempFolder.h"

using testsupport::TempFolder;

namespace {

DomainStruct Request(const char* host, const char* referer = "", const char* url = "/") {
    DomainStruct d;
    std::memset(&d, 0, sizeof d);
    std::strncpy(d.host, host, sizeof d.host - 1);
    std::strncpy(d.refererDomain, referer, sizeof d.refererDomain - 1);
    std::strncpy(d.url, url, sizeof d.url - 1);
    return d;
}

}  // namespace

TEST(DomainSuffixMatching, EntryCoversItselfAndItsSubdomainsOnly) {
    TempFolder dir(true);
    dir.Write("Data/user_black.txt",
              "Example.com\r\n# hidden.com\n\n  padded.cn  \n.dotted.net\nsub.test.org\nexample.com\n");
    CUserBlackDomain list;

    for (const char* host : {"example.com", "www.example.com", "a.b.example.com", "EXAMPLE.COM", "Www.Example.Com",
                             "padded.cn", "x.padded.cn", "dotted.net", "m.dotted.net", "sub.test.org",
                             "deep.sub.test.org"})
        EXPECT_TRUE(list.MatchesHost(host)) << host;
    for (const char* host : {"notexample.com", "example.com.evil.net", "example.co", "com", "", "test.org",
                             "xsub.test.org", "hidden.com", "net"})
        EXPECT_FALSE(list.MatchesHost(host)) << host;
}

class DomainVerdict : public ::testing::Test {
protected:
    void SetUp() override {
        dir_.Write("Data/black_domains.txt", "bad.com\nboth.com\npics.cn\n");
        dir_.Write("Data/white_domains.txt", "good.org\n");
        dir_.Write("Data/user_black.txt", "userbad.net\n");
        dir_.Write("Data/user_white.txt", "# trusted\nboth.com\n");
        dir_.Write("Data/user_noimage.txt", "pics.cn\nphotos.net\n");
        dir_.Write("Data/manual_image.txt", "/ads/banner\n# /never\n");
    }
    TempFolder dir_{true};
};

TEST_F(DomainVerdict, BlackListsBlockWithTheBlockPage) {
    CDomainManager manager;
    for (const char* host : {"bad.com", "x.bad.com", "userbad.net", "Cdn.UserBad.Net"}) {
        DomainStruct d = Request(host);
        EXPECT_TRUE(manager.Exists(d)) << host;
        EXPECT_TRUE(d.blockPage) << host;
        EXPECT_FALSE(d.white || d.emptyImage || d.noImageMark) << host;
    }
}

TEST_F(DomainVerdict, UnlistedHostPassesAndStaleFlagsAreCleared) {
    CDomainManager manager;
    // The URL and the referrer name a black-listed site: only the host counts.
    DomainStruct d = Request("neutral.com", "bad.com", "http://neutral.com/?next=bad.com");
    d.noImageMark = d.white = d.emptyImage = true;
    EXPECT_FALSE(manager.Exists(d));
    EXPECT_FALSE(d.noImageMark);
    EXPECT_FALSE(d.white);
    EXPECT_FALSE(d.emptyImage);
    EXPECT_FALSE(d.blockPage);
}

TEST_F(DomainVerdict, WhiteListBeatsBlackListAndManualImageFilter) {
    CDomainManager manager;
    DomainStruct both = Request("www.both.com");  // user white and product black
    EXPECT_FALSE(manager.Exists(both));
    EXPECT_TRUE(both.white);
    EXPECT_FALSE(both.blockPage);

    DomainStruct trusted = Request("good.org", "", "http://good.org/ads/banner.png");
    EXPECT_FALSE(manager.Exists(trusted));
    EXPECT_TRUE(trusted.white);
    EXPECT_FALSE(trusted.emptyImage);
}

TEST_F(DomainVerdict, ManualImageFilterAnswersWithTheEmptyImage) {
    CDomainManager manager;
    DomainStruct d = Request("neutral.com", "", "http://neutral.com/ads/banner.gif");
    EXPECT_TRUE(manager.Exists(d));
    EXPECT_TRUE(d.emptyImage);
    EXPECT_FALSE(d.blockPage);

    DomainStruct comment = Request("neutral.com", "", "http://neutral.com/never");
    EXPECT_FALSE(manager.Exists(comment));
    EXPECT_FALSE(comment.emptyImage);
}

TEST_F(DomainVerdict, NoImageMarkFromHostOrReferrerMainDomain) {
    CDomainManager manager;
    DomainStruct byHost = Request("img.photos.net");
    EXPECT_FALSE(manager.Exists(byHost));
    EXPECT_TRUE(byHost.noImageMark);

    DomainStruct byReferer = Request("cdn.elsewhere.com", "photos.net");
    EXPECT_FALSE(manager.Exists(byReferer));
    EXPECT_TRUE(byReferer.noImageMark);

    // The mark is independent of the verdict: a black-listed no-image site
    // is blocked and marked.
    DomainStruct blocked = Request("pics.cn");
    EXPECT_TRUE(manager.Exists(blocked));
    EXPECT_TRUE(blocked.noImageMark);
    EXPECT_TRUE(blocked.blockPage);
}

TEST_F(DomainVerdict, ReloadUserDataTakesUpAnEditStoredBySomeoneElse) {
    CDomainManager manager;
    DomainStruct d = Request("fresh.io");
    ASSERT_FALSE(manager.Exists(d));

    CUserBlackDomain editor;
    editor.Readonly(0);
    editor.ReloadData();
    ASSERT_TRUE(editor.add(L"fresh.io"));
    ASSERT_TRUE(editor.Save());
    EXPECT_FALSE(manager.Exists(d));  // the manager keeps its view until told
    manager.ReloadUserData();
    EXPECT_TRUE(manager.Exists(d));

    dir_.Write("Data/user_black.txt", "");
    dir_.Write("Data/user_white.txt", "");
    manager.ReloadUserData();
    d = Request("fresh.io");
    EXPECT_FALSE(manager.Exists(d));
    DomainStruct both = Request("both.com");  // now only the product black list names it
    EXPECT_TRUE(manager.Exists(both));
    EXPECT_FALSE(both.white);
}

TEST(DomainVerdictFiles, NoListFilesBlocksNothing) {
    TempFolder dir(true);
    CDomainManager manager;
    DomainStruct d = Request("anything.com", "other.com", "http://anything.com/ads/banner");
    EXPECT_FALSE(manager.Exists(d));
    EXPECT_FALSE(d.white || d.emptyImage || d.noImageMark || d.blockPage);
}
