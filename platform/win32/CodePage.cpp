#include "platform/CodePage.h"

#include <windows.h>

namespace platform {

namespace {

constexpr UINT kGbk = 936;

// Converts bytes that must all be valid; false when one is not.
bool DecodeStrict(const char* bytes, int length, std::wstring& out) {
    int n = MultiByteToWideChar(kGbk, MB_ERR_INVALID_CHARS, bytes, length, nullptr, 0);
    if (n <= 0) return false;
    size_t at = out.size();
    out.resize(at + static_cast<size_t>(n));
    MultiByteToWideChar(kGbk, MB_ERR_INVALID_CHARS, bytes, length, out.data() + at, n);
    return true;
}

bool IsLeadByte(unsigned char c) { return c >= 0x81 && c <= 0xFE; }

}  // namespace

std::wstring Cp936ToWide(std::string_view bytes) {
    std::wstring out;
    if (bytes.empty()) return out;
    if (bytes.size() < 0x7FFFFFFF && DecodeStrict(bytes.data(), static_cast<int>(bytes.size()), out)) return out;
    // Some sequence is invalid: character by character, so that each invalid
    // or truncated sequence becomes one U+FFFD and decoding resumes at the
    // next byte.
    out.clear();
    size_t i = 0;
    while (i < bytes.size()) {
        auto c = static_cast<unsigned char>(bytes[i]);
        if (c < 0x80) {
            out.push_back(static_cast<wchar_t>(c));
            ++i;
        } else if (IsLeadByte(c) && i + 1 < bytes.size() && DecodeStrict(bytes.data() + i, 2, out)) {
            i += 2;
        } else if (!IsLeadByte(c) && DecodeStrict(bytes.data() + i, 1, out)) {
            ++i;
        } else {
            out.push_back(L'\xFFFD');
            ++i;
        }
    }
    return out;
}

std::string WideToCp936(std::wstring_view text) {
    std::string out;
    if (text.empty()) return out;
    // Code page 936 holds nothing beyond U+FFFF: a surrogate pair (or a lone
    // surrogate) is one character it cannot hold, written as one "?".
    std::wstring bmp;
    bmp.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        wchar_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) ++i;
        bmp.push_back(c >= 0xD800 && c <= 0xDFFF ? L'?' : c);
    }
    int length = static_cast<int>(bmp.size());
    int n = WideCharToMultiByte(kGbk, 0, bmp.data(), length, nullptr, 0, "?", nullptr);
    if (n <= 0) return std::string(bmp.size(), '?');
    out.resize(static_cast<size_t>(n));
    WideCharToMultiByte(kGbk, 0, bmp.data(), length, out.data(), n, "?", nullptr);
    return out;
}

}  // namespace platform
