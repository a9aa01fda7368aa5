#include "sievekit/CUtility.h"

#include <platform/CodePage.h>

#include <cstdint>
#include <cstring>
#include <cwchar>

#include "TextFile.h"

std::wstring CUtility::atow(const char* text, int length) const {
    if (!text) return {};
    size_t n = length < 0 ? std::strlen(text) : static_cast<size_t>(length);
    return platform::Cp936ToWide(std::string_view(text, n));
}

std::string CUtility::wtoa(const wchar_t* text, int length) const {
    if (!text) return {};
    size_t n = length < 0 ? std::wcslen(text) : static_cast<size_t>(length);
    return platform::WideToCp936(std::wstring_view(text, n));
}

std::wstring CUtility::utf8_to_wstring(const std::string& text) const { return sievekit::Utf8ToWide(text); }

std::string CUtility::wstring_to_utf8(const std::wstring& text) const { return sievekit::WideToUtf8(text); }

int CUtility::detect_utf8(const char* text, int length) const {
    if (!text) return 0;
    size_t n = length < 0 ? std::strlen(text) : static_cast<size_t>(length);
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    size_t i = 0;
    while (i < n) {
        // Eight ASCII bytes at a time.
        uint64_t word;
        if (i + 8 <= n && (std::memcpy(&word, s + i, 8), (word & 0x8080808080808080ULL) == 0)) {
            i += 8;
            continue;
        }
        unsigned char c = s[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        int len;
        char32_t cp;
        if (c >= 0xC2 && c <= 0xDF) len = 2, cp = c & 0x1F;
        else if (c >= 0xE0 && c <= 0xEF) len = 3, cp = c & 0x0F;
        else if (c >= 0xF0 && c <= 0xF4) len = 4, cp = c & 0x07;
        else return 0;
        if (i + len > n) return 0;
        for (int k = 1; k < len; ++k) {
            if ((s[i + k] & 0xC0) != 0x80) return 0;
            cp = (cp << 6) | (s[i + k] & 0x3F);
        }
        if (len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) return 0;
        if (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) return 0;
        i += static_cast<size_t>(len);
    }
    return 1;
}
