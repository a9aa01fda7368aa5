#pragma once

#include <string>

// Text conversions. Narrow text is code page 936 (GBK); wide text is
// wchar_t. A length of -1 means "up to the terminating zero". Invalid input
// never fails: undecodable bytes become U+FFFD (wide) or '?' (narrow).
class CUtility {
public:
    std::wstring atow(const char* text, int length = -1) const;
    std::string wtoa(const wchar_t* text, int length = -1) const;
    std::wstring utf8_to_wstring(const std::string& text) const;
    std::string wstring_to_utf8(const std::wstring& text) const;
    // Non-zero when the bytes are valid UTF-8 (pure ASCII included).
    int detect_utf8(const char* text, int length = -1) const;
};
