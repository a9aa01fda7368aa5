#include "TextFile.h"

#include <platform/File.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <type_traits>

namespace sievekit {

namespace {
std::string PortablePath(const std::string& path) {
    std::string p = path;
    for (char& c : p)
        if (c == '\\') c = '/';
    return p;
}
}  // namespace

bool ReadTextFile(const std::string& path, std::string& bytes) {
    // Through the platform's read, which lets a save replace the file while
    // it is being read (a plain stream would make that save fail on Windows).
    if (!platform::ReadWholeFile(PortablePath(path), bytes)) return false;
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
    return true;
}

std::vector<std::string> SplitLines(const std::string& bytes) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        if (end == std::string::npos) end = bytes.size();
        std::string line = bytes.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}

bool WriteFileAtomically(const std::string& path, const std::string& bytes) {
    std::string target = PortablePath(path);
    // Each write gets a temporary file of its own: two threads saving the same
    // file must not write into one temporary file, or one of them would rename
    // the other's half-written bytes into place.
    static std::atomic<unsigned> sequence{0};
    std::string tmp = target + ".tmp." + std::to_string(platform::CurrentProcessNumber()) + "." +
                      std::to_string(++sequence);
    return platform::ReplaceFileWith(target, tmp, bytes);
}

namespace {

// One code point as wide text: itself where wchar_t holds 32 bits, a
// surrogate pair beyond U+FFFF where it holds UTF-16 (Windows).
inline wchar_t* PutCodePoint(wchar_t* o, char32_t cp) {
    if constexpr (sizeof(wchar_t) == 2) {
        if (cp >= 0x10000) {
            cp -= 0x10000;
            *o++ = static_cast<wchar_t>(0xD800 + (cp >> 10));
            *o++ = static_cast<wchar_t>(0xDC00 + (cp & 0x3FF));
            return o;
        }
    }
    *o++ = static_cast<wchar_t>(cp);
    return o;
}

// The code point that starts at t[i], and how many wchar_t it takes. A lone
// surrogate or a value beyond U+10FFFF is returned as it is (the caller
// writes U+FFFD for it); only UTF-16 joins a pair.
inline char32_t TakeCodePoint(const wchar_t* t, size_t n, size_t& i) {
    auto cp = static_cast<char32_t>(static_cast<std::make_unsigned_t<wchar_t>>(t[i++]));
    if constexpr (sizeof(wchar_t) == 2) {
        if (cp >= 0xD800 && cp <= 0xDBFF && i < n && t[i] >= 0xDC00 && t[i] <= 0xDFFF)
            cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<char32_t>(t[i++]) - 0xDC00);
    }
    return cp;
}

}  // namespace

std::wstring Utf8ToWide(const std::string& bytes) {
    // Never more wchar_t than bytes (a four-byte sequence gives at most two):
    // written through a pointer, then cut.
    std::wstring out(bytes.size(), L'\0');
    wchar_t* o = out.data();
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    size_t n = bytes.size(), i = 0;
    while (i < n) {
        unsigned char c = s[i];
        if (c < 0x80) {
            do *o++ = s[i++];
            while (i < n && s[i] < 0x80);
            continue;
        }
        int len = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c <= 0xDF ? 2 : 0;
        if (c >= 0xF5) len = 0;
        char32_t cp = len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
        bool ok = len > 0 && i + len <= n;
        for (int k = 1; ok && k < len; ++k) {
            if ((s[i + k] & 0xC0) != 0x80) ok = false;
            else cp = (cp << 6) | (s[i + k] & 0x3F);
        }
        if (ok && ((len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
                   (len == 4 && (cp < 0x10000 || cp > 0x10FFFF))))
            ok = false;
        if (!ok) {
            *o++ = 0xFFFD;
            ++i;
            continue;
        }
        o = PutCodePoint(o, cp);
        i += static_cast<size_t>(len);
    }
    out.resize(static_cast<size_t>(o - out.data()));
    return out;
}

std::string WideToUtf8(const std::wstring& text) {
    // Sized exactly first, then written through a pointer, ASCII first.
    // Invalid code points (lone surrogates, values beyond U+10FFFF) are
    // written as U+FFFD.
    const size_t n = text.size();
    const wchar_t* t = text.data();
    auto encodedSize = [](char32_t cp) -> size_t {
        if (cp < 0x80) return 1;
        if (cp < 0x800) return 2;
        if (cp < 0x10000 || cp > 0x10FFFF) return 3;  // U+FFFD for the invalid ones
        return 4;
    };
    size_t bytes = 0;
    if constexpr (sizeof(wchar_t) == 2) {
        for (size_t i = 0; i < n;) bytes += encodedSize(TakeCodePoint(t, n, i));
    } else {
        // One wchar_t per code point: a loop without branches.
        bytes = n;
        for (size_t i = 0; i < n; ++i) {
            auto cp = static_cast<uint32_t>(t[i]);
            bytes += static_cast<size_t>(cp >= 0x80) + (cp >= 0x800) + (cp >= 0x10000) - (cp > 0x10FFFF);
        }
    }
    std::string out(bytes, '\0');
    char* o = out.data();
    for (size_t i = 0; i < n;) {
        char32_t cp = TakeCodePoint(t, n, i);
        if (cp < 0x80) {
            *o++ = static_cast<char>(cp);
            continue;
        }
        if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = 0xFFFD;
        if (cp < 0x800) {
            *o++ = static_cast<char>(0xC0 | (cp >> 6));
            *o++ = static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            *o++ = static_cast<char>(0xE0 | (cp >> 12));
            *o++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            *o++ = static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            *o++ = static_cast<char>(0xF0 | (cp >> 18));
            *o++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            *o++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            *o++ = static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

}  // namespace sievekit
