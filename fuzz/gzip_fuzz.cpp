// The gzip decoder of response bodies: on arbitrary bytes the fast decoder
// must match the byte-at-a-time reference, and a body compressed here must
// come back (up to the expansion bound).

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "FuzzSupport.h"
#include "http/CGZIP.h"
#include "http/InflateGzip.h"

namespace {

std::string GzipOf(const std::string& content, int level) {
    z_stream z{};
    FUZZ_CHECK(deflateInit2(&z, level, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) == Z_OK);
    std::string out(deflateBound(&z, content.size()) + 32, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(content.data()));
    z.avail_in = static_cast<uInt>(content.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    FUZZ_CHECK(deflate(&z, Z_FINISH) == Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);

    // Arbitrary bytes as a gzip body.
    std::string body = input;
    CGZIP gzip;
    const bool inflated = gzip.Process(body);
    if (!inflated) FUZZ_CHECK(body == input);
    FUZZ_CHECK(body.size() <= input.size() * kGzipExpansionBound);

    // The whole-buffer decoder stops exactly where the reference does. The
    // reference costs an inflate call per byte, so only short inputs.
    if (size <= 4096) {
        const unsigned capacity = static_cast<unsigned>(size) * 4 + (size ? data[0] : 0);
        std::unique_ptr<char[]> fast(new char[capacity + 1]), slow(new char[capacity + 1]);
        unsigned fastLength = capacity, slowLength = capacity;
        const int fastResult = InflateGzip(input.data(), static_cast<unsigned>(size), fast.get(), &fastLength);
        const int slowResult = InflateGzipBytewise(input.data(), static_cast<unsigned>(size), slow.get(), &slowLength);
        FUZZ_CHECK(fastResult == slowResult);
        if (fastResult == 0) {
            FUZZ_CHECK(fastLength == slowLength && fastLength <= capacity);
            FUZZ_CHECK(std::string(fast.get(), fastLength) == std::string(slow.get(), slowLength));
        }
        // So does the decoder whose output grows as it decodes.
        std::string grown;
        FUZZ_CHECK(InflateGzipInto(input.data(), static_cast<unsigned>(size), capacity, grown) == slowResult);
        if (slowResult == 0) FUZZ_CHECK(grown == std::string(slow.get(), slowLength));
    }

    // The bytes as content: compressed, then decoded again.
    std::string packed = GzipOf(input, size ? data[size - 1] % 10 : 6);
    const size_t bound = packed.size() * kGzipExpansionBound;
    FUZZ_CHECK(DecodeGzipBody(packed) == 0);
    FUZZ_CHECK(packed == input.substr(0, bound));
    return 0;
}
