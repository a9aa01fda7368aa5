// Code page 936 as both implementations must read and write it: iconv's
// CP936 on POSIX, MultiByteToWideChar / WideCharToMultiByte on Windows,
// whose tables differ at the edges. Each case is one of those edges.
#include "platform/CodePage.h"

#include <gtest/gtest.h>

#include <string>

using namespace std::string_literals;

namespace {

// Wide text from code points, so that a character beyond U+FFFF is spelled
// the OS's way (one wchar_t, or a surrogate pair where wchar_t is UTF-16).
std::wstring Wide(std::u32string_view codePoints) {
    std::wstring out;
    for (char32_t cp : codePoints) {
        if (sizeof(wchar_t) == 2 && cp >= 0x10000) {
            out.push_back(static_cast<wchar_t>(0xD800 + ((cp - 0x10000) >> 10)));
            out.push_back(static_cast<wchar_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<wchar_t>(cp));
        }
    }
    return out;
}

}  // namespace

TEST(CodePage936, EdgesReadAndWrittenAlikeOnEverySystem) {
    const struct {
        std::string bytes;
        std::u32string text;
    } reads[] = {
        {"\xD6\xD0\xCE\xC4 ok"s, U"中文 ok"},
        {"\x80"s, U"€"},                       // the one single byte above ASCII that is a character
        {"\xFF" "a"s, U"\uFFFDa"},             // never a lead byte
        {"a\xD6"s, U"a\uFFFD"},                // a lead byte cut off at the end
        {"\xD6 "s, U"\uFFFD "},               // a trail byte that cannot be one is read on its own
        {"\xD6\x7F"s, U"\uFFFD\x7F"},
        {"\xD6\xFF\xD0"s, U"\uFFFD\uFFFD\uFFFD"},
        // User-defined and unassigned codes: characters of the Private Use
        // Area in Windows' table, invalid in iconv's; the second byte then
        // starts over, here as the first byte of "丄".
        {"\xAA\xA1"s, U"\uFFFD\uFFFD"},
        {"\xA1\x40"s, U"\uFFFD@"},
        {"\xA1\x81\x41"s, U"\uFFFD丄"},
        {"\xFE\xFE" "b"s, U"\uFFFD\uFFFDb"},
        {"\0\x41"s, U"\0A"s},
    };
    for (const auto& c : reads) EXPECT_EQ(platform::Cp936ToWide(c.bytes), Wide(c.text)) << testing::PrintToString(c.bytes);

    const struct {
        std::u32string text;
        std::string bytes;
    } writes[] = {
        {U"中文 ok", "\xD6\xD0\xCE\xC4 ok"s},
        {U"€", "\x80"s},
        {U"\u00A2\u00AA\u00B2", "???"s},      // no look-alikes ("￠", "a", "2") for characters GBK lacks
        {U"\uE000\uF8FF", "??"s},             // nor codes for the Private Use Area
        {U"a\U0001F600b", "a?b"s},            // beyond U+FFFF: one "?" for the whole character
        {U"x\xD800y\xDC00", "x?y?"s},         // lone surrogates
        {U"\0z"s, "\0z"s},
    };
    for (const auto& c : writes) EXPECT_EQ(platform::WideToCp936(Wide(c.text)), c.bytes) << testing::PrintToString(c.bytes);

    // Every character that reads from two bytes writes back to those bytes.
    for (int lead = 0x81; lead <= 0xFE; ++lead)
        for (int trail = 0x40; trail <= 0xFE; ++trail) {
            const std::string bytes{static_cast<char>(lead), static_cast<char>(trail)};
            const std::wstring text = platform::Cp936ToWide(bytes);
            if (text.size() == 1 && text[0] != L'\xFFFD') {
                ASSERT_EQ(platform::WideToCp936(text), bytes) << lead << " " << trail;
            }
        }
}
