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
// one "?".
std::wstring Cp936ToWide(std::string_view bytes);
std::string WideToCp936(std::wstring_view text);

}  // namespace platform
