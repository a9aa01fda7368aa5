#pragma once

#include <cstdint>
#include <string>

// The header block of one origin response and the facts the response
// pipeline decides by. Every search is an exact, case-sensitive search for
// the first occurrence in the header block; the status line is never read.
struct ResponseInfo {
    bool chunked = false;        // "Transfer-Encoding: chunked\r\n"
    bool isHtml = false;         // " text/html", in any header
    bool isImage = false;        // "Content-Type: image"
    bool isVideo = false;        // "Content-Type: video" or flash
    int32_t headerLength = 0;    // bytes up to and including the first "\r\n\r\n"
    int32_t contentLength = 0;   // first "Content-Length: " value; -1 when there is none
    std::string header;          // the header block text

    static constexpr const char* kChunked = "Transfer-Encoding: chunked\r\n";
    static constexpr const char* kHtml = " text/html";
    static constexpr const char* kImage = "Content-Type: image";
    static constexpr const char* kVideo = "Content-Type: video";
    static constexpr const char* kFlash = "Content-Type: application/x-shockwave-flash";

    // Takes the header block from the response received so far (which holds
    // "\r\n\r\n"; without it nothing changes), then classifies it.
    void TakeHeaderBlock(const std::string& response);
    // Sets contentLength and the four flags from the header block.
    void Classify();
    void ReadContentLength();
    // Makes the header block announce `length`: the first Content-Length
    // line is rewritten, or one is inserted as the first header line.
    void SetContentLength(int length);
    // Rewrite the value of the first such line to "none"; a block without the
    // line is left as it is.
    void MarkContentEncodingNone();
    void MarkTransferEncodingNone();
};
