#include "http/ResponseInfo.h"

#include <climits>
#include <cstdint>
#include <string_view>

namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kContentLength = "Content-Length: ";

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// Blanks skipped, an optional sign, digits up to the first other character;
// 0 without digits. Saturates at the int range.
int32_t LeadingDecimal(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        if (value <= INT32_MAX) value = value * 10 + (text[i] - '0');
    if (negative) value = -value;
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}

// Replaces the value of the first `name` line with `value`; false when there
// is no such line or it has no line end.
bool RewriteLine(std::string& header, std::string_view name, std::string_view value) {
    size_t start = header.find(name);
    if (start == std::string::npos) return false;
    size_t end = header.find(kLineEnd, start);
    if (end == std::string::npos) return false;
    size_t valueStart = start + name.size();
    header.replace(valueStart, end - valueStart, value);
    return true;
}

}  // namespace

void ResponseInfo::TakeHeaderBlock(const std::string& response) {
    size_t end = response.find("\r\n\r\n");
    if (end == std::string::npos) return;
    headerLength = static_cast<int32_t>(end + 4);
    header.assign(response, 0, end + 4);
    Classify();
}

void ResponseInfo::Classify() {
    ReadContentLength();
    isHtml = header.find(kHtml) != std::string::npos;
    isImage = header.find(kImage) != std::string::npos;
    isVideo = header.find(kVideo) != std::string::npos || header.find(kFlash) != std::string::npos;
    chunked = header.find(kChunked) != std::string::npos;
}

void ResponseInfo::ReadContentLength() {
    size_t start = header.find(kContentLength);
    if (start == std::string::npos) {
        contentLength = -1;
        return;
    }
    size_t end = header.find(kLineEnd, start);
    if (end == std::string::npos) return;
    size_t valueStart = start + kContentLength.size();
    contentLength = LeadingDecimal(std::string_view(header).substr(valueStart, end - valueStart));
}

void ResponseInfo::SetContentLength(int length) {
    contentLength = length;
    std::string value = std::to_string(length);
    if (!header.empty() && !RewriteLine(header, kContentLength, value)) {
        size_t statusEnd = header.find(kLineEnd);
        if (statusEnd != std::string::npos)
            header.insert(statusEnd + kLineEnd.size(), std::string(kContentLength) + value + std::string(kLineEnd));
    }
    ReadContentLength();
}

void ResponseInfo::MarkContentEncodingNone() {
    if (!header.empty()) RewriteLine(header, "Content-Encoding: ", "none");
}

void ResponseInfo::MarkTransferEncodingNone() {
    if (!header.empty()) RewriteLine(header, "Transfer-Encoding: ", "none");
}
