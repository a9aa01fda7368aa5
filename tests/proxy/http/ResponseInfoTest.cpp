#include "http/ResponseInfo.h"

#include <gtest/gtest.h>

namespace {
ResponseInfo Take(const std::string& response) {
    ResponseInfo info;
    info.TakeHeaderBlock(response);
    return info;
}
}  // namespace

TEST(ResponseInfo, ClassifiesAnHtmlResponse) {
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: 1234\r\n\r\n";
    ResponseInfo info = Take(head + "<html>body</html>");
    EXPECT_TRUE(info.isHtml);
    EXPECT_FALSE(info.isImage);
    EXPECT_FALSE(info.isVideo);
    EXPECT_FALSE(info.chunked);
    EXPECT_EQ(info.contentLength, 1234);
    EXPECT_EQ(info.headerLength, 81);
    EXPECT_EQ(info.header, head);
}

TEST(ResponseInfo, TypesAreFoundByExactText) {
    EXPECT_TRUE(Take("HTTP/1.1 404 Not Found\r\nContent-Type: text/html\r\n\r\n").isHtml);
    EXPECT_TRUE(Take("HTTP/1.1 200 OK\r\nVary: text/html\r\nContent-Type: application/json\r\n\r\n").isHtml);
    EXPECT_FALSE(Take("HTTP/1.1 200 OK\r\nContent-Type:text/html\r\n\r\n").isHtml);
    EXPECT_TRUE(Take("HTTP/1.1 200 OK\r\nContent-Type: image/png\r\n\r\n").isImage);
    EXPECT_FALSE(Take("HTTP/1.1 200 OK\r\ncontent-type: image/png\r\n\r\n").isImage);
    EXPECT_TRUE(Take("HTTP/1.1 200 OK\r\nContent-Type: video/mp4\r\n\r\n").isVideo);
    EXPECT_TRUE(Take("HTTP/1.1 200 OK\r\nContent-Type: application/x-shockwave-flash\r\n\r\n").isVideo);
    EXPECT_FALSE(Take("HTTP/1.1 200 OK\r\ncontent-type: video/mp4\r\n\r\n").isVideo);
    // Only the header block is searched.
    EXPECT_FALSE(Take("HTTP/1.1 200 OK\r\n\r\nContent-Type: image/png\r\n").isImage);
}

TEST(ResponseInfo, ChunkedOnlyWithTheExactValue) {
    EXPECT_TRUE(Take("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n").chunked);
    EXPECT_FALSE(Take("HTTP/1.1 200 OK\r\nTransfer-Encoding: Chunked\r\n\r\n").chunked);
    EXPECT_FALSE(Take("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked;q=1\r\n\r\n").chunked);
    EXPECT_FALSE(Take("HTTP/1.1 200 OK\r\ntransfer-encoding: chunked\r\n\r\n").chunked);
}

TEST(ResponseInfo, ContentLengthReadings) {
    EXPECT_EQ(Take("HTTP/1.1 200 OK\r\nServer: x\r\n\r\n").contentLength, -1);
    EXPECT_EQ(Take("HTTP/1.1 200 OK\r\nContent-Length: abc\r\n\r\n").contentLength, 0);
    EXPECT_EQ(Take("HTTP/1.1 200 OK\r\nContent-Length:  42xyz\r\n\r\n").contentLength, 42);
    EXPECT_EQ(Take("HTTP/1.1 200 OK\r\nContent-Length: 7\r\nContent-Length: 9\r\n\r\n").contentLength, 7);
    EXPECT_EQ(Take("HTTP/1.1 200 OK\r\nContent-Length: 99999999999\r\n\r\n").contentLength, INT32_MAX);
    // Without the end of the header block nothing is taken.
    ResponseInfo partial = Take("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n");
    EXPECT_EQ(partial.headerLength, 0);
    EXPECT_EQ(partial.contentLength, 0);
    EXPECT_TRUE(partial.header.empty());
}

TEST(ResponseInfo, SetContentLengthReplacesOrInserts) {
    ResponseInfo info = Take("HTTP/1.1 200 OK\r\nServer: s\r\nContent-Length: 1234\r\nX: y\r\n\r\n");
    info.SetContentLength(0);
    EXPECT_EQ(info.header, "HTTP/1.1 200 OK\r\nServer: s\r\nContent-Length: 0\r\nX: y\r\n\r\n");
    EXPECT_EQ(info.contentLength, 0);
    info.SetContentLength(987654);
    EXPECT_EQ(info.header, "HTTP/1.1 200 OK\r\nServer: s\r\nContent-Length: 987654\r\nX: y\r\n\r\n");
    EXPECT_EQ(info.contentLength, 987654);

    ResponseInfo none = Take("HTTP/1.1 200 OK\r\nServer: s\r\n\r\n");
    none.SetContentLength(0);
    EXPECT_EQ(none.header, "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nServer: s\r\n\r\n");
    EXPECT_EQ(none.contentLength, 0);

    ResponseInfo empty;
    empty.SetContentLength(5);
    EXPECT_TRUE(empty.header.empty());
    EXPECT_EQ(empty.contentLength, -1);
}

TEST(ResponseInfo, MarkEncodingsNone) {
    ResponseInfo info = Take(
        "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nTransfer-Encoding: chunked\r\nContent-Type: text/html\r\n\r\n");
    info.MarkContentEncodingNone();
    info.MarkTransferEncodingNone();
    EXPECT_EQ(info.header,
              "HTTP/1.1 200 OK\r\nContent-Encoding: none\r\nTransfer-Encoding: none\r\nContent-Type: text/html\r\n\r\n");

    const std::string plain = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n";
    ResponseInfo other = Take(plain);
    other.MarkContentEncodingNone();
    other.MarkTransferEncodingNone();
    EXPECT_EQ(other.header, plain);
}
