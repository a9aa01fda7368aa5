#pragma once

#include <string>

// Percent-decoding of URLs ("+" becomes a blank; an invalid escape stays as
// written), reading the decoded bytes as GB2312/GBK or as UTF-8. Both return
// code page 936 text.
class CStrCoding {
public:
    std::string UrlGB2312Decode(const std::string& text) const;
    std::string UrlUTF8Decode(const std::string& text) const;
};
