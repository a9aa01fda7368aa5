#pragma once

// What the load origin serves and what a browser must receive through the
// proxy: the same deterministic bodies on both sides, compared by checksum.
#include <cstdint>
#include <string>
#include <string_view>

namespace e2e {

// The kinds of normal response. The HTML kinds carry the same pages, framed
// and encoded differently; the proxy must hand every one back decoded.
enum class Kind { HtmlPlain, HtmlGzip, HtmlChunked, HtmlChunkedGzip, Json, Binary };

constexpr int kPageVariants = 64;
constexpr size_t kBinarySize = 1024 * 1024;

// The path (below the origin) of variant n of a kind, e.g. "/html/gzip/7".
std::string PathOf(Kind kind, int n);

// Page n as the origin holds it before any framing or compression. It has a
// title, benign links, UTF-8 text and a closing head tag (where injection
// would go), but nothing the filter changes with the test configuration.
std::string PageBody(int n);
std::string JsonBody(int n);
// The same 1 MB for every binary variant (deterministic pseudo-random bytes).
const std::string& BinaryBody();
// What the browser must receive as the body for variant n of a kind.
std::string ExpectedBody(Kind kind, int n);

// gzip container (window bits 31), as a server's Content-Encoding: gzip.
std::string Gzip(std::string_view bytes);
// Chunked framing in pieces of `piece` bytes, terminated by the zero chunk.
std::string Chunked(std::string_view bytes, size_t piece);

uint64_t Checksum(std::string_view bytes);  // FNV-1a, 64 bits

}  // namespace e2e
