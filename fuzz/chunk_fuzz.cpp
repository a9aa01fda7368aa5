// The chunked transfer decoder on a response body, and a round trip through
// a chunked encoding made here.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "FuzzSupport.h"
#include "http/CChunk.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string body(reinterpret_cast<const char*>(data), size);

    // Whatever the framing, the content is taken from the body's bytes.
    std::string decoded = body;
    CChunk chunk;
    FUZZ_CHECK(chunk.Process(decoded));
    FUZZ_CHECK(decoded.size() <= body.size());
    FUZZ_CHECK(decoded == DecodeChunks(body));

    // The body as content, chunked at sizes taken from its own bytes, decodes
    // back to itself.
    std::string encoded;
    for (size_t pos = 0, i = 0; pos < size; ++i) {
        size_t n = 1 + data[i % size] % 64;
        if (n > size - pos) n = size - pos;
        char line[32];
        std::snprintf(line, sizeof line, i % 2 ? "%zx\r\n" : "%zX; ext=1\r\n", n);
        encoded += line;
        encoded.append(body, pos, n);
        encoded += "\r\n";
        pos += n;
    }
    encoded += "0\r\n\r\n";
    FUZZ_CHECK(DecodeChunks(encoded) == body);
    return 0;
}
