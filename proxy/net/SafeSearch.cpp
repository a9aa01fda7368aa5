#include "net/SafeSearch.h"

#include <cstddef>

namespace {

constexpr std::string_view kGoogle = "forcesafesearch.google.com";
constexpr std::string_view kBing = "strict.bing.com";
constexpr std::string_view kYouTube = "restrict.youtube.com";
constexpr std::string_view kDuckDuckGo = "safe.duckduckgo.com";

// Every host of the table, except Google's search hosts, which come in one
// form per country (below).
struct Mapping {
    std::string_view host;
    std::string_view addressName;
};
constexpr Mapping kHosts[] = {
    {"bing.com", kBing},
    {"www.bing.com", kBing},
    {"youtube.com", kYouTube},
    {"www.youtube.com", kYouTube},
    {"m.youtube.com", kYouTube},
    {"youtubei.googleapis.com", kYouTube},
    {"youtube.googleapis.com", kYouTube},
    {"www.youtube-nocookie.com", kYouTube},
    {"duckduckgo.com", kDuckDuckGo},
    {"www.duckduckgo.com", kDuckDuckGo},
};

bool IsLetters(std::string_view s, size_t n) {
    if (s.size() != n) return false;
    for (char c : s)
        if (c < 'a' || c > 'z') return false;
    return true;
}

// The endings Google's search hosts have: "com", "cat", a country code
// ("de"), or "com." / "co." and a country code ("com.hk", "co.uk").
bool IsGoogleSuffix(std::string_view s) {
    if (s == "com" || s == "cat" || IsLetters(s, 2)) return true;
    for (std::string_view second : {std::string_view("com."), std::string_view("co.")})
        if (s.starts_with(second) && IsLetters(s.substr(second.size()), 2)) return true;
    return false;
}

// "google.<suffix>" or "www.google.<suffix>".
bool IsGoogleSearchHost(std::string_view host) {
    if (host.starts_with("www.")) host.remove_prefix(4);
    return host.starts_with("google.") && IsGoogleSuffix(host.substr(7));
}

}  // namespace

std::string_view SafeSearchAddressName(std::string_view host) {
    if (!host.empty() && host.back() == '.') host.remove_suffix(1);
    // Every host of the table is short; a longer one is none of them.
    char buffer[32];
    if (host.empty() || host.size() > sizeof buffer) return {};
    for (size_t i = 0; i < host.size(); ++i) {
        char c = host[i];
        buffer[i] = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    const std::string_view lower(buffer, host.size());
    for (const Mapping& m : kHosts)
        if (lower == m.host) return m.addressName;
    if (IsGoogleSearchHost(lower)) return kGoogle;
    return {};
}
