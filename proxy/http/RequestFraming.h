#pragma once

#include <cstdint>
#include <string_view>

// How the body of a request is delimited, read from its header block the way
// an origin server reads it (header names in any letter case), so that the
// proxy forwards exactly the body the origin expects and nothing after it.
enum class RequestBody {
    None,        // no length header: the header block is the whole request
    Length,      // one Content-Length value (repeated lines agree): that many bytes
    Chunked,     // Transfer-Encoding without Content-Length
    Conflicting  // both, differing lengths, or a length that is not a number
};

struct RequestFraming {
    RequestBody body = RequestBody::None;
    int64_t length = 0;  // for Length: the body's bytes
};

// `headerBlock`: the request up to and including its blank line.
RequestFraming FrameRequest(std::string_view headerBlock);

// True for the name of a header line, compared without regard to letter case.
bool HeaderNameIs(std::string_view line, std::string_view name);
