#include "filter/UrlKeywordCheck.h"

#include <sievekit/CStrCoding.h>

bool UrlKeywordCheck::Run() const {
    if (!words_) return false;
    CStrCoding coding;
    if (TextIsFiltered(*words_, coding.UrlGB2312Decode(url_))) return true;
    // Decoded afresh from the URL, not from the GB2312 reading.
    return TextIsFiltered(*words_, coding.UrlUTF8Decode(url_));
}
