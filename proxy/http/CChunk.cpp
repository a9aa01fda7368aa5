#include "http/CChunk.h"

#include <cstdint>

#include <sievekit/PercentCoding.h>

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// The leading hexadecimal number of a size line: blanks skipped, an optional
// sign, an optional "0x", digits up to the first other character. No digits
// read as 0. Values beyond any body's size saturate, so a long line of digits
// never overflows.
int64_t ReadChunkSize(std::string_view line) {
    size_t i = 0;
    while (i < line.size() && IsBlank(line[i])) ++i;
    bool negative = false;
    if (i < line.size() && (line[i] == '+' || line[i] == '-')) negative = line[i++] == '-';
    if (i + 1 < line.size() && line[i] == '0' && (line[i + 1] == 'x' || line[i + 1] == 'X') &&
        i + 2 < line.size() && sievekit::HexDigitValue(line[i + 2]) >= 0)
        i += 2;
    constexpr int64_t kSaturated = int64_t(1) << 40;
    int64_t value = 0;
    for (int d; i < line.size() && (d = sievekit::HexDigitValue(line[i])) >= 0; ++i) value = value >= kSaturated ? kSaturated : value * 16 + d;
    return negative ? -value : value;
}

}  // namespace

std::string DecodeChunks(std::string_view body) {
    std::string out;
    size_t pos = 0;  // start of the remaining input
    while (pos < body.size()) {
        size_t lineEnd = body.find("\r\n", pos);
        if (lineEnd == std::string_view::npos) break;
        int64_t size = ReadChunkSize(body.substr(pos, lineEnd - pos));
        if (size <= 0) break;  // the last chunk, or a line that is not a size
        size_t dataStart = lineEnd + 2;
        size_t available = body.size() - dataStart;
        if (static_cast<uint64_t>(size) >= available) {  // cut short: keep what arrived
            out.append(body, dataStart, available);
            break;
        }
        out.append(body, dataStart, static_cast<size_t>(size));
        // Skip the data and the two bytes that close the chunk.
        pos = dataStart + static_cast<size_t>(size);
        pos = body.size() - pos < 2 ? body.size() : pos + 2;
    }
    return out;
}

bool CChunk::Process(std::string& body) {
    body = DecodeChunks(body);
    return true;
}
