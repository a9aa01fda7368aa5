// Keyword lists: which texts CWordFilter finds a listed word in.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SievekitTestFiles.h"
#include "sievekit/CWordFilter.h"
#include "support/TempFolder.h"

using testsupport::TempFolder;

namespace {

// A block filter holding exactly the given user words.
struct UserWords {
    explicit UserWords(const std::string& lines) {
        dir.Write("Data/user_block_words.txt", lines);
        filter.ReloadData(false);
    }
    bool Finds(const std::wstring& text) const { return filter.HasWord(text) != 0; }
    TempFolder dir{true};
    CWordFilter filter{1};
};

}  // namespace

class WordLists : public ::testing::Test {
protected:
    void SetUp() override {
        dir_.Write("Data/block_words.txt", "\xEF\xBB\xBF# product words\r\nSex\r\n" + sievetest::kUtf8SeQing +
                                               "\r\n\r\n  \xE8\xB5\x8C\xE5\x8D\x9A  \r\n");  // 赌博
        dir_.Write("Data/user_block_words.txt", "userword\n");
        dir_.Write("Data/exempt_words.txt", "sexuality\n");
    }
    TempFolder dir_{true};
};

TEST_F(WordLists, BlockListWithProductListFindsWordsAcrossAsciiCase) {
    CWordFilter block(1);
    block.ReloadData(true);
    EXPECT_EQ(block.WordCount(), 4u);
    for (const wchar_t* text : {L"big SEX here", L"sex", L"Sexy", L"色情网站", L"网上赌博", L"USERWORD!"})
        EXPECT_NE(block.HasWord(std::wstring(text)), 0) << text;
    for (const wchar_t* text : {L"", L"s e x", L"se", L"色", L"赌 博", L"see # product words here", L"user word"})
        EXPECT_EQ(block.HasWord(std::wstring(text)), 0) << text;
}

TEST_F(WordLists, BlockListWithoutProductListHasOnlyUserWords) {
    CWordFilter block(1);
    block.ReloadData(false);
    EXPECT_NE(block.HasWord(std::wstring(L"my userword")), 0);
    EXPECT_EQ(block.HasWord(std::wstring(L"sex")), 0);
    EXPECT_EQ(block.HasWord(std::wstring(L"色情")), 0);

    block.ReloadData(true);  // and back
    EXPECT_NE(block.HasWord(std::wstring(L"sex")), 0);

    dir_.Write("Data/user_block_words.txt", "another\n");
    block.ReloadData(true);
    EXPECT_EQ(block.HasWord(std::wstring(L"userword")), 0);
    EXPECT_NE(block.HasWord(std::wstring(L"another")), 0);
}

TEST_F(WordLists, ExemptListIgnoresTheBlockFilesWhateverTheFlag) {
    for (bool flag : {true, false}) {
        CWordFilter exempt(0);
        exempt.ReloadData(flag);
        EXPECT_NE(exempt.HasWord(std::wstring(L"SEXUALITY education")), 0) << flag;
        EXPECT_EQ(exempt.HasWord(std::wstring(L"sex")), 0) << flag;
        EXPECT_EQ(exempt.HasWord(std::wstring(L"userword")), 0) << flag;
    }
}

TEST_F(WordLists, NarrowTextIsCodePage936) {
    CWordFilter block(1);
    block.ReloadData(true);
    EXPECT_NE(block.HasWord(std::string("x" + sievetest::kGbkSeQing + "y")), 0);
    EXPECT_NE(block.HasWord(std::string("/search?q=SEX")), 0);
    // The UTF-8 bytes of the same word read as code page 936 are other characters.
    EXPECT_EQ(block.HasWord(sievetest::kUtf8SeQing), 0);
    EXPECT_EQ(block.HasWord(std::string()), 0);
}

TEST(WordMatching, GbkTrailBytesAreNotAsciiLetters) {
    // 丄 is 0x81 0x41 in code page 936: its second byte is the letter 'A'.
    UserWords words("ab\n");
    EXPECT_EQ(words.filter.HasWord(std::string("\x81\x41" "b")), 0);
    EXPECT_NE(words.filter.HasWord(std::string("\x81\x41" "Ab")), 0);
}

TEST(WordMatching, OverlappingWordsAndFailureLinks) {
    struct Case {
        const char* words;
        const wchar_t* text;
        bool found;
    };
    const Case cases[] = {
        {"he\nshe\nhis\nhers\n", L"ushers", true},
        {"abcd\nbcx\n", L"abcx", true},   // leave a long partial match for a shorter word
        {"abcd\nbc\n", L"abce", true},    // a word inside another
        {"abcd\nc\n", L"abce", true},     // a one-letter suffix of a partial match
        {"abcd\n", L"abce", false},
        {"aab\n", L"aaab", true},         // restart inside a repeated prefix
        {"abc\n", L"aabbcc", false},
        {"ab\nabcd\n", L"xab", true},     // a word that is a prefix of another
        {"xyz\nyz\n", L"xyyz", true},     // a word that is a suffix of another
        {"abab\n", L"abaabab", true},
        {"中文字\n文字游戏\n", L"中文字游", true},
        {"中文字\n文字游戏\n", L"中文游戏", false},
        {"中文字\n文字游戏\n", L"x中文字游戏", true},
        {"中文字\n文字游戏\n", L"中文文字游戏", true},
    };
    for (const auto& c : cases) {
        UserWords words(c.words);
        EXPECT_EQ(words.Finds(c.text), c.found) << c.words << " in " << testing::PrintToString(std::wstring(c.text));
    }
}

TEST(WordMatching, EmptyListsFindNothing) {
    {
        TempFolder noFiles(true);
        CWordFilter block(1);
        EXPECT_EQ(block.HasWord(std::wstring(L"anything")), 0);  // before any load
        block.ReloadData(true);
        EXPECT_EQ(block.WordCount(), 0u);
        EXPECT_EQ(block.HasWord(std::wstring(L"anything")), 0);
        EXPECT_EQ(block.HasWord(std::string("anything")), 0);
    }
    // Blank and comment lines must not become an empty word that is in every text.
    UserWords onlyBlanks("\n   \n\t\n# note\r\n\r\n");
    EXPECT_EQ(onlyBlanks.filter.WordCount(), 0u);
    EXPECT_FALSE(onlyBlanks.Finds(L"anything"));
    EXPECT_FALSE(onlyBlanks.Finds(L""));
}
