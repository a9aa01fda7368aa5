#pragma once

#include <string>
#include <string_view>

#include <sievekit/CUtility.h>

#include "filter/CHTMLParser.h"
#include "filter/WordFilterPair.h"

// Filters one decoded HTML body: condemns the page by its title, removes the
// anchors whose text carries a filtered keyword, adds tips, control panel
// and inject script, and suppresses images when the configuration asks.
// One object per body; several may run at once on different threads.
class CHTMLFilter : public CHTMLParser {
public:
    ~CHTMLFilter() override = default;
    // False (and the body emptied) when the title condemns the page; true
    // otherwise, with the body rewritten in its own encoding.
    bool Process(std::string& body) override;

    CUtility utility;
    WordFilterPair* words = nullptr;  // not owned
    double anchorsExamined = 0;
    double anchorsRemoved = 0;
    bool noImage = false;  // the site carries the no-image mark
};

// At most this many anchors are examined on one page.
inline constexpr int kMaxAnchorsExamined = 10001;

// The text between the first "<title>" and the next "</title>"; empty when
// either is missing.
std::wstring ExtractTitle(const std::wstring& page);

// The title check alone, for the first part of a page too long to be read
// whole: true when word filtering is on and the title, read as the filter
// reads it (UTF-8 when the bytes are, else code page 936), carries a filtered
// word. A character cut at the end of the bytes does not change the reading.
bool TitleCondemnsPage(std::string_view pagePrefix, const WordFilterPair& words);

// The text an anchor shows: the alt and title attributes of its first image,
// then its content with tags stripped; carriage returns, line feeds and tabs
// removed. `anchor` runs from "<a " through "/a>".
std::wstring AnchorText(std::wstring_view anchor);

struct AnchorCounts {
    int examined = 0;
    int removed = 0;
};

// Examines the page's anchors (at most kMaxAnchorsExamined) and erases those
// whose text is filtered, one occurrence per condemned anchor, first
// occurrence first.
AnchorCounts FilterAnchors(std::wstring& page, const WordFilterPair& words);
