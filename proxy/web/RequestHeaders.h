#pragma once

#include <cstddef>
#include <string_view>
#include <utility>
#include <vector>

// The header fields of a request to the local web server, as views into the
// received bytes (which must outlive this). Byte-level, without sockets.
struct RequestHeaders {
    bool complete = false;  // the blank line that ends the header block has arrived
    size_t bodyStart = 0;   // offset of the first body byte, once complete
    // Name and value of each whole field line, the value without its
    // surrounding blanks. A line cut off by the end of the bytes is left out.
    std::vector<std::pair<std::string_view, std::string_view>> fields;

    // How often a field occurs and its first value (empty when absent);
    // names compare ignoring ASCII case.
    size_t Count(std::string_view name) const;
    std::string_view Value(std::string_view name) const;
};

// The fields between the request line and the blank line.
RequestHeaders ParseRequestHeaders(std::string_view request);

// A Content-Length value: its decimal number, or -1 when it is not a plain
// run of at most nine digits.
long ParseContentLength(std::string_view value);

// ASCII case-insensitive equality.
bool EqualsIgnoringCase(std::string_view a, std::string_view b);
