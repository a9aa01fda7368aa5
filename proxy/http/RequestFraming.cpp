#include "http/RequestFraming.h"

#include <cctype>
#include <limits>

namespace {

constexpr int64_t kNoLength = -1;

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

// A Content-Length value: digits only; kNoLength for anything else (a sign,
// a list, an overflow), which makes the request ambiguous.
int64_t LengthValue(std::string_view value) {
    value = Trimmed(value);
    if (value.empty()) return kNoLength;
    int64_t n = 0;
    for (char c : value) {
        if (c < '0' || c > '9') return kNoLength;
        if (n > (std::numeric_limits<int64_t>::max() - 9) / 10) return kNoLength;
        n = n * 10 + (c - '0');
    }
    return n;
}

}  // namespace

bool HeaderNameIs(std::string_view line, std::string_view name) {
    if (line.size() <= name.size() || line[name.size()] != ':') return false;
    for (size_t i = 0; i < name.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(line[i])) != std::tolower(static_cast<unsigned char>(name[i])))
            return false;
    }
    return true;
}

RequestFraming FrameRequest(std::string_view headerBlock) {
    bool chunked = false;
    bool sawLength = false;
    int64_t length = 0;
    size_t pos = headerBlock.find("\r\n");  // past the request line
    while (pos != std::string_view::npos) {
        size_t start = pos + 2;
        size_t end = headerBlock.find("\r\n", start);
        std::string_view line = headerBlock.substr(start, end == std::string_view::npos ? end : end - start);
        pos = end;
        if (line.empty()) break;  // the blank line
        if (HeaderNameIs(line, "Transfer-Encoding")) {
            chunked = true;
        } else if (HeaderNameIs(line, "Content-Length")) {
            int64_t value = LengthValue(line.substr(sizeof "Content-Length"));
            if (value == kNoLength || (sawLength && value != length)) return {RequestBody::Conflicting, 0};
            sawLength = true;
            length = value;
        }
    }
    if (chunked && sawLength) return {RequestBody::Conflicting, 0};
    if (chunked) return {RequestBody::Chunked, 0};
    if (sawLength) return {RequestBody::Length, length};
    return {RequestBody::None, 0};
}
