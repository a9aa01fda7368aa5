#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

// Reads the number at the start of a text the way atoi does (leading white
// space skipped, an optional sign, digits up to the first non-digit, 0 when
// there are none), except that a value beyond the range of a signed 32-bit
// number saturates at the nearer end instead of wrapping.
template <typename Char>
int32_t LeadingDecimal(std::basic_string_view<Char> text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > kLimit) value = kLimit;  // more digits cannot bring it back into range
    }
    if (negative) return static_cast<int32_t>(-value);  // -2^31 at most
    return value >= kLimit ? std::numeric_limits<int32_t>::max() : static_cast<int32_t>(value);
}

// The parts of an absolute URL held as wide text. Only the host is used by the
// proxy (the Referer's host), but the other parts are read so that a URL that
// does not fit the form is recognised and yields no host.
class UrlParts {
public:
    enum class Scheme { Unknown, Ftp, Gopher, Http, Https, File, News, Mailto, Socks };

    static constexpr size_t kMaxScheme = 32;
    static constexpr size_t kMaxHost = 256;
    static constexpr size_t kMaxUser = 128;
    static constexpr size_t kMaxPassword = 128;
    static constexpr size_t kMaxPath = 2048;
    static constexpr size_t kMaxExtra = 2048;

    // Reads the URL; on false every part is cleared.
    bool Crack(const wchar_t* url);
    void Clear();

    std::wstring schemeName;
    Scheme scheme = Scheme::Unknown;
    std::wstring hostName;
    std::wstring userName;
    std::wstring password;
    std::wstring path;
    std::wstring extraInfo;  // from "?" or "#" on
    uint32_t port = 0;       // written port, else the scheme's usual one, else 0

private:
    bool CrackAuthority(std::wstring_view authority);
    bool SplitPath(std::wstring_view rest);
};
