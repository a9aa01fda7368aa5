#include <cstddef>
#include <string>

#include "tls/Leaf.h"

namespace tls {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHex(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// Dotted-quad IPv4: four decimal parts of at most 255, no leading zeros.
bool IsIPv4(const std::string& s, size_t from = 0) {
    int parts = 0;
    size_t i = from;
    for (;;) {
        const size_t start = i;
        int value = 0;
        while (i < s.size() && IsDigit(s[i]) && i - start < 3) value = value * 10 + (s[i++] - '0');
        const size_t digits = i - start;
        if (digits == 0 || value > 255 || (digits > 1 && s[start] == '0')) return false;
        if (++parts == 4) return i == s.size();
        if (i >= s.size() || s[i] != '.') return false;
        ++i;
    }
}

// IPv6 text: groups of 1 to 4 hex digits, at most one "::", optionally an
// IPv4 address in place of the last two groups. No zone index.
bool IsIPv6(const std::string& s) {
    if (s.size() < 2 || s.find(':') == std::string::npos) return false;
    int groups = 0;
    bool compressed = false;
    size_t i = 0;
    if (s.compare(0, 2, "::") == 0) {
        compressed = true;
        i = 2;
        if (i == s.size()) return true;
    } else if (s[0] == ':') {
        return false;
    }
    for (;;) {
        size_t start = i;
        while (i < s.size() && IsHex(s[i]) && i - start < 5) ++i;
        if (i < s.size() && s[i] == '.') {  // the IPv4 tail
            if (!IsIPv4(s, start)) return false;
            groups += 2;
            break;
        }
        const size_t digits = i - start;
        if (digits == 0 || digits > 4) return false;
        ++groups;
        if (i == s.size()) break;
        if (s[i] != ':') return false;
        ++i;
        if (i < s.size() && s[i] == ':') {
            if (compressed) return false;
            compressed = true;
            ++i;
            if (i == s.size()) break;
        } else if (i == s.size()) {
            return false;  // a single trailing ':'
        }
    }
    return compressed ? groups < 8 : groups == 8;
}

bool IsLabelChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || IsDigit(c) || c == '-' || c == '_';
}

}  // namespace

bool IsCertifiableHost(const std::string& host) {
    if (host.empty() || host.size() > 253) return false;
    if (IsIPv4(host) || IsIPv6(host)) return true;
    size_t label = 0;
    for (char c : host) {
        if (c == '.') {
            if (label == 0) return false;
            label = 0;
            continue;
        }
        if (!IsLabelChar(c) || ++label > 63) return false;
    }
    return label > 0;
}

}  // namespace tls
