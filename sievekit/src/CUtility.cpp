#include "sievekit/CUtility.h"

#include <iconv.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <cwchar>

#include "TextFile.h"

namespace {

// iconv descriptors are not shareable between threads; each thread keeps its
// own pair, opened on first use.
struct Converters {
    iconv_t toWide = iconv_t(-1);
    iconv_t toNarrow = iconv_t(-1);
    Converters() {
        toWide = iconv_open("WCHAR_T", "CP936");
        toNarrow = iconv_open("CP936", "WCHAR_T");
    }
    ~Converters() {
        if (toWide != iconv_t(-1)) iconv_close(toWide);
        if (toNarrow != iconv_t(-1)) iconv_close(toNarrow);
    }
};

Converters& ThreadConverters() {
    thread_local Converters c;
    return c;
}

}  // namespace

std::wstring CUtility::atow(const char* text, int length) const {
    if (!text) return {};
    size_t n = length < 0 ? std::strlen(text) : static_cast<size_t>(length);
    std::wstring out;
    if (n == 0) return out;
    iconv_t cd = ThreadConverters().toWide;
    if (cd == iconv_t(-1)) {  // no converter: keep ASCII, mark the rest
        for (size_t i = 0; i < n; ++i)
            out.push_back(static_cast<unsigned char>(text[i]) < 0x80 ? text[i] : L'\xFFFD');
        return out;
    }
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(text);
    size_t inLeft = n;
    std::wstring buf(n + 1, L'\0');
    while (inLeft > 0) {
        char* outp = reinterpret_cast<char*>(buf.data());
        size_t outLeft = buf.size() * sizeof(wchar_t);
        size_t r = iconv(cd, &in, &inLeft, &outp, &outLeft);
        out.append(buf.data(), (buf.size() * sizeof(wchar_t) - outLeft) / sizeof(wchar_t));
        if (r != size_t(-1)) break;
        if (errno == E2BIG) continue;
        // An invalid or truncated sequence: one replacement, then resync on the next byte.
        out.push_back(L'\xFFFD');
        ++in;
        --inLeft;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    return out;
}

std::string CUtility::wtoa(const wchar_t* text, int length) const {
    if (!text) return {};
    size_t n = length < 0 ? std::wcslen(text) : static_cast<size_t>(length);
    std::string out;
    if (n == 0) return out;
    iconv_t cd = ThreadConverters().toNarrow;
    if (cd == iconv_t(-1)) {
        for (size_t i = 0; i < n; ++i) out.push_back(text[i] < 0x80 ? static_cast<char>(text[i]) : '?');
        return out;
    }
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* in = reinterpret_cast<char*>(const_cast<wchar_t*>(text));
    size_t inLeft = n * sizeof(wchar_t);
    std::string buf(n * 2 + 8, '\0');
    while (inLeft > 0) {
        char* outp = buf.data();
        size_t outLeft = buf.size();
        size_t r = iconv(cd, &in, &inLeft, &outp, &outLeft);
        out.append(buf.data(), buf.size() - outLeft);
        if (r != size_t(-1)) break;
        if (errno == E2BIG) continue;
        // A character code page 936 cannot hold.
        out.push_back('?');
        in += sizeof(wchar_t);
        inLeft -= inLeft >= sizeof(wchar_t) ? sizeof(wchar_t) : inLeft;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    return out;
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
