#pragma once

#include <string>
#include <string_view>

namespace platform {

// Code page 936 (GBK), the narrow text of the product's home systems, to wide
// text and back. Wide text is the OS's wchar_t text: UTF-32 on POSIX, UTF-16
// on Windows (a character beyond U+FFFF is a surrogate pair there).
// Decoding never fails: an invalid or truncated byte sequence becomes one
// U+FFFD and decoding resumes at the next byte. Encoding never fails either:
// a character code page 936 cannot hold (a lone surrogate included) becomes
// one "?". Both systems read and write the same bytes alike: the two-byte
// codes GBK leaves unassigned or to its users are invalid (no character of
// the Private Use Area comes out or goes in), and nothing is written as a
// look-alike of a character GBK lacks.
std::wstring Cp936ToWide(std::string_view bytes);
std::string WideToCp936(std::wstring_view text);

}  // namespace platform
