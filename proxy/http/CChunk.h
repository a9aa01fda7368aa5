#pragma once

#include <string>
#include <string_view>

#include "filter/CHTMLParser.h"

// Removes the chunked transfer framing from a complete body. Never fails:
// a malformed body keeps the chunks read before the first unreadable size
// line, possibly none.
class CChunk : public CHTMLParser {
public:
    bool Process(std::string& body) override;
};

// The de-chunked content of `body`. Stops at a size of 0, at a size line that
// is not a number or is negative, or at the end of the input; a chunk cut
// short keeps the bytes that remain. Trailers are not examined.
std::string DecodeChunks(std::string_view body);
