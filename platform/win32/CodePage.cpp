#include "platform/CodePage.h"

#include <windows.h>

namespace platform {

namespace {

constexpr UINT kGbk = 936;

// Windows' table for code page 936 goes beyond GBK proper in two ways that
// iconv's does not: the user-defined and unassigned two-byte codes (lead
// bytes A1-A9, AA-AF, F8-FE and a few more) read as characters of the
// Private Use Area U+E000..U+F8FF, and characters without a GBK code are
// written as a "best fit" look-alike ("¢" as "￠", "ª" as "a"). Both systems
// must read and write the same bytes the same way, so those readings and
// writings are refused here, as iconv refuses them: no character of the
// Private Use Area comes out of or goes into code page 936.
bool IsPrivateUse(wchar_t c) { return c >= 0xE000 && c <= 0xF8FF; }

bool IsLeadByte(unsigned char c) { return c >= 0x81 && c <= 0xFE; }

// Converts bytes that must all be valid; false when one is not. Appends
// nothing on failure.
bool DecodeStrict(const char* bytes, int length, std::wstring& out) {
    int n = MultiByteToWideChar(kGbk, MB_ERR_INVALID_CHARS, bytes, length, nullptr, 0);
    if (n <= 0) return false;
    size_t at = out.size();
    out.resize(at + static_cast<size_t>(n));
    if (MultiByteToWideChar(kGbk, MB_ERR_INVALID_CHARS, bytes, length, out.data() + at, n) != n) {
        out.resize(at);
        return false;
    }
    for (size_t i = at; i < out.size(); ++i)
        if (IsPrivateUse(out[i])) {
            out.resize(at);
            return false;
        }
    return true;
}

}  // namespace

std::wstring Cp936ToWide(std::string_view bytes) {
    std::wstring out;
    if (bytes.empty()) return out;
    if (bytes.size() < 0x7FFFFFFF && DecodeStrict(bytes.data(), static_cast<int>(bytes.size()), out)) return out;
    // Some sequence is invalid: character by character, so that each invalid
    // or truncated sequence becomes one U+FFFD and decoding resumes at the
    // next byte (a lead byte whose trail byte is bad is one such sequence;
    // the trail byte is then read again on its own).
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
    // surrogate) is one character it cannot hold, written as one "?"; so is a
    // character of the Private Use Area.
    std::wstring held;
    held.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        wchar_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) ++i;
        held.push_back((c >= 0xD800 && c <= 0xDFFF) || IsPrivateUse(c) ? L'?' : c);
    }
    if (held.size() >= 0x7FFFFFFF) return std::string(held.size(), '?');
    const int length = static_cast<int>(held.size());
    // No best-fit look-alikes: a character without a code is a "?".
    const DWORD flags = WC_NO_BEST_FIT_CHARS;
    int n = WideCharToMultiByte(kGbk, flags, held.data(), length, nullptr, 0, "?", nullptr);
    if (n <= 0) return std::string(held.size(), '?');
    out.resize(static_cast<size_t>(n));
    if (WideCharToMultiByte(kGbk, flags, held.data(), length, out.data(), n, "?", nullptr) != n)
        return std::string(held.size(), '?');
    return out;
}

}  // namespace platform
