#include "http/RequestParser.h"

#include <cctype>

#include "http/RequestFraming.h"

namespace {

constexpr std::string_view kBlankLine = "\r\n\r\n";

// First header line starting with `name` inside the header block: the position
// of the name, or npos. Header lines follow a "\r\n", so the request line and
// text inside values never match.
size_t FindHeaderLine(std::string_view head, std::string_view name) {
    for (size_t pos = head.find("\r\n"); pos != std::string_view::npos; pos = head.find("\r\n", pos + 2)) {
        if (head.substr(pos + 2).starts_with(name)) return pos + 2;
    }
    return std::string_view::npos;
}

// Replaces the header line that starts with `name` (up to its "\r\n") with
// `replacement`.
void ReplaceHeaderLine(std::string& head, std::string_view name, std::string_view replacement) {
    size_t start = FindHeaderLine(head, name);
    if (start == std::string::npos) return;
    size_t end = head.find("\r\n", start);
    if (end == std::string::npos) return;
    head.replace(start, end - start, replacement);
}

// Each header line whose name (in any letter case, as origins read it) is
// `name`: where it starts and where its "\r\n" stands.
struct HeaderLine {
    size_t start, end;
};
std::vector<HeaderLine> HeaderLinesNamed(std::string_view head, std::string_view name) {
    std::vector<HeaderLine> lines;
    for (size_t pos = head.find("\r\n"); pos != std::string_view::npos;) {
        size_t start = pos + 2;
        size_t end = head.find("\r\n", start);
        if (end == std::string_view::npos || end == start) break;
        if (HeaderNameIs(head.substr(start, end - start), name)) lines.push_back({start, end});
        pos = end;
    }
    return lines;
}

void EraseLines(std::string& head, const std::vector<HeaderLine>& lines) {
    for (auto it = lines.rbegin(); it != lines.rend(); ++it) head.erase(it->start, it->end + 2 - it->start);
}

bool SameHostName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
    return true;
}

// The host a Host header's value names, without its port.
std::string_view HostOfHostValue(std::string_view value) {
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
    if (value.starts_with('[')) {
        size_t close = value.find(']');
        return close == std::string_view::npos ? value : value.substr(0, close + 1);
    }
    return value.substr(0, value.find(':'));
}

// The origin picks the site by the Host header, so it must name the host the
// checks were made for (the one the proxy connects to): a Host header for any
// other host, or more than one, becomes one naming the target's host.
void AlignHostHeader(std::string& head, const RequestInfo& request) {
    if (request.host.empty() || request.method == "CONNECT") return;
    const std::vector<HeaderLine> lines = HeaderLinesNamed(head, "Host");
    bool agrees = lines.size() <= 1;
    for (const HeaderLine& line : lines) {
        std::string_view value = std::string_view(head).substr(line.start + 5, line.end - line.start - 5);
        if (!SameHostName(HostOfHostValue(value), request.host)) agrees = false;
    }
    if (agrees) return;
    std::string replacement = "Host: " + request.host;
    if (request.port != 80) replacement += ":" + std::to_string(request.port);
    const size_t at = lines.front().start;
    EraseLines(head, lines);
    head.insert(at, replacement + "\r\n");
}

}  // namespace

size_t RequestParser::HeaderBlockLength(std::string_view text) {
    size_t end = text.find(kBlankLine);
    return end == std::string_view::npos ? text.size() : end + kBlankLine.size();
}

size_t RequestParser::FindHeaderEnd(std::string_view text, size_t newFrom) {
    size_t from = newFrom > kBlankLine.size() - 1 ? newFrom - (kBlankLine.size() - 1) : 0;
    size_t end = text.find(kBlankLine, from);
    return end == std::string_view::npos ? std::string_view::npos : end + kBlankLine.size();
}

std::vector<std::string> RequestParser::SplitText(std::string_view text, std::string_view separator) {
    std::vector<std::string> pieces;
    size_t pos = 0;
    for (;;) {
        size_t next = separator.empty() ? std::string_view::npos : text.find(separator, pos);
        if (next == std::string_view::npos) {
            pieces.emplace_back(text.substr(pos));
            return pieces;
        }
        pieces.emplace_back(text.substr(pos, next - pos));
        pos = next + separator.size();
    }
}

void RequestParser::Parse(const std::string& text, RequestInfo* info) {
    request = info;
    size_t lineEnd = text.find(lineSeparator);
    if (lineEnd == std::string::npos || !request) return;
    ReadContentLength(text);

    std::string_view whole(text);
    std::string_view requestLine = whole.substr(0, lineEnd);
    size_t headEnd = HeaderBlockLength(whole);
    std::string_view headerText = whole.substr(lineEnd + lineSeparator.size(), headEnd - lineEnd - lineSeparator.size());

    std::vector<std::string> words = SplitText(requestLine, wordSeparator);
    if (words.size() != 3) return;
    request->method = words[0];
    request->version = words[2];
    request->url = words[1];
    SplitTarget(words[1]);

    for (const std::string& line : SplitText(headerText, lineSeparator)) {
        std::vector<std::string> pair = SplitText(line, headerSeparator);
        if (pair.size() == 2) headers.emplace(std::move(pair[0]), std::move(pair[1]));  // keeps the first
    }

    auto referer = headers.find("Referer");
    if (referer == headers.end()) return;
    std::wstring wide = utility.atow(referer->second.c_str(), -1);
    if (wide.empty()) return;
    urlReader.Clear();
    urlReader.Crack(wide.c_str());
    request->refererHost = utility.wtoa(urlReader.hostName.c_str(), -1);
}

void RequestParser::ReadContentLength(const std::string& text) {
    contentLength = -1;
    static constexpr std::string_view kName = "Content-Length: ";
    std::string_view head = std::string_view(text).substr(0, HeaderBlockLength(text));
    size_t start = FindHeaderLine(head, kName);
    if (start == std::string_view::npos) return;
    size_t end = head.find(lineSeparator, start);
    if (end == std::string_view::npos) return;
    contentLength = LeadingDecimal(head.substr(start + kName.size(), end - start - kName.size()));
}

void RequestParser::SplitTarget(const std::string& target) {
    if (!request) return;
    std::string_view copy(target);
    if (copy.starts_with("http://")) copy.remove_prefix(7);
    request->port = 80;
    size_t slash = copy.find('/');
    size_t colon = copy.find(':');
    if (colon != std::string_view::npos && colon < slash) {
        size_t portEnd = slash == std::string_view::npos ? copy.size() : slash;
        request->port = static_cast<uint32_t>(LeadingDecimal(copy.substr(colon + 1, portEnd - colon - 1)));
        request->host.assign(copy.substr(0, colon));
    } else {
        request->host.assign(copy.substr(0, slash));
    }
    if (slash != std::string_view::npos) request->path.assign(copy.substr(slash));
}

std::string RequestParser::HeaderValue(const std::string& name) const {
    auto it = headers.find(name);
    return it == headers.end() ? std::string() : it->second;
}

void RequestParser::Rewrite(std::string& text) const {
    const size_t headLength = HeaderBlockLength(text);
    std::string head = text.substr(0, headLength);

    // 1. Origin-form request line ending in HTTP/1.1. Only the protocol word
    //    at the end of the line counts, so a target holding "HTTP/1." is safe.
    size_t lineEnd = head.find(lineSeparator);
    std::string_view line = std::string_view(head).substr(0, lineEnd);
    size_t protocol = line.rfind(" HTTP/1.");
    if (protocol != std::string_view::npos) {
        size_t v = protocol + 1;
        head.replace(v, 8, "HTTP/1.1");
        const std::string& method = request ? request->method : std::string();
        const std::string& path = request ? request->path : std::string();
        head.replace(0, v, method + wordSeparator + path + wordSeparator);
    }

    // 2. One connection per request.
    ReplaceHeaderLine(head, "Proxy-Connection: ", "Connection: close");
    // 3. Only gzip can be decoded for filtering.
    ReplaceHeaderLine(head, "Accept-Encoding: ", "Accept-Encoding: gzip");
    // The proxy's own credentials are for the proxy alone: they never reach
    // an origin, under either name.
    EraseLines(head, HeaderLinesNamed(head, "Proxy-Authorization"));
    if (request) AlignHostHeader(head, *request);
    // 4. The first remaining proxy header goes to the origin without "Proxy-".
    size_t proxyHeader = FindHeaderLine(head, "Proxy-");
    if (proxyHeader != std::string::npos) head.erase(proxyHeader, 6);

    text.replace(0, headLength, head);
}
