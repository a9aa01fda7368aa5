#include "web/RequestGuard.h"

#include <optional>
#include <string>

namespace {

struct Authority {
    std::string_view name;
    std::optional<uint16_t> port;  // absent when the text names none
};

// A port as a browser writes it: decimal, no sign, no leading zero.
std::optional<uint16_t> ParsePort(std::string_view text) {
    if (text.empty() || text.size() > 5 || text[0] == '0') return std::nullopt;
    uint32_t n = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + static_cast<uint32_t>(c - '0');
    }
    if (n > 65535) return std::nullopt;
    return static_cast<uint16_t>(n);
}

// "name" or "name:port"; nothing for an empty name, a bad port or a
// bracketed (IPv6) name, which this IPv4 server never has.
std::optional<Authority> ParseAuthority(std::string_view text) {
    if (text.empty() || text.find_first_of("[]@/ \t") != std::string_view::npos) return std::nullopt;
    size_t colon = text.find(':');
    Authority authority{text.substr(0, colon), std::nullopt};
    if (authority.name.empty()) return std::nullopt;
    if (colon != std::string_view::npos) {
        authority.port = ParsePort(text.substr(colon + 1));
        if (!authority.port) return std::nullopt;
    }
    return authority;
}

bool IsDottedQuad(std::string_view name) {
    int parts = 0;
    size_t at = 0;
    for (;;) {
        size_t dot = name.find('.', at);
        std::string_view part = name.substr(at, dot == std::string_view::npos ? std::string_view::npos : dot - at);
        if (part.empty() || part.size() > 3 || (part.size() > 1 && part[0] == '0')) return false;
        int value = 0;
        for (char c : part) {
            if (c < '0' || c > '9') return false;
            value = value * 10 + (c - '0');
        }
        if (value > 255) return false;
        ++parts;
        if (dot == std::string_view::npos) break;
        at = dot + 1;
    }
    return parts == 4;
}

bool IsOwnName(std::string_view name, std::string_view listenAddress) {
    if (name == "127.0.0.1" || EqualsIgnoringCase(name, "localhost") || name == listenAddress) return true;
    return listenAddress == "0.0.0.0" && IsDottedQuad(name);
}

// The origin the browser gives this server's own pages.
struct OwnOrigin {
    std::string_view name;  // empty: any own name
    uint16_t port;
};

// An Origin value ("http://host[:port]"), or the origin part of a Referer
// URL when `isUrl`, compared with the server's own origin.
bool IsOwnOrigin(std::string_view text, const OwnOrigin& own, std::string_view listenAddress, bool isUrl) {
    constexpr std::string_view kScheme = "http://";
    if (text.size() < kScheme.size() || !EqualsIgnoringCase(text.substr(0, kScheme.size()), kScheme)) return false;
    std::string_view rest = text.substr(kScheme.size());
    if (isUrl) rest = rest.substr(0, rest.find_first_of("/?#"));
    std::optional<Authority> authority = ParseAuthority(rest);
    if (!authority) return false;
    if (authority->port.value_or(80) != own.port) return false;
    if (own.name.empty()) return IsOwnName(authority->name, listenAddress);
    return EqualsIgnoringCase(authority->name, own.name);
}

}  // namespace

bool IsOwnHost(std::string_view host, std::string_view listenAddress, uint16_t port) {
    std::optional<Authority> authority = ParseAuthority(host);
    if (!authority || !IsOwnName(authority->name, listenAddress)) return false;
    return !authority->port || *authority->port == port;
}

RequestSource ClassifyRequestSource(const RequestHeaders& headers, std::string_view listenAddress, uint16_t port) {
    const size_t fetchSites = headers.Count("Sec-Fetch-Site");
    const size_t origins = headers.Count("Origin");
    const size_t referers = headers.Count("Referer");
    if (fetchSites > 1 || origins > 1 || referers > 1) return RequestSource::OtherPage;

    OwnOrigin own{{}, port};
    if (headers.Count("Host") == 1) {
        if (std::optional<Authority> host = ParseAuthority(headers.Value("Host"))) own = {host->name, host->port.value_or(port)};
    }
    const std::string_view fetchSite = headers.Value("Sec-Fetch-Site");
    if (fetchSites && fetchSite != "none" && fetchSite != "same-origin") return RequestSource::OtherPage;
    if (origins && !IsOwnOrigin(headers.Value("Origin"), own, listenAddress, false)) return RequestSource::OtherPage;
    if (referers && !IsOwnOrigin(headers.Value("Referer"), own, listenAddress, true)) return RequestSource::OtherPage;
    if (fetchSite == "same-origin" || origins) return RequestSource::OwnPage;
    return RequestSource::Direct;
}
