// Text conversions (code page 936, UTF-8, wide) and URL decoding, above all
// on input that is not well formed.
#include <gtest/gtest.h>

#include <string>

#include "SievekitTestFiles.h"
#include "sievekit/CStrCoding.h"
#include "sievekit/CUtility.h"

using namespace std::string_literals;

TEST(CodePage936, NarrowToWide) {
    CUtility u;
    EXPECT_EQ(u.atow(sievetest::kGbkZhongWen.c_str(), -1), L"中文");
    EXPECT_EQ(u.atow("ab\0cd", -1), L"ab");                       // -1 stops at the zero
    EXPECT_EQ(u.atow("a\0b", 3), L"a\0b"s);                       // an explicit length does not
    EXPECT_EQ(u.atow(sievetest::kGbkZhongWen.c_str(), 2), L"中");  // and may stop early
    EXPECT_EQ(u.atow("\x81\x41\x80", -1), L"丄€");
    EXPECT_EQ(u.atow("", -1), L"");
    EXPECT_EQ(u.atow(nullptr, -1), L"");
}

TEST(CodePage936, InvalidNarrowBytesBecomeOneReplacementEachAndTheRestSurvives) {
    CUtility u;
    EXPECT_EQ(u.atow("a\xD6", -1), L"a\xFFFD");                      // lead byte at the very end
    EXPECT_EQ(u.atow(sievetest::kGbkZhongWen.c_str(), 3), L"中\xFFFD");  // length cuts a character
    EXPECT_EQ(u.atow("\xD6 b", -1), L"\xFFFD b");                    // lead byte without a trail byte
    EXPECT_EQ(u.atow("\xFF" "ok\xD6\xD0", -1), L"\xFFFDok中");
}

TEST(CodePage936, WideToNarrow) {
    CUtility u;
    EXPECT_EQ(u.wtoa(L"中文abc", -1), sievetest::kGbkZhongWen + "abc");
    EXPECT_EQ(u.wtoa(L"中文", 1), "\xD6\xD0");
    EXPECT_EQ(u.wtoa(L"a\0b", 3), "a\0b"s);
    EXPECT_EQ(u.wtoa(L"a\0b", -1), "a");
    // Characters code page 936 cannot hold: an emoji, a Hangul syllable, a lone surrogate.
    EXPECT_EQ(u.wtoa(L"a😀b한c", -1), "a?b?c");
    EXPECT_EQ(u.wtoa(L"x\xD800y", -1), "x?y");
    // Round trip through both conversions.
    const std::wstring mixed = L"Title 标题 한 測試";
    EXPECT_EQ(u.atow(u.wtoa(mixed.c_str(), -1).c_str(), -1), L"Title 标题 ? 測試");
}

TEST(Utf8Conversion, ValidTextBothWays) {
    CUtility u;
    const std::string utf8 = "a\xE4\xB8\xAD\xC3\xA9\xF0\x9F\x98\x80";  // a中é😀
    EXPECT_EQ(u.utf8_to_wstring(utf8), L"a中é😀");
    EXPECT_EQ(u.wstring_to_utf8(L"a中é😀"), utf8);
    EXPECT_EQ(u.utf8_to_wstring("x\0y"s), L"x\0y"s);
    EXPECT_EQ(u.wstring_to_utf8(L"x\0y"s), "x\0y"s);
}

TEST(Utf8Conversion, InvalidBytesNeverDecodeToOtherCharacters) {
    CUtility u;
    // Overlong forms of "/" must not come out as "/".
    EXPECT_EQ(u.utf8_to_wstring("\xC0\xAF"), L"\xFFFD\xFFFD");
    EXPECT_EQ(u.utf8_to_wstring("\xE0\x80\xAF").find(L'/'), std::wstring::npos);
    EXPECT_EQ(u.utf8_to_wstring("\xF0\x80\x80\xAF").find(L'/'), std::wstring::npos);
    // Encoded surrogates and code points above U+10FFFF.
    for (const char* bad : {"\xED\xA0\x80", "\xF4\x90\x80\x80", "\xF8\x88\x80\x80\x80", "\xFF"}) {
        std::wstring w = u.utf8_to_wstring(bad);
        ASSERT_FALSE(w.empty()) << bad;
        for (wchar_t c : w) EXPECT_EQ(c, L'\xFFFD') << bad;
    }
    // A truncated sequence does not swallow what follows.
    EXPECT_EQ(u.utf8_to_wstring("\xE4\xB8" "ab"), L"\xFFFD\xFFFD" L"ab");
    EXPECT_EQ(u.utf8_to_wstring("\xE4\xB8"), L"\xFFFD\xFFFD");
    // A wide text that is no character is written as U+FFFD.
    EXPECT_EQ(u.wstring_to_utf8(L"a\xDC00"), "a\xEF\xBF\xBD");
}

TEST(Utf8Conversion, CharactersBeyondTheBasicPlaneAndStraySurrogates) {
    CUtility u;
    // The first and the last character beyond U+FFFF, each one character of
    // wide text (a surrogate pair where wchar_t is UTF-16), both ways.
    const std::string edges = "\xF0\x90\x80\x80|\xF4\x8F\xBF\xBF";
    EXPECT_EQ(u.utf8_to_wstring(edges), L"\U00010000|\U0010FFFF");
    EXPECT_EQ(u.wstring_to_utf8(L"\U00010000|\U0010FFFF"), edges);
    // Surrogates that do not form a pair are no characters: one U+FFFD each.
    const std::string bad = "\xEF\xBF\xBD";
    EXPECT_EQ(u.wstring_to_utf8(std::wstring{L'\xDC00', L'\xD800'}), bad + bad);
    EXPECT_EQ(u.wstring_to_utf8(std::wstring{L'\xD83D', L'x', L'\xD83D'}), bad + "x" + bad);
    // Code page 936 holds none of them: one "?" per character.
    EXPECT_EQ(u.wtoa(u.utf8_to_wstring(edges).c_str(), -1), "?|?");
    EXPECT_EQ(CStrCoding().UrlUTF8Decode("a%F0%9F%98%80b"), "a?b");
}

TEST(Utf8Detection, AcceptsOnlyWellFormedText) {
    CUtility u;
    EXPECT_NE(u.detect_utf8("plain ascii / text?", -1), 0);
    EXPECT_NE(u.detect_utf8("\xE4\xB8\xAD\xE6\x96\x87 \xC3\xA9 \xF0\x9F\x98\x80", -1), 0);
    EXPECT_NE(u.detect_utf8("\xEF\xBF\xBF\xF4\x8F\xBF\xBF", -1), 0);  // highest 3- and 4-byte forms
    EXPECT_EQ(u.detect_utf8(sievetest::kGbkZhongWen.c_str(), -1), 0);
    for (const char* bad : {"\xC0\xAF", "\xC1\xBF", "\xE0\x80\xAF", "\xE0\x9F\xBF", "\xF0\x80\x80\xAF",
                            "\xF0\x8F\xBF\xBF", "\xED\xA0\x80", "\xED\xBF\xBF", "\xF4\x90\x80\x80", "\xF5\x80\x80\x80",
                            "\xFF", "\x80", "a\xBF", "\xE4\xB8", "\xE4\xB8" "a", "\xF0\x9F\x98"})
        EXPECT_EQ(u.detect_utf8(bad, -1), 0) << testing::PrintToString(std::string(bad));
}

TEST(Utf8Detection, LengthDecidesHowFarToLook) {
    CUtility u;
    const char zhong[] = "\xE4\xB8\xAD";
    EXPECT_NE(u.detect_utf8(zhong, 3), 0);
    EXPECT_EQ(u.detect_utf8(zhong, 2), 0);  // the cut leaves a truncated sequence
    EXPECT_NE(u.detect_utf8("ok\0\xFF", -1), 0);
    EXPECT_EQ(u.detect_utf8("ok\0\xFF", 4), 0);
    EXPECT_NE(u.detect_utf8("a\0\xE4\xB8\xAD", 5), 0);
}

TEST(UrlDecoding, EscapesPlusAndMalformedEscapes) {
    CStrCoding c;
    struct Case {
        std::string in, out;
    };
    const Case cases[] = {
        {"a+b", "a b"},       {"%41", "A"},         {"%4a%4A", "JJ"},     {"%2B", "+"},
        {"%4", "%4"},         {"%zz", "%zz"},       {"%4g", "%4g"},       {"abc%", "abc%"},
        {"%%41", "%A"},       {"100%25", "100%"},   {"a%00b", "a\0b"s},   {"", ""},
        {"/p?q=x%20y&r=1+2", "/p?q=x y&r=1 2"},
    };
    for (const auto& k : cases) {
        EXPECT_EQ(c.UrlGB2312Decode(k.in), k.out) << k.in;
        EXPECT_EQ(c.UrlUTF8Decode(k.in), k.out) << k.in;
    }
}

TEST(UrlDecoding, ChineseEscapesInEitherEncodingComeOutAsCodePage936) {
    CStrCoding c;
    const std::string gbEscaped = "/s?wd=%C9%AB%c7%e9";
    const std::string utf8Escaped = "/s?wd=%E8%89%B2%E6%83%85";
    EXPECT_EQ(c.UrlGB2312Decode(gbEscaped), "/s?wd=" + sievetest::kGbkSeQing);
    EXPECT_EQ(c.UrlUTF8Decode(utf8Escaped), "/s?wd=" + sievetest::kGbkSeQing);
    // Read the wrong way, neither spells the word.
    EXPECT_EQ(c.UrlGB2312Decode(utf8Escaped).find(sievetest::kGbkSeQing), std::string::npos);
    EXPECT_EQ(c.UrlUTF8Decode(gbEscaped).find(sievetest::kGbkSeQing), std::string::npos);
    // Escapes that do not decode stay as written beside those that do.
    EXPECT_EQ(c.UrlUTF8Decode("%zz%E4%B8%AD%"), "%zz\xD6\xD0%");
    // Raw (unescaped) UTF-8 in the URL is read as UTF-8 too.
    EXPECT_EQ(c.UrlUTF8Decode("q=" + sievetest::kUtf8SeQing), "q=" + sievetest::kGbkSeQing);
}
