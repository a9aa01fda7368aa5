#include "filter/UrlKeywordCheck.h"

#include <gtest/gtest.h>

#include <memory>

#include "support/TempFolder.h"

namespace {

// "色情" (blocked) and "学习" (exempt), percent-encoded both ways.
constexpr const char* kBlockedGb = "%C9%AB%C7%E9";
constexpr const char* kBlockedUtf8 = "%E8%89%B2%E6%83%85";
constexpr const char* kExemptGb = "%D1%A7%CF%B0";
constexpr const char* kExemptUtf8 = "%E5%AD%A6%E4%B9%A0";

class UrlKeywordCheckTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_.Write("Data/block_words.txt", "porn\n\xE8\x89\xB2\xE6\x83\x85\n");
        folder_.Write("Data/user_block_words.txt", "");
        folder_.Write("Data/exempt_words.txt", "\xE5\xAD\xA6\xE4\xB9\xA0\nsafesearch\n");
        block_.ReloadData(true);
        exempt_.ReloadData(true);
        words_.block = &block_;
        words_.exempt = &exempt_;
    }

    bool Check(const std::string& url) const { return UrlKeywordCheck(&words_, url).Run(); }

    testsupport::TempFolder folder_{true};
    CWordFilter block_{1};
    CWordFilter exempt_{0};
    WordFilterPair words_;
};

TEST_F(UrlKeywordCheckTest, FindsBlockedWordInEitherEncoding) {
    EXPECT_TRUE(Check(std::string("http://search.example/?q=") + kBlockedGb));
    EXPECT_TRUE(Check(std::string("http://search.example/?q=") + kBlockedUtf8));
    EXPECT_TRUE(Check("http://example.com/PORN/list"));  // plain text, any ASCII case
    EXPECT_FALSE(Check("http://example.com/news?q=%E6%96%B0%E9%97%BB"));
}

TEST_F(UrlKeywordCheckTest, ExemptWordClearsOnlyTheDecodingItIsFoundIn) {
    // Blocked and exempt word in the same encoding: exempt wins in both readings.
    EXPECT_FALSE(Check(std::string("http://s.example/?q=") + kBlockedGb + kExemptGb));
    EXPECT_FALSE(Check(std::string("http://s.example/?q=") + kBlockedUtf8 + kExemptUtf8));
    EXPECT_FALSE(Check("http://s.example/porn-safesearch"));
    // The exempt word read in GB2312 does not clear the blocked word read in UTF-8.
    EXPECT_TRUE(Check(std::string("http://s.example/?a=") + kExemptGb + "&b=" + kBlockedUtf8));
}

TEST_F(UrlKeywordCheckTest, UtfReadingStartsFromTheUndecodedUrl) {
    // "%25" decodes to "%": decoding twice would reveal the blocked word.
    EXPECT_FALSE(Check("http://s.example/?q=%25E8%2589%25B2%25E6%2583%2585"));
}

TEST_F(UrlKeywordCheckTest, EmptyUrlAndMissingFiltersPass) {
    EXPECT_FALSE(Check(""));
    EXPECT_FALSE(UrlKeywordCheck(nullptr, "http://example.com/porn").Run());
    WordFilterPair blockOnly{&block_, nullptr};
    EXPECT_TRUE(UrlKeywordCheck(&blockOnly, "http://example.com/porn-safesearch").Run());
}

}  // namespace
