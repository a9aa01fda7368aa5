#include <gtest/gtest.h>

#include <memory>

#include "GzipTestSupport.h"
#include "http/CGZIP.h"

using namespace gziptest;

TEST(DecodeGzipBody, InflatesAPage) {
    std::string page = "<html><head><title>t</title></head><body>" + PageLike(5000, 1) + "</body></html>";
    std::string body = Gzip(page);
    EXPECT_EQ(DecodeGzipBody(body), 0);
    EXPECT_EQ(body, page);
}

TEST(DecodeGzipBody, BombIsCutAtEighteenTimesTheCompressedSize) {
    std::string body = Gzip(std::string(1 << 20, 'a'));
    const size_t compressed = body.size();
    ASSERT_LT(compressed * 100, size_t(1) << 20);
    EXPECT_EQ(DecodeGzipBody(body), 0);
    EXPECT_EQ(body, std::string(18 * compressed, 'a'));
}

TEST(DecodeGzipBody, OutputStopsAtTheLimitWhicheverBoundIsSmaller) {
    // A bomb far beyond the limit: cut at the limit, not at 18x.
    std::string bomb = Gzip(std::string(1 << 22, 'b'));
    ASSERT_GT(18 * bomb.size(), 50000u);
    std::string body = bomb;
    EXPECT_EQ(DecodeGzipBody(body, 50000), 0);
    EXPECT_EQ(body, std::string(50000, 'b'));
    // A page exactly as long as the limit, and one byte over it.
    std::string page = PageLike(30000, 7);
    body = Gzip(page);
    EXPECT_EQ(DecodeGzipBody(body, page.size()), 0);
    EXPECT_EQ(body, page);
    body = Gzip(page);
    EXPECT_EQ(DecodeGzipBody(body, page.size() - 1), 0);
    EXPECT_EQ(body, page.substr(0, page.size() - 1));
    // A limit above 18x leaves the 18x bound in force.
    body = bomb;
    EXPECT_EQ(DecodeGzipBody(body, size_t(1) << 30), 0);
    EXPECT_EQ(body.size(), 18 * bomb.size());
    // Through the processor.
    body = bomb;
    EXPECT_TRUE(CGZIP(5000).Process(body));
    EXPECT_EQ(body, std::string(5000, 'b'));
}

TEST(DecodeGzipBody, KeepsZeroBytes) {
    std::string page("before\0after", 12);
    page += std::string(3, '\0');
    std::string body = Gzip(page);
    EXPECT_EQ(DecodeGzipBody(body), 0);
    EXPECT_EQ(body, page);
}

TEST(DecodeGzipBody, TwoMembersGiveTheFirstOnly) {
    std::string body = Gzip("first member ") + Gzip("second member");
    EXPECT_EQ(DecodeGzipBody(body), 0);
    EXPECT_EQ(body, "first member ");
}

TEST(DecodeGzipBody, RefusedInputStaysUnchanged) {
    std::string zlib = ZlibWrapped("a page compressed with the zlib wrapper");
    ASSERT_EQ(static_cast<unsigned char>(zlib[0]), 0x78);
    std::string body = zlib;
    EXPECT_EQ(DecodeGzipBody(body), -1);
    EXPECT_EQ(body, zlib);

    std::string plain = "<html>not compressed</html>";
    body = plain;
    EXPECT_EQ(DecodeGzipBody(body), -1);
    EXPECT_EQ(body, plain);

    body.clear();
    EXPECT_EQ(DecodeGzipBody(body), -1);
    EXPECT_TRUE(body.empty());
}

TEST(DecodeGzipBody, StreamCutShortKeepsWhatWasDecoded) {
    std::string page = PageLike(20000, 2);
    std::string body = Gzip(page);
    body.resize(body.size() / 2);
    EXPECT_EQ(DecodeGzipBody(body), 0);
    ASSERT_GT(body.size(), 0u);
    ASSERT_LT(body.size(), page.size());
    EXPECT_EQ(body, page.substr(0, body.size()));
}

TEST(CGZIP, ProcessThroughTheBaseReportsTheOutcome) {
    std::unique_ptr<CHTMLParser> gzip = std::make_unique<CGZIP>();
    std::string body = Gzip("hello");
    EXPECT_TRUE(gzip->Process(body));
    EXPECT_EQ(body, "hello");
    body = "not gzip";
    EXPECT_FALSE(gzip->Process(body));
    EXPECT_EQ(body, "not gzip");
}
