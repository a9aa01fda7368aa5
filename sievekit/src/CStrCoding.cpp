#include "sievekit/CStrCoding.h"

#include "sievekit/CUtility.h"
#include "sievekit/PercentCoding.h"
#include "TextFile.h"

std::string CStrCoding::UrlGB2312Decode(const std::string& text) const {
    // GB2312 bytes are already code page 936 text.
    return sievekit::PercentDecode(text, true);
}

std::string CStrCoding::UrlUTF8Decode(const std::string& text) const {
    std::wstring wide = sievekit::Utf8ToWide(sievekit::PercentDecode(text, true));
    return CUtility().wtoa(wide.c_str(), static_cast<int>(wide.size()));
}
