#include "http/CChunk.h"

#include <gtest/gtest.h>

namespace {
std::string Dechunk(std::string body) {
    CChunk chunk;
    EXPECT_TRUE(chunk.Process(body));
    return body;
}
}  // namespace

TEST(CChunk, DecodesChunksAndStopsAtTheLastOne) {
    EXPECT_EQ(Dechunk("5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n"), "hello world");
    EXPECT_EQ(Dechunk("5\r\nhello\r\n0\r\nTrailer: x\r\n\r\n5\r\nlater\r\n"), "hello");
    EXPECT_EQ(Dechunk(""), "");
}

TEST(CChunk, SizeLineForms) {
    EXPECT_EQ(Dechunk("5;x=1\r\nhello\r\n0\r\n\r\n"), "hello");
    EXPECT_EQ(Dechunk("A\r\n0123456789\r\na\r\nabcdefghij\r\n0\r\n\r\n"), "0123456789abcdefghij");
    EXPECT_EQ(Dechunk("  0x5\r\nhello\r\n0\r\n\r\n"), "hello");
    EXPECT_EQ(Dechunk("+3\r\nabc\r\n0\r\n\r\n"), "abc");
    // Long lines: many leading zeros, a long extension.
    EXPECT_EQ(Dechunk("0000000000000005\r\nhello\r\n0\r\n\r\n"), "hello");
    EXPECT_EQ(Dechunk("3;" + std::string(5000, 'e') + "\r\nabc\r\n0\r\n\r\n"), "abc");
}

TEST(CChunk, BodyThatIsNotChunkedBecomesEmpty) {
    EXPECT_EQ(Dechunk("<html><body>hi</body></html>\r\n"), "");
    EXPECT_EQ(Dechunk("<html>"), "");
}

TEST(CChunk, CutShortOrBrokenNeverReadsPastTheInput) {
    EXPECT_EQ(Dechunk("5\r\nhello\r\n"), "hello");
    EXPECT_EQ(Dechunk("5\r\nhello"), "hello");
    EXPECT_EQ(Dechunk("5\r\nhel"), "hel");
    EXPECT_EQ(Dechunk("5\r\nhello\r"), "hello");
    EXPECT_EQ(Dechunk("5\r\nhello\r\n6\r\n wo"), "hello wo");
    EXPECT_EQ(Dechunk("FFFFFFFFFFFFFFFFFFFF\r\nabc"), "abc");
    EXPECT_EQ(Dechunk("7fffffff\r\nabc"), "abc");
    EXPECT_EQ(Dechunk("-5\r\nhello\r\n0\r\n\r\n"), "");
    EXPECT_EQ(Dechunk("3\r\nabc\r\n-1\r\nxyz\r\n"), "abc");
    EXPECT_EQ(Dechunk("5"), "");
    // The two bytes after the data are skipped unread, whatever they are.
    EXPECT_EQ(Dechunk("3\r\nabcXY2\r\nde\r\n0\r\n\r\n"), "abcde");
}

TEST(CChunk, DripFedPrefixesAlwaysDecodeToAPrefix) {
    const std::string full = "4\r\nWiki\r\n6\r\npedia \r\nE\r\nin \r\n\r\nchunks.\r\n0\r\n\r\n";
    const std::string decoded = "Wikipedia in \r\n\r\nchunks.";
    EXPECT_EQ(DecodeChunks(full), decoded);
    for (size_t len = 0; len <= full.size(); ++len) {
        std::string part = DecodeChunks(std::string_view(full).substr(0, len));
        EXPECT_EQ(part, decoded.substr(0, part.size())) << "prefix length " << len;
    }
}
