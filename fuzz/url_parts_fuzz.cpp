// UrlParts::Crack on a URL (the Referer of a request), and the decimal
// reader used for its port.

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "http/UrlParts.h"

namespace {

bool Within(const std::wstring& url, const std::wstring& part) { return url.find(part) != std::wstring::npos; }

// atoi-like reading with the same saturation, through the C library.
int32_t ReferenceDecimal(const std::string& text) {
    const char* p = text.c_str();
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    if (!((*p >= '0' && *p <= '9') || ((*p == '+' || *p == '-') && p[1] >= '0' && p[1] <= '9'))) return 0;
    errno = 0;
    long long v = std::strtoll(p, nullptr, 10);
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(v);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Bytes as characters; a byte of 0xFF followed by two more makes one
    // character beyond Latin-1, so wide hosts are reached too. Stops at a NUL,
    // as the C string Crack reads does.
    std::wstring url;
    for (size_t i = 0; i < size && data[i] != 0; ++i) {
        if (data[i] == 0xFF && i + 2 < size && (data[i + 1] | data[i + 2]) != 0) {
            url.push_back(static_cast<wchar_t>(data[i + 1] << 8 | data[i + 2]));
            i += 2;
        } else {
            url.push_back(static_cast<wchar_t>(data[i]));
        }
    }

    UrlParts parts;
    const bool ok = parts.Crack(url.c_str());
    if (ok) {
        FUZZ_CHECK(url.starts_with(parts.schemeName + L":"));
        FUZZ_CHECK(Within(url, parts.hostName) && Within(url, parts.userName) && Within(url, parts.password));
        FUZZ_CHECK(Within(url, parts.path) && Within(url, parts.extraInfo));
        FUZZ_CHECK(parts.schemeName.size() <= UrlParts::kMaxScheme && parts.hostName.size() <= UrlParts::kMaxHost);
        FUZZ_CHECK(parts.userName.size() <= UrlParts::kMaxUser && parts.password.size() <= UrlParts::kMaxPassword);
        FUZZ_CHECK(parts.path.size() <= UrlParts::kMaxPath && parts.extraInfo.size() <= UrlParts::kMaxExtra);
        FUZZ_CHECK(parts.extraInfo.empty() || parts.extraInfo[0] == L'?' || parts.extraInfo[0] == L'#');
    } else {
        FUZZ_CHECK(parts.schemeName.empty() && parts.hostName.empty() && parts.path.empty() &&
                   parts.extraInfo.empty() && parts.userName.empty() && parts.password.empty() && parts.port == 0);
    }

    // The decimal reader agrees with strtoll clamped to 32 bits.
    const std::string narrow(reinterpret_cast<const char*>(data), size);
    const std::string cString = narrow.substr(0, narrow.find('\0'));
    FUZZ_CHECK(LeadingDecimal(std::string_view(cString)) == ReferenceDecimal(cString));
    return 0;
}
