// The request-line helpers of the local web server on exact bytes.
#include <gtest/gtest.h>

#include <string>

#include "web/RequestPath.h"

namespace {

std::string Line(const std::string& first) { return first + "\r\nHost: 127.0.0.1\r\n\r\n"; }

}  // namespace

TEST(ParseRequestPathTest, TakesTheTargetOfGetAndPostLinesAlike) {
    EXPECT_EQ(ParseRequestPath(Line("GET /index.html HTTP/1.1")), "/index.html");
    EXPECT_EQ(ParseRequestPath(Line("POST /index.html HTTP/1.1")), "/index.html");
    EXPECT_EQ(ParseRequestPath(Line("GET /a.black?url=x.com HTTP/1.0")), "/a.black?url=x.com");
    // A proxy-style absolute target keeps its path from the first slash on,
    // which is the scheme's double slash.
    EXPECT_EQ(ParseRequestPath(Line("GET http://h/p.html HTTP/1.1")), "//h/p.html");
    // The method may sit anywhere in the line, the protocol mark too.
    EXPECT_EQ(ParseRequestPath(Line("XGET /p.html HTTP/1.1")), "/p.html");
}

TEST(ParseRequestPathTest, LinesThatDoNotQualifyGiveNoPath) {
    EXPECT_EQ(ParseRequestPath("GET /index.html HTTP/1.1"), "") << "no CR LF";
    EXPECT_EQ(ParseRequestPath("GET /index.html HTTP/1.1\n\n"), "") << "bare line feeds";
    EXPECT_EQ(ParseRequestPath(Line("PUT /index.html HTTP/1.1")), "");
    EXPECT_EQ(ParseRequestPath(Line("get /index.html HTTP/1.1")), "") << "methods are matched exactly";
    EXPECT_EQ(ParseRequestPath(Line("GET /index.html")), "") << "no protocol";
    EXPECT_EQ(ParseRequestPath(Line("GET /index.html HTTP/2")), "");
    EXPECT_EQ(ParseRequestPath(Line("GET index.html HTTP/1.1")), "") << "no slash in the target";
    // The protocol mark before index 5 leaves no room for a target.
    EXPECT_EQ(ParseRequestPath(Line("GET HTTP/1.1")), "");
    EXPECT_EQ(ParseRequestPath(Line("POSTHTTP/1.1 /x")), "");
    EXPECT_EQ(ParseRequestPath(Line("GET  HTTP/1.1")), "");
    EXPECT_EQ(ParseRequestPath(""), "");
}

TEST(ParseRequestPathTest, FirstLineOf4096BytesOrMoreIsRefused) {
    std::string head = "GET /";
    std::string tail = " HTTP/1.1";
    std::string fits(4095 - head.size() - tail.size(), 'a');
    std::string path = ParseRequestPath(Line(head + fits + tail));
    EXPECT_EQ(path, "/" + fits);
    std::string tooLong(4096 - head.size() - tail.size(), 'a');
    EXPECT_EQ(ParseRequestPath(Line(head + tooLong + tail)), "");
}

TEST(ParseRequestPathTest, BytesAfterTheGivenLengthAreNeverRead) {
    // A view over part of a buffer: the CR LF lies beyond it.
    std::string bytes = "GET /a.html HTTP/1.1\r\n";
    EXPECT_EQ(ParseRequestPath(std::string_view(bytes.data(), bytes.size() - 2)), "");
    // Zero bytes inside the line do not end it.
    std::string withZero("GET /a\0b.html HTTP/1.1\r\n", 24);
    EXPECT_EQ(ParseRequestPath(withZero), std::string("/a\0b.html", 9));
}

TEST(SuffixAndParameterTest, SuffixRunsFromTheFirstDotToTheQuery) {
    auto c = SplitSuffixAndParameter("/cmd.black?url=bad.example");
    EXPECT_EQ(c.suffix, ".black");
    EXPECT_TRUE(c.hasParameter);
    EXPECT_EQ(c.parameter, "bad.example");

    c = SplitSuffixAndParameter("/x.close");
    EXPECT_EQ(c.suffix, ".close");
    EXPECT_FALSE(c.hasParameter);

    c = SplitSuffixAndParameter("/jquery.min.js");
    EXPECT_EQ(c.suffix, ".min.js");

    c = SplitSuffixAndParameter("/noext");
    EXPECT_EQ(c.suffix, "");
    EXPECT_FALSE(c.hasParameter);

    // A "?" before the first dot is not the command's query.
    c = SplitSuffixAndParameter("/a?url=b.com");
    EXPECT_EQ(c.suffix, ".com");
    EXPECT_FALSE(c.hasParameter);
}

TEST(SuffixAndParameterTest, ParameterSkipsTheQuestionMarkAndFourCharacters) {
    EXPECT_EQ(SplitSuffixAndParameter("/a.noimg?url=h").parameter, "h");
    EXPECT_EQ(SplitSuffixAndParameter("/a.noimg?abcdefg").parameter, "efg");
    auto c = SplitSuffixAndParameter("/a.noimg?url=");
    EXPECT_TRUE(c.hasParameter);
    EXPECT_EQ(c.parameter, "");
    c = SplitSuffixAndParameter("/a.noimg?ur");
    EXPECT_TRUE(c.hasParameter);
    EXPECT_EQ(c.parameter, "");
    c = SplitSuffixAndParameter("/a.noimg?");
    EXPECT_TRUE(c.hasParameter);
    EXPECT_EQ(c.parameter, "");
}

TEST(SuffixAndParameterTest, LowerAsciiLeavesOtherBytes) {
    std::string s = ".BlAcK\xC4\xE3";
    LowerAscii(s);
    EXPECT_EQ(s, ".black\xC4\xE3");
}

TEST(MimeTypeForTest, TableInItsOrder) {
    EXPECT_STREQ(MimeTypeFor(""), "text/html");
    EXPECT_STREQ(MimeTypeFor(".bmp"), "application/x-bmp");
    EXPECT_STREQ(MimeTypeFor(".png"), "image/png");
    EXPECT_STREQ(MimeTypeFor(".jpg"), "image/jpeg");
    EXPECT_STREQ(MimeTypeFor(".jpeg"), "image/jpeg");
    EXPECT_STREQ(MimeTypeFor(".htm"), "text/html");
    EXPECT_STREQ(MimeTypeFor(".html"), "text/html");
    EXPECT_STREQ(MimeTypeFor(".page.html"), "text/html") << "containing .htm anywhere";
    EXPECT_STREQ(MimeTypeFor(".css"), "text/css");
    EXPECT_STREQ(MimeTypeFor(".js"), "application/x-javascript");
    EXPECT_STREQ(MimeTypeFor(".min.js"), "application/octet-stream");
    EXPECT_STREQ(MimeTypeFor(".png.bak"), "application/octet-stream") << "only equal suffixes count";
    EXPECT_STREQ(MimeTypeFor(".gif"), "application/octet-stream");
}

TEST(LeavesPageFolderTest, DotDotSegmentsPlainOrEncodedAreRefused) {
    for (const char* path : {"/../Data/config.ini", "/..", "/a/../../x", "/%2e%2e/Data/config.ini",
                             "/%2E%2E/x", "/.%2e/x", "/%2e./x", "/..%2fData%2fconfig.ini", "/..%5cx", "/..\\Data",
                             "/a\\..\\..\\x", "/page.html?u=/../x"}) {
        EXPECT_TRUE(LeavesPageFolder(path)) << path;
    }
    EXPECT_TRUE(LeavesPageFolder(std::string("/a\0/../x", 8)));
    EXPECT_TRUE(LeavesPageFolder("/a%00.html"));
}

TEST(LeavesPageFolderTest, DotsInsideNamesAreFine) {
    for (const char* path : {"/index.html", "/a..b.html", "/...", "/.hidden", "/a/./b.html", "/%2e", "/%zz..",
                             "/x.black?url=a..b", "", "/", "/%"}) {
        EXPECT_FALSE(LeavesPageFolder(path)) << path;
    }
}
