#include "filter/CHTMLFilter.h"

#include <sievekit/CProxyConfig.h>

#include <vector>

#include "filter/PageInjection.h"
#include "filter/TipsStore.h"

namespace {

constexpr std::wstring_view kAnchorOpen = L"<a ";
constexpr std::wstring_view kAnchorClose = L"/a>";

// Steps over one character of wide text, which is two wchar_t where wchar_t
// is UTF-16 and the character lies beyond U+FFFF (a surrogate pair): the
// character after a position, and the one before it.
bool IsPair(std::wstring_view text, size_t high) {
    return high + 1 < text.size() && text[high] >= 0xD800 && text[high] <= 0xDBFF && text[high + 1] >= 0xDC00 &&
           text[high + 1] <= 0xDFFF;
}
size_t UnitsAt(std::wstring_view text, size_t at) {
    if constexpr (sizeof(wchar_t) == 2) return IsPair(text, at) ? 2 : 1;
    return 1;
}
size_t UnitsBefore(std::wstring_view text, size_t end) {
    if constexpr (sizeof(wchar_t) == 2) return end >= 2 && IsPair(text, end - 2) ? 2 : 1;
    return 1;
}

// The value after `name` (past the equals sign and one quote character) up to
// the next double quote; false when the closing quote is missing.
bool AttributeValue(std::wstring_view tag, std::wstring_view name, std::wstring& out) {
    size_t at = tag.find(name);
    if (at == std::wstring_view::npos) return false;
    size_t quote = at + name.size();
    if (quote >= tag.size()) return false;
    size_t start = quote + UnitsAt(tag, quote);
    size_t end = tag.find(L'"', start);
    if (end == std::wstring_view::npos) return false;
    out.append(tag.substr(start, end - start));
    return true;
}

// Repeatedly erases from the last "<" before the first ">" through that ">",
// stopping at a ">" with no "<" before it. Done in one pass: the open "<"
// positions of the text kept so far form a stack.
std::wstring StripTags(std::wstring_view inner) {
    std::wstring out;
    out.reserve(inner.size());
    std::vector<size_t> opens;
    for (size_t i = 0; i < inner.size(); ++i) {
        wchar_t c = inner[i];
        if (c == L'>') {
            if (opens.empty()) {
                out.append(inner.substr(i));
                break;
            }
            out.resize(opens.back());
            opens.pop_back();
            continue;
        }
        if (c == L'<') opens.push_back(out.size());
        out.push_back(c);
    }
    return out;
}

}  // namespace

std::wstring ExtractTitle(const std::wstring& page) {
    size_t open = page.find(L"<title>");
    if (open == std::wstring::npos) return {};
    size_t close = page.find(L"</title>", open);
    if (close == std::wstring::npos) return {};
    return page.substr(open + 7, close - open - 7);
}

namespace {
// The bytes before a UTF-8 sequence that the end of `text` cuts short.
size_t WithoutCutCharacter(std::string_view text) {
    size_t back = 0;
    while (back < 3 && back < text.size() && (static_cast<unsigned char>(text[text.size() - 1 - back]) & 0xC0) == 0x80) ++back;
    if (back == text.size()) return text.size();
    const unsigned char lead = static_cast<unsigned char>(text[text.size() - 1 - back]);
    const size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    return length > back + 1 ? text.size() - 1 - back : text.size();
}
}  // namespace

bool TitleCondemnsPage(std::string_view pagePrefix, const WordFilterPair& words) {
    if (ProxyConfig().Config().wordFilter.load() == 0) return false;
    // "<title>" and "</title>" are single-byte characters in both readings,
    // so the title can be found in the bytes and only it converted.
    size_t open = pagePrefix.find("<title>");
    if (open == std::string_view::npos) return false;
    size_t close = pagePrefix.find("</title>", open);
    if (close == std::string_view::npos) return false;
    CUtility utility;
    const int whole = static_cast<int>(WithoutCutCharacter(pagePrefix));
    const bool utf8 = utility.detect_utf8(pagePrefix.data(), whole) != 0;
    const std::string title(pagePrefix.substr(open + 7, close - open - 7));
    const std::wstring text = utf8 ? utility.utf8_to_wstring(title) : utility.atow(title.data(), static_cast<int>(title.size()));
    return TextIsFiltered(words, text);
}

std::wstring AnchorText(std::wstring_view anchor) {
    std::wstring result;
    size_t gt = anchor.find(L'>');
    if (gt == std::wstring_view::npos) return result;
    size_t close = anchor.find(kAnchorClose, gt);
    if (close == std::wstring_view::npos || close <= gt + 1) return result;
    // Up to the character before "/a>" (the "<" of the closing tag).
    std::wstring_view inner = anchor.substr(gt + 1, close - UnitsBefore(anchor, close) - (gt + 1));

    size_t img = inner.find(L"<img ");
    if (img != std::wstring_view::npos) {
        size_t imgEnd = inner.find(L'>', img);
        std::wstring_view tag = inner.substr(img, imgEnd == std::wstring_view::npos ? std::wstring_view::npos : imgEnd - img + 1);
        AttributeValue(tag, L"alt=", result);
        AttributeValue(tag, L"title=", result);
    }
    result += StripTags(inner);
    std::erase_if(result, [](wchar_t c) { return c == L'\r' || c == L'\n' || c == L'\t'; });
    return result;
}

namespace {

struct Span {
    size_t start, length;
};

// Erases each condemned anchor's first occurrence in turn, searching the
// whole page each time: the defining form, used when the quick one may differ.
void EraseFirstOccurrences(std::wstring& page, const std::vector<Span>& condemned) {
    std::vector<std::wstring> texts;
    texts.reserve(condemned.size());
    for (const auto& c : condemned) texts.push_back(page.substr(c.start, c.length));
    for (const auto& text : texts) {
        size_t at = page.find(text);
        if (at != std::wstring::npos) page.erase(at, text.size());
    }
}

// Cuts the condemned anchors out at their own places in one pass. This equals
// erasing first occurrences in turn unless an earlier copy of an anchor's text
// exists by then. An earlier copy would have to begin with "<a ": at a
// scanned anchor (impossible: the same text gets the same verdict, so it is
// gone already), at an "<a " inside an anchor (the caller rules that out), or
// at an "<a " or "/a>" formed where a cut joins the text (checked here).
// False, with the page untouched, when a cut would form one.
bool CutInPlace(std::wstring& page, const std::vector<Span>& condemned) {
    std::wstring out;
    out.reserve(page.size());
    size_t kept = 0;
    for (const auto& c : condemned) {
        out.append(page, kept, c.start - kept);
        kept = c.start + c.length;
        std::wstring joint = out.substr(out.size() < 2 ? 0 : out.size() - 2) + page.substr(kept, 2);
        if (joint.find(kAnchorOpen) != std::wstring::npos || joint.find(kAnchorClose) != std::wstring::npos) return false;
    }
    out.append(page, kept, std::wstring::npos);
    page.swap(out);
    return true;
}

}  // namespace

AnchorCounts FilterAnchors(std::wstring& page, const WordFilterPair& words) {
    AnchorCounts counts;
    std::vector<Span> condemned;
    bool nestedOpen = false;  // an "<a " inside an anchor
    size_t pos = 0;
    for (;;) {
        size_t open = page.find(kAnchorOpen, pos);
        if (open == std::wstring::npos) break;
        size_t close = page.find(kAnchorClose, open);
        if (close == std::wstring::npos) break;
        std::wstring_view anchor = std::wstring_view(page).substr(open, close + kAnchorClose.size() - open);
        nestedOpen = nestedOpen || anchor.find(kAnchorOpen, 1) != std::wstring_view::npos;
        std::wstring text = AnchorText(anchor);
        if (!text.empty() && TextIsFiltered(words, text)) condemned.push_back({open, anchor.size()});
        if (++counts.examined >= kMaxAnchorsExamined) break;
        pos = close + kAnchorClose.size();
    }
    counts.removed = static_cast<int>(condemned.size());
    if (condemned.empty()) return counts;
    if (nestedOpen || !CutInPlace(page, condemned)) EraseFirstOccurrences(page, condemned);
    return counts;
}

bool CHTMLFilter::Process(std::string& body) {
    static const WordFilterPair kNoWords;
    const WordFilterPair& filters = words ? *words : kNoWords;
    ProxyData& config = ProxyConfig().Config();
    const int bodyLength = static_cast<int>(body.size());

    const bool utf8 = utility.detect_utf8(body.data(), bodyLength) != 0;
    std::wstring page = utf8 ? utility.utf8_to_wstring(body) : utility.atow(body.data(), bodyLength);
    const bool unconvertible = !utf8 && page.empty();

    if (config.wordFilter.load() != 0 && TextIsFiltered(filters, ExtractTitle(page))) {
        body.clear();
        return false;
    }
    if (unconvertible) return true;

    AnchorCounts counts = FilterAnchors(page, filters);
    anchorsExamined = counts.examined;
    anchorsRemoved = counts.removed;

    auto store = TipsStore::Ensure();

    body = utf8 ? utility.wstring_to_utf8(page) : utility.wtoa(page.data(), static_cast<int>(page.size()));
    if (store) InjectPage(body, utf8, *store);

    const int imageMode = config.imageMode.load();
    if (imageMode != 0 && (imageMode == 1 || noImage)) {
        InsertNoImageScript(body);
        for (size_t at = 0; (at = body.find("<img ", at)) != std::string::npos; at += 5) body.replace(at, 5, "<iii ");
    }
    return true;
}
