#pragma once

#include <string>
#include <string_view>

class TipsStore;

// The line that tells the injected script that the page's images were
// suppressed; it follows the inject script, which defines zelk_data.
inline constexpr std::string_view kNoImageScript = "<script>zelk_data.no_img='1'</script>\r\n";

// True when the page holds "</head>", "</body>" or "</html>".
bool HasCloseTag(std::string_view page);
// Inserts `text` right before the first "</head>", else the first "</body>",
// else the first "</html>"; without any of them nothing happens. Successive
// insertions thus appear in the order they were made.
void InsertBeforeClose(std::string& page, std::string_view text);
// Replaces every occurrence of `placeholder`; the search resumes after each
// replacement. Nothing happens for an empty text or placeholder, or when
// placeholder and replacement are equal.
void ReplacePlaceholder(std::string& text, std::string_view placeholder, std::string_view replacement);

// The bottom-tips page with one tip in place of its placeholder, as the
// switches jieseTips and xiuShenTips ask; empty when both are off.
std::string BuildTipsText(const TipsStore& store);
std::string BuildTipsText();

// Adds the tips text, the control panel (when showControl is on) and the
// inject script before the page's closing tag, encoded as the page is.
void InjectPage(std::string& page, bool utf8, const TipsStore& store);
void InjectPage(std::string& page, bool utf8);  // with the process-wide store

// Adds the no-image line before the page's closing tag.
void InsertNoImageScript(std::string& page);
