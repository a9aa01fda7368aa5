#include "http/CGZIP.h"

#include <climits>
#include <memory>
#include <new>

#include "http/InflateGzip.h"

int DecodeGzipBody(std::string& body) {
    if (body.empty()) return -1;
    if (body.size() > UINT_MAX / kGzipExpansionBound) return -1;  // beyond what the decoder can count
    unsigned capacity = static_cast<unsigned>(body.size()) * kGzipExpansionBound;
    // Only the bytes the decoder reports are read, so the buffer needs no zero fill.
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[capacity]);
    if (!buffer) return -1;
    unsigned produced = capacity;
    if (InflateGzip(body.data(), static_cast<unsigned>(body.size()), buffer.get(), &produced) != 0) return -1;
    body.assign(buffer.get(), produced);
    return 0;
}

bool CGZIP::Process(std::string& body) { return DecodeGzipBody(body) == 0; }
