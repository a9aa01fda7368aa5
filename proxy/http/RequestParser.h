#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include <sievekit/CUtility.h>

#include "http/RequestInfo.h"
#include "http/UrlParts.h"

// Reads one request's header block into a RequestInfo and rewrites the text
// in place into the form sent to the origin server. One per request, on the
// connection's worker thread: Parse, read contentLength, Rewrite.
//
// Only the header block (up to and including the first "\r\n\r\n", or the
// whole text when it has none) is read or rewritten; body bytes that arrived
// with it are passed through untouched. Header names are found at the start
// of a header line, exactly and case-sensitively.
class RequestParser {
public:
    RequestParser() = default;
    RequestParser(const RequestParser&) = delete;
    RequestParser& operator=(const RequestParser&) = delete;

    // Fills `request` from the request line, the header lines and the Referer.
    // A request line that is not exactly three words leaves the fields as they
    // were; a text without any "\r\n" is not read at all.
    void Parse(const std::string& text, RequestInfo* request);
    // Origin-form "HTTP/1.1" request line, "Connection: close" in place of
    // Proxy-Connection, "Accept-Encoding: gzip", every Proxy-Authorization
    // line removed, a Host header naming another host than the target (or a
    // second Host line) replaced by one naming the target's host, and the
    // first remaining header line's "Proxy-" prefix dropped.
    void Rewrite(std::string& text) const;
    // Host, port and path of the request from its target.
    void SplitTarget(const std::string& target);
    // The "Content-Length: " header's value, -1 when there is none.
    void ReadContentLength(const std::string& text);
    // The first header line with exactly this name, or empty.
    std::string HeaderValue(const std::string& name) const;
    // Pieces between separators, empty ones included; "" gives one piece.
    static std::vector<std::string> SplitText(std::string_view text, std::string_view separator);

    // Length of the header block: just past the first "\r\n\r\n", or the whole
    // text when it has none.
    static size_t HeaderBlockLength(std::string_view text);
    // Where the header block ends (just past its "\r\n\r\n"), looking only at
    // bytes from `newFrom` on and the three before them, so a blank line split
    // between two receives is still found; npos while incomplete.
    static size_t FindHeaderEnd(std::string_view text, size_t newFrom);

    const std::string lineSeparator = "\r\n";
    const std::string wordSeparator = " ";
    const std::string headerSeparator = ": ";

    int32_t contentLength = 0;  // -1 when there is none, once Parse has seen a "\r\n"

private:
    CUtility utility;
    UrlParts urlReader;
    std::map<std::string, std::string> headers;  // first line of each name wins
    RequestInfo* request = nullptr;               // not owned
};
