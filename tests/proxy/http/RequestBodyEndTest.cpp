#include "http/RequestBodyEnd.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Feeds `bytes` in pieces cut at `cuts`; how many belonged to the body.
size_t Feed(RequestBodyEnd& end, const std::string& bytes, const std::vector<size_t>& cuts) {
    size_t taken = 0, pos = 0;
    for (size_t i = 0; i <= cuts.size(); ++i) {
        size_t to = i < cuts.size() ? cuts[i] : bytes.size();
        taken += end.Take(std::string_view(bytes).substr(pos, to - pos));
        pos = to;
    }
    return taken;
}

}  // namespace

TEST(RequestFraming, ReadsTheLengthHeadersAsAnOriginDoes) {
    auto frame = [](const std::string& headers) { return FrameRequest("POST / HTTP/1.1\r\n" + headers + "\r\n"); };
    EXPECT_EQ(frame("").body, RequestBody::None);
    EXPECT_EQ(frame("X-Content-Length: 5\r\n").body, RequestBody::None);
    RequestFraming length = frame("CONTENT-LENGTH:  12 \r\nContent-Length: 12\r\n");
    EXPECT_EQ(length.body, RequestBody::Length);
    EXPECT_EQ(length.length, 12);
    EXPECT_EQ(frame("Transfer-Encoding: gzip, chunked\r\n").body, RequestBody::Chunked);
    for (const std::string conflicting :
         {"Content-Length: 1\r\nTransfer-Encoding: chunked\r\n", "Content-Length: 1\r\ncontent-length: 2\r\n",
          "Content-Length: \r\n", "Content-Length: +1\r\n", "Content-Length: 99999999999999999999\r\n"})
        EXPECT_EQ(frame(conflicting).body, RequestBody::Conflicting) << conflicting;
}

// Wherever a chunked body is cut, its end is found at the same byte, and the
// bytes after it are not taken.
TEST(RequestBodyEnd, ChunkedBodyEndsAtItsLastChunkWhereverItIsCut) {
    const std::string body = "4;name=v\r\nwiki\r\nA\r\n0123456789\r\n0\r\nTrailer: x\r\n\r\n";
    const std::string bytes = body + "GET / HTTP/1.1\r\n\r\n";
    const RequestFraming chunked{RequestBody::Chunked, 0};
    std::vector<size_t> everyByte;
    for (size_t cut = 1; cut < bytes.size(); ++cut) {
        RequestBodyEnd end(chunked);
        EXPECT_EQ(Feed(end, bytes, {cut}), body.size()) << cut;
        EXPECT_TRUE(end.Complete());
        everyByte.push_back(cut);
    }
    RequestBodyEnd end(chunked);
    EXPECT_EQ(Feed(end, bytes, everyByte), body.size());
    EXPECT_TRUE(end.Complete());

    RequestBodyEnd unfinished(chunked);
    EXPECT_EQ(unfinished.Take("5\r\nhel"), 6u);
    EXPECT_FALSE(unfinished.Complete());
    EXPECT_EQ(unfinished.KnownRemaining(), -1);

    for (const std::string& broken : std::vector<std::string>{"zz\r\n", "3\r\nabcX\r\n", std::string(5000, '1')}) {
        RequestBodyEnd bad(chunked);
        bad.Take(broken + "\r\n");
        EXPECT_TRUE(bad.Failed()) << broken.substr(0, 10);
        EXPECT_EQ(bad.Take("0\r\n\r\n"), 0u);
    }
}

TEST(RequestBodyEnd, LengthBodyTakesExactlyItsBytes) {
    RequestBodyEnd end(RequestFraming{RequestBody::Length, 10});
    EXPECT_EQ(end.Take("abcd"), 4u);
    EXPECT_EQ(end.KnownRemaining(), 6);
    EXPECT_EQ(end.Take("efghijGET"), 6u);
    EXPECT_TRUE(end.Complete());
    EXPECT_EQ(end.Take("more"), 0u);
    RequestBodyEnd none(RequestFraming{RequestBody::None, 0});
    EXPECT_TRUE(none.Complete());
    EXPECT_EQ(none.Take("GET"), 0u);
}
