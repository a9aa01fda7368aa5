// ResponseInfo on an origin server's response: the header block, its
// classification and the header edits made before the body is relayed.

#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "http/ResponseInfo.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string response(reinterpret_cast<const char*>(data), size);
    ResponseInfo info;
    info.TakeHeaderBlock(response);
    const size_t blank = response.find("\r\n\r\n");
    if (blank == std::string::npos) {
        FUZZ_CHECK(info.header.empty() && info.headerLength == 0);
        return 0;
    }
    FUZZ_CHECK(info.headerLength == static_cast<int32_t>(blank + 4));
    FUZZ_CHECK(response.compare(0, info.header.size(), info.header) == 0 && info.header.size() == blank + 4);
    FUZZ_CHECK(info.chunked == (info.header.find(ResponseInfo::kChunked) != std::string::npos));
    FUZZ_CHECK(info.isHtml == (info.header.find(ResponseInfo::kHtml) != std::string::npos));
    FUZZ_CHECK(info.isImage == (info.header.find(ResponseInfo::kImage) != std::string::npos));
    FUZZ_CHECK(info.header.find("Content-Length: ") != std::string::npos || info.contentLength == -1);

    // The edits keep one header block: its blank line stays the first one,
    // at its end, and the announced length reads back.
    const int length = static_cast<int>(size * 7) - 1000;
    info.MarkContentEncodingNone();
    info.MarkTransferEncodingNone();
    info.SetContentLength(length);
    FUZZ_CHECK(info.contentLength == length);
    FUZZ_CHECK(info.header.size() >= 4 && info.header.find("\r\n\r\n") == info.header.size() - 4);
    ResponseInfo reread;
    reread.TakeHeaderBlock(info.header);
    FUZZ_CHECK(reread.contentLength == length && reread.header == info.header);
    return 0;
}
