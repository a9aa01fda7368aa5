// The URL decoders: PercentDecode, CStrCoding's two readings, and the URL
// keyword check that runs both over a request target.

#include <cstddef>
#include <cstdint>
#include <string>

#include <sievekit/CStrCoding.h>
#include <sievekit/CWordFilter.h>
#include <sievekit/PercentCoding.h>

#include "FuzzSupport.h"
#include "filter/UrlKeywordCheck.h"
#include "filter/WordFilterPair.h"

namespace {

WordFilterPair* words = nullptr;

std::string PercentEncodeAll(const std::string& bytes) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        out += '%';
        out += kHex[c >> 4];
        out += kHex[c & 15];
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    words = fuzzsupport::EnterFolderWithWordFilters("badword\n\xE8\x89\xB2\xE6\x83\x85\n");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    for (bool plus : {false, true}) {
        const std::string decoded = sievekit::PercentDecode(text, plus);
        FUZZ_CHECK(decoded.size() <= text.size());
        if (text.find('%') == std::string::npos && (!plus || text.find('+') == std::string::npos))
            FUZZ_CHECK(decoded == text);
    }
    // Every byte escaped comes back exactly, in both modes.
    const std::string escaped = PercentEncodeAll(text);
    FUZZ_CHECK(sievekit::PercentDecode(escaped, false) == text);
    FUZZ_CHECK(sievekit::PercentDecode(escaped, true) == text);

    CStrCoding coding;
    FUZZ_CHECK(coding.UrlGB2312Decode(text) == sievekit::PercentDecode(text, true));
    const std::string utf8 = coding.UrlUTF8Decode(text);
    (void)utf8;

    // The keyword check: a URL whose GB2312 reading is plain ASCII holding
    // "badword", with no exempt word in that reading, is filtered.
    const bool filtered = UrlKeywordCheck(words, text).Run();
    const std::string gb = coding.UrlGB2312Decode(text);
    bool ascii = true;
    for (unsigned char c : gb) ascii = ascii && c < 0x80;
    if (ascii && gb.find("badword") != std::string::npos && words->exempt->HasWord(gb) == 0) FUZZ_CHECK(filtered);
    return 0;
}
