#include "TextFile.h"

#include <platform/File.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>

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
    std::ifstream in(PortablePath(path), std::ios::binary);
    if (!in) return false;
    std::ostringstream ss;
    ss << in.rdbuf();
    bytes = ss.str();
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

std::wstring Utf8ToWide(const std::string& bytes) {
    // Never more characters than bytes: written through a pointer, then cut.
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
        *o++ = static_cast<wchar_t>(cp);
        i += static_cast<size_t>(len);
    }
    out.resize(static_cast<size_t>(o - out.data()));
    return out;
}

std::string WideToUtf8(const std::wstring& text) {
    // Sized exactly first (a loop without branches), then written through a
    // pointer, ASCII first. Invalid code points are written as U+FFFD.
    const size_t n = text.size();
    const wchar_t* t = text.data();
    size_t bytes = n;
    for (size_t i = 0; i < n; ++i) {
        auto cp = static_cast<uint32_t>(t[i]);
        bytes += static_cast<size_t>(cp >= 0x80) + (cp >= 0x800) + (cp >= 0x10000) - (cp > 0x10FFFF);
    }
    std::string out(bytes, '\0');
    char* o = out.data();
    for (size_t i = 0; i < n; ++i) {
        auto cp = static_cast<uint32_t>(t[i]);
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
