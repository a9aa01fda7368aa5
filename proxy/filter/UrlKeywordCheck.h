#pragma once

#include <string>

#include "filter/WordFilterPair.h"

// Whether a request URL carries a filtered keyword. Words in URLs arrive
// percent-encoded in GB2312 or in UTF-8, so the URL is decoded both ways and
// each decoding is tested on its own: an exempting word in one decoding does
// not clear the other. Built for one request, run once.
class UrlKeywordCheck {
public:
    UrlKeywordCheck(const WordFilterPair* words, std::string url) : words_(words), url_(std::move(url)) {}

    // True when the URL carries a filtered keyword.
    bool Run() const;

private:
    const WordFilterPair* words_;  // not owned
    std::string url_;              // the request target as written in the request line
};
