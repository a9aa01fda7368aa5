#pragma once

#include <string>
#include <string_view>

namespace sievekit {

// The value of one hexadecimal digit, either case; -1 for any other character.
inline int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// One level of percent-decoding: "%XX" becomes the byte; an escape without
// two hex digits stays as written. With plusIsBlank, "+" becomes a blank (the
// form encoding of queries).
std::string PercentDecode(std::string_view text, bool plusIsBlank);

}  // namespace sievekit
