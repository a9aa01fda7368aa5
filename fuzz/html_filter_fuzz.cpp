// The HTML filter on a decoded page, with the shipped keyword lists and page
// texts loaded. The first byte picks the configuration switches the filter
// reads; the rest is the page.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include <sievekit/CProxyConfig.h>
#include <sievekit/CWordFilter.h>

#include "FuzzSupport.h"
#include "filter/CHTMLFilter.h"
#include "filter/TipsStore.h"
#include "filter/WordFilterPair.h"

namespace {

WordFilterPair* words = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // A few more words, narrow (code page 936) and ASCII, so pages reach the
    // removal paths without guessing the shipped list.
    words = fuzzsupport::EnterFolderWithWordFilters("badword\nsecretpage\n\xC9\xAB\xC7\xE9\n");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t flags = data[0];
    ProxyData& config = ProxyConfig().Config();
    config.wordFilter = flags & 1;
    config.imageMode = (flags >> 1) % 3;
    config.showControl = (flags >> 3) & 1;
    config.jieseTips = (flags >> 4) & 1;
    config.xiuShenTips = (flags >> 5) & 1;

    const std::string page(reinterpret_cast<const char*>(data + 1), size - 1);
    std::string body = page;
    CHTMLFilter filter;
    filter.words = words;
    filter.noImage = (flags >> 6) & 1;
    const bool passed = filter.Process(body);
    if (!passed) FUZZ_CHECK(body.empty());
    FUZZ_CHECK(filter.anchorsRemoved <= filter.anchorsExamined && filter.anchorsExamined <= kMaxAnchorsExamined);

    // The anchor pass on its own: counts in range, and the page only shrinks.
    std::wstring wide;
    for (unsigned char c : page) wide.push_back(c);
    const size_t before = wide.size();
    const std::wstring title = ExtractTitle(wide);
    FUZZ_CHECK(wide.find(title) != std::wstring::npos);
    const AnchorCounts counts = FilterAnchors(wide, *words);
    FUZZ_CHECK(counts.removed <= counts.examined && counts.examined <= kMaxAnchorsExamined);
    FUZZ_CHECK(wide.size() <= before);
    FUZZ_CHECK(counts.removed > 0 || wide.size() == before);
    return 0;
}
