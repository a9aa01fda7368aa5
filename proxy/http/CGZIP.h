#pragma once

#include <cstddef>
#include <limits>
#include <string>

#include "filter/CHTMLParser.h"

// Inflates a gzip-encoded complete body, at most `outputLimit` bytes of it.
// False, with the body unchanged, when the body is empty or not a gzip stream.
class CGZIP : public CHTMLParser {
public:
    explicit CGZIP(size_t outputLimit = std::numeric_limits<size_t>::max()) : outputLimit(outputLimit) {}
    bool Process(std::string& body) override;

    size_t outputLimit;
};

// Largest decoded size kept, as a multiple of the compressed size.
inline constexpr unsigned kGzipExpansionBound = 18;

// Replaces `body` by its inflated content (the first gzip member, at most
// kGzipExpansionBound times the compressed length and at most `limit` bytes;
// every decoded byte is kept, zero bytes included). The decoded text grows as
// it is decoded: memory follows the output, not the bound. Returns 0, or -1
// with the body unchanged.
int DecodeGzipBody(std::string& body, size_t limit = std::numeric_limits<size_t>::max());
