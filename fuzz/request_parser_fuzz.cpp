// The proxy's request parser on a browser's request text: Parse, the
// Content-Length and header reads, and the rewrite sent to the origin.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "http/RequestInfo.h"
#include "http/RequestParser.h"

namespace {

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    RequestInfo info;
    RequestParser parser;
    parser.Parse(text, &info);
    // Every field is cut from the request line.
    FUZZ_CHECK(Contains(text, info.method) && Contains(text, info.url) && Contains(text, info.version));
    FUZZ_CHECK(Contains(text, info.host) && Contains(text, info.path));
    FUZZ_CHECK(text.find("\r\n") != std::string::npos || parser.contentLength == 0);
    for (const char* name : {"Host", "Referer", "Content-Length", "Cookie", "Proxy-Connection"}) {
        const std::string value = parser.HeaderValue(name);
        FUZZ_CHECK(Contains(text, value));
    }

    // The header block: its whole-text and incremental searches agree.
    const size_t headLength = RequestParser::HeaderBlockLength(text);
    FUZZ_CHECK(headLength <= text.size());
    const size_t blank = text.find("\r\n\r\n");
    FUZZ_CHECK(blank == std::string::npos ? headLength == text.size() : headLength == blank + 4);
    const size_t split = size == 0 ? 0 : data[0] % (size + 1);
    const bool blankBeforeSplit = blank != std::string::npos && blank + 4 <= split;
    if (!blankBeforeSplit) {
        const size_t end = RequestParser::FindHeaderEnd(text, split);
        FUZZ_CHECK(end == (blank == std::string::npos ? std::string::npos : blank + 4));
    }

    // Splitting then joining gives the text back.
    const std::string_view separators[] = {"\r\n", " ", ": "};
    const std::string_view separator = separators[size % 3];
    std::string joined;
    const auto pieces = RequestParser::SplitText(text, separator);
    for (size_t i = 0; i < pieces.size(); ++i) joined += (i ? std::string(separator) : std::string()) + pieces[i];
    FUZZ_CHECK(joined == text);

    // The rewrite touches the header block only: the body bytes stay as they
    // arrived, at the end.
    std::string rewritten = text;
    parser.Rewrite(rewritten);
    const std::string body = text.substr(headLength);
    FUZZ_CHECK(rewritten.size() >= body.size());
    FUZZ_CHECK(rewritten.compare(rewritten.size() - body.size(), body.size(), body) == 0);

    // A target read on its own fills the same fields as Parse did from it.
    RequestInfo again;
    RequestParser other;
    other.Parse("GET / HTTP/1.0\r\n", &again);
    other.SplitTarget(info.url);
    FUZZ_CHECK(again.host == info.host && again.port == info.port);
    other.ReadContentLength(text);
    FUZZ_CHECK(other.contentLength == parser.contentLength || text.find("\r\n") == std::string::npos);
    return 0;
}
