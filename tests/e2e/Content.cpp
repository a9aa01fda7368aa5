#include "Content.h"

#include <zlib.h>

#include <cstdio>
#include <stdexcept>

namespace e2e {

std::string PathOf(Kind kind, int n) {
    const char* prefix = "";
    switch (kind) {
        case Kind::HtmlPlain: prefix = "/html/plain/"; break;
        case Kind::HtmlGzip: prefix = "/html/gzip/"; break;
        case Kind::HtmlChunked: prefix = "/html/chunked/"; break;
        case Kind::HtmlChunkedGzip: prefix = "/html/chunkgz/"; break;
        case Kind::Json: prefix = "/json/"; break;
        case Kind::Binary: prefix = "/bin/"; break;
    }
    return prefix + std::to_string(n);
}

std::string PageBody(int n) {
    static const char* const kWords[] = {"beans", "fence", "rain", "late", "soil", "spade", "morning", "shade",
                                         "青菜", "豆子", "篱笆", "雨水", "tomato", "wheelbarrow", "north", "row",
                                         "seedling", "compost", "frost", "gate", "worm", "sun", "hedge", "pear"};
    std::string page = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Garden notes " +
                       std::to_string(n) + "</title></head>\n<body>\n<h1>Notes on the garden, part " +
                       std::to_string(n) + "</h1>\n";
    // Sizes from under 1 KB to about 60 KB, so that some pages fit the first
    // receive of the proxy and others span many. The words are drawn at
    // random so the page compresses like a real one (far less than 18 to 1,
    // the most the proxy's gzip decoder keeps).
    uint32_t x = 2654435761u * static_cast<uint32_t>(n + 1);
    int paragraphs = 1 + (n * 37) % 400;
    for (int i = 0; i < paragraphs; ++i) {
        page += "<p>Row " + std::to_string(i) + ":";
        for (int w = 0; w < 12; ++w) {
            x = x * 1664525u + 1013904223u;
            page += ' ';
            page += kWords[(x >> 16) % (sizeof kWords / sizeof kWords[0])];
            if ((x >> 8) % 5 == 0) page += std::to_string((x >> 4) % 1000);
        }
        if (i % 25 == 0) page += " <a href=\"/garden/" + std::to_string(i) + "\">more about row " + std::to_string(i) + "</a>";
        page += ".</p>\n";
    }
    return page + "</body></html>\n";
}

std::string JsonBody(int n) {
    std::string json = "{\"id\":" + std::to_string(n) + ",\"items\":[";
    for (int i = 0; i < 50 + n * 40; ++i) {
        if (i) json += ',';
        json += "{\"k\":" + std::to_string(i * n) + ",\"v\":\"value " + std::to_string(i) + "\"}";
    }
    return json + "]}";
}

const std::string& BinaryBody() {
    static const std::string body = [] {
        std::string b(kBinarySize, '\0');
        uint64_t x = 0x9E3779B97F4A7C15ull;
        for (auto& c : b) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            c = static_cast<char>(x);
        }
        return b;
    }();
    return body;
}

std::string ExpectedBody(Kind kind, int n) {
    switch (kind) {
        case Kind::HtmlPlain:
        case Kind::HtmlGzip:
        case Kind::HtmlChunked:
        case Kind::HtmlChunkedGzip:
            return PageBody(n);
        case Kind::Json:
            return JsonBody(n);
        case Kind::Binary:
            return BinaryBody();
    }
    return {};
}

std::string Gzip(std::string_view bytes) {
    z_stream z{};
    if (deflateInit2(&z, Z_BEST_SPEED, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2");
    std::string out(deflateBound(&z, bytes.size()), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    z.avail_in = static_cast<uInt>(bytes.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    int rc = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    if (rc != Z_STREAM_END) throw std::runtime_error("deflate");
    return out;
}

std::string Chunked(std::string_view bytes, size_t piece) {
    std::string out;
    for (size_t at = 0; at < bytes.size(); at += piece) {
        size_t n = std::min(piece, bytes.size() - at);
        char size[32];
        std::snprintf(size, sizeof size, "%zx\r\n", n);
        out += size;
        out.append(bytes.substr(at, n));
        out += "\r\n";
    }
    return out + "0\r\n\r\n";
}

uint64_t Checksum(std::string_view bytes) {
    uint64_t h = 0xcbf29ce484222325ull;
    for (unsigned char c : bytes) {
        h ^= c;
        h *= 0x100000001b3ull;
    }
    return h;
}

}  // namespace e2e
