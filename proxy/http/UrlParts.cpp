#include "http/UrlParts.h"


namespace {

bool SameIgnoringCase(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        wchar_t x = a[i], y = b[i];
        if (x >= L'A' && x <= L'Z') x = static_cast<wchar_t>(x - L'A' + L'a');
        if (y >= L'A' && y <= L'Z') y = static_cast<wchar_t>(y - L'A' + L'a');
        if (x != y) return false;
    }
    return true;
}

UrlParts::Scheme KindOf(std::wstring_view name) {
    struct Known {
        const wchar_t* name;
        UrlParts::Scheme kind;
    };
    static constexpr Known known[] = {
        {L"ftp", UrlParts::Scheme::Ftp},       {L"gopher", UrlParts::Scheme::Gopher},
        {L"http", UrlParts::Scheme::Http},     {L"https", UrlParts::Scheme::Https},
        {L"file", UrlParts::Scheme::File},     {L"news", UrlParts::Scheme::News},
        {L"mailto", UrlParts::Scheme::Mailto}, {L"socks", UrlParts::Scheme::Socks},
    };
    for (const Known& k : known)
        if (SameIgnoringCase(name, k.name)) return k.kind;
    return UrlParts::Scheme::Unknown;
}

uint32_t UsualPort(UrlParts::Scheme kind) {
    switch (kind) {
        case UrlParts::Scheme::Ftp: return 21;
        case UrlParts::Scheme::Gopher: return 70;
        case UrlParts::Scheme::Http: return 80;
        case UrlParts::Scheme::Https: return 443;
        case UrlParts::Scheme::Socks: return 1080;
        case UrlParts::Scheme::Unknown:
        case UrlParts::Scheme::File:
        case UrlParts::Scheme::News:
        case UrlParts::Scheme::Mailto: return 0;
    }
    return 0;
}

// Letters first, then letters, digits, "+", "-" and ".".
bool IsSchemeName(std::wstring_view s) {
    if (s.empty()) return false;
    for (size_t i = 0; i < s.size(); ++i) {
        wchar_t c = s[i];
        bool letter = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
        bool other = (c >= L'0' && c <= L'9') || c == L'+' || c == L'-' || c == L'.';
        if (!letter && (i == 0 || !other)) return false;
    }
    return true;
}

}  // namespace

void UrlParts::Clear() {
    schemeName.clear();
    scheme = Scheme::Unknown;
    hostName.clear();
    userName.clear();
    password.clear();
    path.clear();
    extraInfo.clear();
    port = 0;
}

bool UrlParts::Crack(const wchar_t* url) {
    Clear();
    if (!url) return false;
    std::wstring_view text(url);
    size_t colon = text.find(L':');
    if (colon == std::wstring_view::npos || colon > kMaxScheme || !IsSchemeName(text.substr(0, colon))) {
        Clear();
        return false;
    }
    schemeName.assign(text.substr(0, colon));
    scheme = KindOf(schemeName);
    port = UsualPort(scheme);
    std::wstring_view rest = text.substr(colon + 1);

    bool ok;
    if (scheme == Scheme::File) {
        ok = rest.size() <= kMaxPath;
        if (ok) path.assign(rest);
    } else if (rest.starts_with(L"//") || !rest.starts_with(L"/")) {
        // With "//" or directly after the scheme: an authority comes first.
        if (rest.starts_with(L"//")) rest.remove_prefix(2);
        size_t end = rest.find_first_of(L"/?#");
        if (end == std::wstring_view::npos) end = rest.size();
        ok = CrackAuthority(rest.substr(0, end)) && SplitPath(rest.substr(end));
    } else {
        ok = SplitPath(rest);  // a single "/": no host
    }
    if (!ok) Clear();
    return ok;
}

bool UrlParts::CrackAuthority(std::wstring_view authority) {
    // Credentials end at the "@"; a second one is not allowed.
    size_t at = authority.find(L'@');
    if (at != std::wstring_view::npos) {
        if (authority.find(L'@', at + 1) != std::wstring_view::npos) return false;
        std::wstring_view credentials = authority.substr(0, at);
        size_t colon = credentials.find(L':');
        std::wstring_view user = credentials.substr(0, colon);
        std::wstring_view pass = colon == std::wstring_view::npos ? std::wstring_view{} : credentials.substr(colon + 1);
        if (user.size() > kMaxUser || pass.size() > kMaxPassword) return false;
        userName.assign(user);
        password.assign(pass);
        authority.remove_prefix(at + 1);
    }

    std::wstring_view host = authority;
    std::wstring_view portText;
    bool hasPort = false;
    if (authority.starts_with(L'[')) {
        // A bracketed IPv6 literal keeps its colons.
        size_t close = authority.find(L']');
        if (close == std::wstring_view::npos) return false;
        host = authority.substr(0, close + 1);
        std::wstring_view after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after[0] != L':') return false;
            portText = after.substr(1);
            hasPort = true;
        }
    } else if (size_t colon = authority.find(L':'); colon != std::wstring_view::npos) {
        host = authority.substr(0, colon);
        portText = authority.substr(colon + 1);
        hasPort = true;
    }
    if (host.size() > kMaxHost) return false;
    hostName.assign(host);
    if (hasPort) port = static_cast<uint32_t>(LeadingDecimal(portText));
    return true;
}

bool UrlParts::SplitPath(std::wstring_view rest) {
    size_t extra = rest.find_first_of(L"?#");
    std::wstring_view p = rest.substr(0, extra);
    std::wstring_view x = extra == std::wstring_view::npos ? std::wstring_view{} : rest.substr(extra);
    if (p.size() > kMaxPath || x.size() > kMaxExtra) return false;
    path.assign(p);
    extraInfo.assign(x);
    return true;
}
