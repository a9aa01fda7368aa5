#pragma once

#include <string>

// A processor of a complete response body held in memory: the HTML filter
// and the chunked and gzip decoders. Process may rewrite the body in place;
// true lets the body pass, false condemns it.
class CHTMLParser {
public:
    virtual ~CHTMLParser() = default;
    virtual bool Process(std::string& body) = 0;
};
