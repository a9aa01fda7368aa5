#include "sievekit/CStrCoding.h"

#include "sievekit/CUtility.h"
#include "TextFile.h"

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "%XX" becomes the byte, "+" a blank; an escape without two hex digits stays.
std::string PercentDecode(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '+') {
            out.push_back(' ');
        } else if (c == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
            out.push_back(static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2])));
            i += 2;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

}  // namespace

std::string CStrCoding::UrlGB2312Decode(const std::string& text) const {
    // GB2312 bytes are already code page 936 text.
    return PercentDecode(text);
}

std::string CStrCoding::UrlUTF8Decode(const std::string& text) const {
    std::wstring wide = sievekit::Utf8ToWide(PercentDecode(text));
    return CUtility().wtoa(wide.c_str(), static_cast<int>(wide.size()));
}
