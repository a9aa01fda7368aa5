#include "http/CGZIP.h"

#include <algorithm>
#include <climits>
#include <cstdint>

#include "http/InflateGzip.h"

int DecodeGzipBody(std::string& body, size_t limit) {
    if (body.empty()) return -1;
    const uint64_t bound = std::min<uint64_t>(static_cast<uint64_t>(body.size()) * kGzipExpansionBound, limit);
    if (body.size() > UINT_MAX || bound > UINT_MAX) return -1;  // beyond what the decoder can count
    std::string decoded;
    if (InflateGzipInto(body.data(), static_cast<unsigned>(body.size()), static_cast<unsigned>(bound), decoded) != 0) return -1;
    body.swap(decoded);
    return 0;
}

bool CGZIP::Process(std::string& body) { return DecodeGzipBody(body, outputLimit) == 0; }
