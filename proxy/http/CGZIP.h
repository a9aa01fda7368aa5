#pragma once

#include <string>

#include "filter/CHTMLParser.h"

// Inflates a gzip-encoded complete body. False, with the body unchanged,
// when the body is empty or not a gzip stream.
class CGZIP : public CHTMLParser {
public:
    bool Process(std::string& body) override;
};

// Largest decoded size kept, as a multiple of the compressed size.
inline constexpr unsigned kGzipExpansionBound = 18;

// Replaces `body` by its inflated content (the first gzip member, at most
// kGzipExpansionBound times the compressed length; every decoded byte is
// kept, zero bytes included). Returns 0, or -1 with the body unchanged.
int DecodeGzipBody(std::string& body);
