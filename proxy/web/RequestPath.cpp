#include "web/RequestPath.h"

#include <sievekit/PercentCoding.h>

namespace {

bool HasDotDotSegment(std::string_view path) {
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find_first_of("/\\", start);
        if (end == std::string_view::npos) end = path.size();
        if (path.substr(start, end - start) == "..") return true;
        start = end + 1;
    }
    return false;
}

}  // namespace

std::string ParseRequestPath(std::string_view request) {
    size_t crlf = request.find("\r\n");
    if (crlf == std::string_view::npos || crlf >= kRequestLineSize) return {};
    std::string_view line = request.substr(0, crlf);
    if (line.find("GET ") == std::string_view::npos && line.find("POST") == std::string_view::npos) return {};
    // The target sits between index 4 and the blank before the protocol; a
    // protocol mark missing or too early to leave room for one is refused.
    size_t protocol = line.find("HTTP/1");
    if (protocol == std::string_view::npos || protocol < 5) return {};
    std::string_view target = line.substr(4, protocol - 5);
    size_t slash = target.find('/');
    if (slash == std::string_view::npos) return {};
    return std::string(target.substr(slash));
}

bool IsPostLine(std::string_view request) { return request.starts_with("POST "); }

SuffixAndParameter SplitSuffixAndParameter(std::string_view path) {
    SuffixAndParameter out;
    size_t dot = path.find('.');
    if (dot == std::string_view::npos) return out;
    size_t query = path.find('?', dot);
    if (query == std::string_view::npos) {
        out.suffix = std::string(path.substr(dot));
        return out;
    }
    out.suffix = std::string(path.substr(dot, query - dot));
    out.hasParameter = true;
    if (query + 5 < path.size()) out.parameter = std::string(path.substr(query + 5));
    return out;
}

void LowerAscii(std::string& text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
}

const char* MimeTypeFor(std::string_view suffix) {
    if (suffix.empty()) return "text/html";
    if (suffix == ".bmp") return "application/x-bmp";
    if (suffix == ".png") return "image/png";
    if (suffix == ".jpg" || suffix == ".jpeg") return "image/jpeg";
    if (suffix.find(".htm") != std::string_view::npos) return "text/html";  // ".html" holds ".htm"
    if (suffix == ".css") return "text/css";
    if (suffix == ".js") return "application/x-javascript";
    return "application/octet-stream";
}

bool LeavesPageFolder(std::string_view path) {
    if (path.find('\0') != std::string_view::npos) return true;
    if (HasDotDotSegment(path)) return true;
    std::string decoded = sievekit::PercentDecode(path, false);
    return decoded.find('\0') != std::string::npos || HasDotDotSegment(decoded);
}
