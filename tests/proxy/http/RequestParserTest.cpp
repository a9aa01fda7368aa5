#include "http/RequestParser.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

namespace {

struct Result {
    RequestInfo info;
    int32_t contentLength = 0;
    std::string forwarded;
};

// The worker's calling order: Parse, read contentLength, Rewrite.
Result Forward(const std::string& request, RequestInfo start = {}) {
    Result r;
    r.info = std::move(start);
    RequestParser parser;
    parser.Parse(request, &r.info);
    r.contentLength = parser.contentLength;
    r.forwarded = request;
    parser.Rewrite(r.forwarded);
    return r;
}

TEST(RequestParserRewrite, UpgradesHttp10AndForcesCloseAndGzip) {
    Result r = Forward(
        "GET http://example.com/x HTTP/1.0\r\n"
        "Host: example.com\r\n"
        "Proxy-Connection: keep-alive\r\n"
        "Accept-Encoding: gzip, deflate, br\r\n"
        "\r\n");
    EXPECT_EQ(r.forwarded,
              "GET /x HTTP/1.1\r\n"
              "Host: example.com\r\n"
              "Connection: close\r\n"
              "Accept-Encoding: gzip\r\n"
              "\r\n");
    EXPECT_EQ(r.info.method, "GET");
    EXPECT_EQ(r.info.url, "http://example.com/x");
    EXPECT_EQ(r.info.version, "HTTP/1.0");
    EXPECT_EQ(r.info.host, "example.com");
    EXPECT_EQ(r.info.port, 80u);
    EXPECT_EQ(r.info.path, "/x");
    EXPECT_EQ(r.contentLength, -1);
}

// The proxy's credentials never reach the origin, in any letter case and
// under no other name.
TEST(RequestParserRewrite, ProxyAuthorizationIsDropped) {
    Result r = Forward(
        "GET http://example.com/ HTTP/1.1\r\n"
        "Proxy-Connection: keep-alive\r\n"
        "Proxy-Authorization: Basic dXNlcjpwYXNz\r\n"
        "Connection: keep-alive\r\n"
        "proxy-authorization: Basic c2Vjb25k\r\n"
        "Authorization: Bearer own\r\n"
        "\r\n");
    EXPECT_EQ(r.forwarded,
              "GET / HTTP/1.1\r\n"
              "Connection: close\r\n"
              "Connection: keep-alive\r\n"  // an existing Connection header stays where it is
              "Authorization: Bearer own\r\n"  // the browser's own credentials for the site stay
              "\r\n");
}

// The Host header names the host the checks were made for: one naming
// another host, or a second one, is replaced by the target's host and port.
TEST(RequestParserRewrite, HostHeaderNamesTheTargetHost) {
    EXPECT_EQ(Forward("GET http://allowed.example/x HTTP/1.1\r\nHost: blocked.example\r\nAccept: */*\r\n\r\n").forwarded,
              "GET /x HTTP/1.1\r\nHost: allowed.example\r\nAccept: */*\r\n\r\n");
    EXPECT_EQ(Forward("GET http://allowed.example:8080/ HTTP/1.1\r\nA: 1\r\nhost: blocked.example:8080\r\n\r\n")
                  .forwarded,
              "GET / HTTP/1.1\r\nA: 1\r\nHost: allowed.example:8080\r\n\r\n");
    EXPECT_EQ(Forward("GET http://allowed.example/ HTTP/1.1\r\nHost: allowed.example\r\nHost: blocked.example\r\n\r\n")
                  .forwarded,
              "GET / HTTP/1.1\r\nHost: allowed.example\r\n\r\n");
    // The same host, in another letter case or with a port, is left as written.
    for (const std::string host : {"Allowed.Example", "allowed.example:80", " allowed.example"}) {
        const std::string request = "GET http://allowed.example/ HTTP/1.1\r\nHost:" + std::string(host[0] == ' ' ? "" : " ") +
                                    host + "\r\n\r\n";
        EXPECT_EQ(Forward(request).forwarded, "GET / HTTP/1.1" + request.substr(request.find("\r\n"))) << host;
    }
}

TEST(RequestParserRewrite, TargetWithoutPathGivesEmptyPath) {
    Result r = Forward("GET http://example.com HTTP/1.1\r\nHost: example.com\r\n\r\n");
    EXPECT_EQ(r.info.host, "example.com");
    EXPECT_EQ(r.info.path, "");
    EXPECT_EQ(r.forwarded, "GET  HTTP/1.1\r\nHost: example.com\r\n\r\n");
}

TEST(RequestParserRewrite, LowerCaseHeaderNamesAreNotRecognised) {
    const std::string request =
        "GET http://example.com/ HTTP/1.1\r\n"
        "proxy-connection: keep-alive\r\n"
        "accept-encoding: br\r\n"
        "content-length: 5\r\n"
        "\r\n";
    Result r = Forward(request);
    EXPECT_EQ(r.forwarded, "GET / HTTP/1.1\r\n" + request.substr(request.find("\r\n") + 2));
    EXPECT_EQ(r.contentLength, -1);
}

TEST(RequestParserRewrite, MalformedRequestLineKeepsRecordButStillRewritesProtocol) {
    RequestInfo before;
    before.host = "kept";
    before.method = "KEPT";
    // A blank inside the target, and a doubled blank: neither is three words.
    for (const std::string line : {"GET /a b HTTP/1.0", "GET  /a HTTP/1.0"}) {
        Result r = Forward(line + "\r\nHost: kept\r\n\r\n", before);
        EXPECT_EQ(r.info.host, "kept") << line;
        EXPECT_EQ(r.info.method, "KEPT") << line;
        EXPECT_EQ(r.info.port, 80u) << line;
        // The line is rebuilt from the record passed to Parse: its method and path.
        EXPECT_EQ(r.forwarded, "KEPT  HTTP/1.1\r\nHost: kept\r\n\r\n") << line;
    }
    Result fresh = Forward("GET /a b HTTP/1.0\r\n\r\n");
    EXPECT_EQ(fresh.forwarded, "  HTTP/1.1\r\n\r\n");
}

TEST(RequestParserParse, TextWithoutLineEndIsNotRead) {
    RequestInfo info;
    RequestParser parser;
    parser.Parse("GET http://example.com/ HTTP/1.1", &info);
    EXPECT_EQ(info.host, "");
    EXPECT_EQ(info.method, "");
    EXPECT_EQ(parser.contentLength, 0);  // untouched until a line end is seen
}

TEST(RequestParserParse, ConnectAndSchemeTargets) {
    Result connect = Forward("CONNECT example.com:443 HTTP/1.1\r\nHost: example.com:443\r\n\r\n");
    EXPECT_EQ(connect.info.method, "CONNECT");
    EXPECT_EQ(connect.info.host, "example.com");
    EXPECT_EQ(connect.info.port, 443u);
    EXPECT_EQ(connect.info.path, "");

    // Only "http://" is removed: an https target yields the scheme as host.
    Result https = Forward("GET https://example.com/a HTTP/1.1\r\n\r\n");
    EXPECT_EQ(https.info.host, "https");
    EXPECT_EQ(https.info.port, 0u);
    EXPECT_EQ(https.info.path, "//example.com/a");

    Result port = Forward("GET http://example.com:8080/ HTTP/1.1\r\n\r\n");
    EXPECT_EQ(port.info.host, "example.com");
    EXPECT_EQ(port.info.port, 8080u);
    EXPECT_EQ(port.info.path, "/");
    EXPECT_EQ(port.forwarded, "GET / HTTP/1.1\r\n\r\n");

    Result query = Forward("GET http://example.com/a/b?c=1 HTTP/1.1\r\n\r\n");
    EXPECT_EQ(query.info.path, "/a/b?c=1");

    // The Host header is never consulted.
    Result origin = Forward("GET /only/path HTTP/1.1\r\nHost: example.com\r\n\r\n");
    EXPECT_EQ(origin.info.host, "");
    EXPECT_EQ(origin.info.path, "/only/path");
}

TEST(RequestParserParse, HeaderMapKeepsFirstLineAndValuesAsWritten) {
    RequestInfo info;
    RequestParser parser;
    parser.Parse(
        "GET http://h/ HTTP/1.1\r\n"
        "X-One:  padded \r\n"
        "X-One: second\r\n"
        "X-Colon: a: b\r\n"
        "NoSeparator\r\n"
        "\r\n",
        &info);
    EXPECT_EQ(parser.HeaderValue("X-One"), " padded ");
    EXPECT_EQ(parser.HeaderValue("X-Colon"), "");  // two ": " in the line: ignored
    EXPECT_EQ(parser.HeaderValue("x-one"), "");
    EXPECT_EQ(parser.HeaderValue("NoSeparator"), "");
}

TEST(RequestParserParse, RefererHost) {
    Result first = Forward(
        "GET http://h/ HTTP/1.1\r\n"
        "Referer: http://first.example/page?x=1\r\n"
        "Referer: http://second.example/\r\n\r\n");
    EXPECT_EQ(first.info.refererHost, "first.example");

    Result credentials = Forward("GET http://h/ HTTP/1.1\r\nReferer: http://u:p@ref.example:8080/a\r\n\r\n");
    EXPECT_EQ(credentials.info.refererHost, "ref.example");

    // A value holding ": " is not stored, so the Referer is ignored and the
    // field keeps what it had.
    RequestInfo before;
    before.refererHost = "previous";
    Result colon = Forward("GET http://h/ HTTP/1.1\r\nReferer: http://ref.example/?q=a: b\r\n\r\n", before);
    EXPECT_EQ(colon.info.refererHost, "previous");

    // An unreadable URL clears it.
    Result unreadable = Forward("GET http://h/ HTTP/1.1\r\nReferer: not a url\r\n\r\n", before);
    EXPECT_EQ(unreadable.info.refererHost, "");

    // Narrow text is code page 936: a GBK host survives the wide round trip.
    const std::string gbkHost = "\xC0\xFD\xD7\xD3.cn";
    Result gbk = Forward("GET http://h/ HTTP/1.1\r\nReferer: http://" + gbkHost + "/a\r\n\r\n");
    EXPECT_EQ(gbk.info.refererHost, gbkHost);
}

TEST(RequestParserContentLength, ReadsLeadingNumberAndSaturates) {
    struct Case {
        const char* value;
        int32_t expected;
    } cases[] = {
        {"0", 0},
        {"17", 17},
        {"  42abc", 42},
        {"abc", 0},
        {"-5", -5},
        {"2147483647", INT32_MAX},
        {"2147483648", INT32_MAX},
        {"4294967301", INT32_MAX},  // would wrap to 5 in 32 bits
        {"99999999999999999999", INT32_MAX},
        {"-99999999999", INT32_MIN},
    };
    for (const Case& c : cases) {
        Result r = Forward(std::string("POST http://h/ HTTP/1.1\r\nContent-Length: ") + c.value + "\r\n\r\n");
        EXPECT_EQ(r.contentLength, c.expected) << c.value;
    }
    Result none = Forward("POST http://h/ HTTP/1.1\r\nHost: h\r\n\r\n");
    EXPECT_EQ(none.contentLength, -1);
    Result firstWins = Forward("POST http://h/ HTTP/1.1\r\nContent-Length: 3\r\nContent-Length: 9\r\n\r\n");
    EXPECT_EQ(firstWins.contentLength, 3);
    // Only a header line counts, not a longer name that ends the same way.
    Result prefixed = Forward("POST http://h/ HTTP/1.1\r\nX-Content-Length: 9\r\n\r\n");
    EXPECT_EQ(prefixed.contentLength, -1);
}

// Body bytes that arrived with the header block: nothing in them is read or
// rewritten, whatever they look like.
TEST(RequestParserHeaderBlock, BodyIsForwardedExactlyAndNotRead) {
    const std::string body =
        "Proxy-x\r\n"
        "Proxy-Connection: keep-alive\r\n"
        "Accept-Encoding: br\r\n"
        "Content-Length: 99\r\n"
        "Referer: http://body.example/\r\n"
        "\r\nGET http://a/ HTTP/1.0\r\n";
    const std::string head =
        "POST http://example.com/upload HTTP/1.1\r\n"
        "Content-Length: 500\r\n"
        "\r\n";
    Result r = Forward(head + body);
    EXPECT_EQ(r.forwarded, "POST /upload HTTP/1.1\r\nContent-Length: 500\r\n\r\n" + body);
    EXPECT_EQ(r.contentLength, 500);
    EXPECT_EQ(r.info.refererHost, "");

    // With no Content-Length in the header block, one in the body is ignored.
    Result bodyOnly = Forward("POST http://h/ HTTP/1.1\r\nHost: h\r\n\r\nContent-Length: 12\r\n");
    EXPECT_EQ(bodyOnly.contentLength, -1);
    EXPECT_EQ(bodyOnly.forwarded, "POST / HTTP/1.1\r\nHost: h\r\n\r\nContent-Length: 12\r\n");
}

TEST(RequestParserHeaderBlock, ProxyPrefixOnlyRemovedAtLineStart) {
    Result r = Forward(
        "GET http://example.com/Proxy-page HTTP/1.1\r\n"
        "X-Note: Proxy-thing\r\n"
        "Proxy-Other: 1\r\n"
        "Proxy-Third: 2\r\n"
        "\r\n");
    EXPECT_EQ(r.forwarded,
              "GET /Proxy-page HTTP/1.1\r\n"
              "X-Note: Proxy-thing\r\n"
              "Other: 1\r\n"
              "Proxy-Third: 2\r\n"  // only the first such line
              "\r\n");
    EXPECT_EQ(r.info.path, "/Proxy-page");
}

TEST(RequestParserHeaderBlock, HeaderNamesInsideValuesAreNotRewritten) {
    Result r = Forward(
        "GET http://example.com/ HTTP/1.1\r\n"
        "X-Echo: Proxy-Connection: a, Accept-Encoding: b\r\n"
        "Accept-Encoding: br\r\n"
        "\r\n");
    EXPECT_EQ(r.forwarded,
              "GET / HTTP/1.1\r\n"
              "X-Echo: Proxy-Connection: a, Accept-Encoding: b\r\n"
              "Accept-Encoding: gzip\r\n"
              "\r\n");
}

TEST(RequestParserHeaderBlock, ProtocolIsTakenFromEndOfRequestLine) {
    Result r = Forward("GET http://example.com/HTTP/1.0/x?v=HTTP/1.1 HTTP/1.0\r\nHost: example.com\r\n\r\n");
    EXPECT_EQ(r.info.path, "/HTTP/1.0/x?v=HTTP/1.1");
    EXPECT_EQ(r.forwarded, "GET /HTTP/1.0/x?v=HTTP/1.1 HTTP/1.1\r\nHost: example.com\r\n\r\n");

    // No protocol word in the request line: it is left as it is, even when a
    // header value holds one.
    Result none = Forward("GET http://example.com/ HTTP/2\r\nX-P: a HTTP/1.0\r\n\r\n");
    EXPECT_EQ(none.forwarded, "GET http://example.com/ HTTP/2\r\nX-P: a HTTP/1.0\r\n\r\n");
}

TEST(RequestParserSplitText, EmptyPiecesCount) {
    using V = std::vector<std::string>;
    EXPECT_EQ(RequestParser::SplitText("", " "), V{""});
    EXPECT_EQ(RequestParser::SplitText("a  b", " "), (V{"a", "", "b"}));
    EXPECT_EQ(RequestParser::SplitText("a\r\nb\r\n", "\r\n"), (V{"a", "b", ""}));
    EXPECT_EQ(RequestParser::SplitText("k: v: w", ": "), (V{"k", "v", "w"}));
    EXPECT_EQ(RequestParser::SplitText("abc", ", "), V{"abc"});
}

// The request arrives in pieces: wherever it is cut, the end of the header
// block is found in the piece that completes it, and the result is the same.
TEST(RequestParserDripFeed, EverySplitGivesTheSameResult) {
    const std::string request =
        "POST http://example.com:8080/form?a=1 HTTP/1.0\r\n"
        "Host: example.com\r\n"
        "Referer: http://ref.example/x\r\n"
        "Proxy-Connection: keep-alive\r\n"
        "Accept-Encoding: deflate\r\n"
        "Proxy-Authorization: Basic abc\r\n"
        "Content-Length: 11\r\n"
        "\r\n"
        "hello\r\n\r\nxy";
    const size_t headerEnd = request.find("\r\n\r\n") + 4;
    const Result whole = Forward(request);
    ASSERT_EQ(whole.info.port, 8080u);
    ASSERT_EQ(whole.contentLength, 11);

    auto check = [&](const std::vector<size_t>& cuts) {
        std::string collected;
        size_t found = std::string::npos;
        size_t pos = 0;
        for (size_t i = 0; i <= cuts.size() && found == std::string::npos; ++i) {
            size_t end = i < cuts.size() ? cuts[i] : request.size();
            size_t newFrom = collected.size();
            collected.append(request, pos, end - pos);
            pos = end;
            found = RequestParser::FindHeaderEnd(collected, newFrom);
            if (found == std::string::npos) {
                EXPECT_LT(collected.size(), headerEnd);
            } else {
                EXPECT_GE(collected.size(), headerEnd);
                EXPECT_LT(newFrom, headerEnd);  // found in the piece that completed it
            }
        }
        ASSERT_EQ(found, headerEnd);
        Result r = Forward(collected);
        EXPECT_EQ(r.info.method, whole.info.method);
        EXPECT_EQ(r.info.url, whole.info.url);
        EXPECT_EQ(r.info.host, whole.info.host);
        EXPECT_EQ(r.info.port, whole.info.port);
        EXPECT_EQ(r.info.path, whole.info.path);
        EXPECT_EQ(r.info.version, whole.info.version);
        EXPECT_EQ(r.info.refererHost, whole.info.refererHost);
        EXPECT_EQ(r.contentLength, whole.contentLength);
        EXPECT_EQ(r.forwarded, whole.forwarded.substr(0, r.forwarded.size()));
        EXPECT_EQ(collected.substr(headerEnd), request.substr(headerEnd, collected.size() - headerEnd));
    };
    for (size_t cut = 1; cut < request.size(); ++cut) check({cut});
    std::vector<size_t> everyByte;
    for (size_t cut = 1; cut < request.size(); ++cut) everyByte.push_back(cut);
    check(everyByte);
}

}  // namespace
