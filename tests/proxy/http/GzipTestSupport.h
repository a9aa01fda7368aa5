#pragma once

#include <zlib.h>

#include <random>
#include <string>

namespace gziptest {

// Compresses `data` as one gzip member with the given level and strategy.
inline std::string Gzip(const std::string& data, int level = Z_DEFAULT_COMPRESSION, int strategy = Z_DEFAULT_STRATEGY) {
    z_stream z{};
    if (deflateInit2(&z, level, Z_DEFLATED, 31, 8, strategy) != Z_OK) return {};
    std::string out(deflateBound(&z, data.size()) + 64, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    int r = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return r == Z_STREAM_END ? out : std::string();
}

// Compresses with the zlib wrapper instead of gzip.
inline std::string ZlibWrapped(const std::string& data) {
    uLongf size = compressBound(data.size());
    std::string out(size, '\0');
    if (compress(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(data.data()), data.size()) != Z_OK)
        return {};
    out.resize(size);
    return out;
}

// Text that looks like a page: tags, repeated words and some noise.
inline std::string PageLike(size_t size, unsigned seed) {
    static const char* words[] = {"<div class=\"item\">", "</div>", "<a href=\"/news/", "\">", "</a>", "news ",
                                  "today ", "<p>", "</p>", "\n", "<span>", "</span>", "index ", "list "};
    std::mt19937 rng(seed);
    std::string s;
    while (s.size() < size) {
        s += words[rng() % (sizeof words / sizeof *words)];
        if (rng() % 5 == 0) s += std::to_string(rng() % 100000);
    }
    s.resize(size);
    return s;
}

inline std::string RandomBytes(size_t size, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(size, '\0');
    for (char& c : s) c = static_cast<char>(rng());
    return s;
}

}  // namespace gziptest
