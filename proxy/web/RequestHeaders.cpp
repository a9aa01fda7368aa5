#include "web/RequestHeaders.h"

namespace {

std::string_view TrimBlanks(std::string_view text) {
    size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string_view::npos) return {};
    size_t end = text.find_last_not_of(" \t");
    return text.substr(begin, end - begin + 1);
}

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    return true;
}

size_t RequestHeaders::Count(std::string_view name) const {
    size_t n = 0;
    for (const auto& field : fields)
        if (EqualsIgnoringCase(field.first, name)) ++n;
    return n;
}

std::string_view RequestHeaders::Value(std::string_view name) const {
    for (const auto& field : fields)
        if (EqualsIgnoringCase(field.first, name)) return field.second;
    return {};
}

RequestHeaders ParseRequestHeaders(std::string_view request) {
    RequestHeaders headers;
    size_t at = request.find("\r\n");
    if (at == std::string_view::npos) return headers;
    at += 2;
    for (;;) {
        size_t end = request.find("\r\n", at);
        if (end == std::string_view::npos) return headers;  // the rest has not arrived
        if (end == at) {
            headers.complete = true;
            headers.bodyStart = end + 2;
            return headers;
        }
        std::string_view line = request.substr(at, end - at);
        size_t colon = line.find(':');
        if (colon != std::string_view::npos)
            headers.fields.emplace_back(line.substr(0, colon), TrimBlanks(line.substr(colon + 1)));
        at = end + 2;
    }
}

long ParseContentLength(std::string_view value) {
    if (value.empty() || value.size() > 9) return -1;
    long n = 0;
    for (char c : value) {
        if (c < '0' || c > '9') return -1;
        n = n * 10 + (c - '0');
    }
    return n;
}
