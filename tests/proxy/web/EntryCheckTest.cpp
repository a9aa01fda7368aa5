// Entries that would match nearly every site or picture are refused before
// any command runs; real sites and fragments pass as they are.
#include <gtest/gtest.h>

#include "web/EntryCheck.h"

namespace {

EntryVerdict Check(const char* suffix, const char* parameter) {
    SuffixAndParameter c;
    c.suffix = suffix;
    c.hasParameter = parameter != nullptr;
    c.parameter = parameter ? parameter : "";
    return CheckEntry(c);
}

}  // namespace

TEST(EntryCheckTest, DomainsOfOneLabelOrOnlyACountrySuffixAreRefused) {
    for (const char* suffix : {".black", ".white", ".noimg"}) {
        for (const char* p : {"com", "COM", ".com", "com.", "..com..", " com\t", "localhost", "cn"})
            EXPECT_EQ(Check(suffix, p), EntryVerdict::TooFewLabels) << suffix << " " << p;
        for (const char* p : {"com.cn", "net.cn", "org.cn", "com.hk", "cn.com", "com.tw", "com.au", "net.au", "gov.cn",
                              "ac.cn", "COM.CN", ".com.cn", "com.cn."})
            EXPECT_EQ(Check(suffix, p), EntryVerdict::WholeCountrySuffix) << suffix << " " << p;
        for (const char* p : {"example.com", "sina.com.cn", "example.cn", "co.uk", "127.0.0.2", "a.ac.cn", "www.example"})
            EXPECT_EQ(Check(suffix, p), EntryVerdict::Accepted) << suffix << " " << p;
        // Nothing to add: the command runs as it always has and adds nothing.
        EXPECT_EQ(Check(suffix, nullptr), EntryVerdict::Accepted);
        EXPECT_EQ(Check(suffix, ""), EntryVerdict::Accepted);
        EXPECT_EQ(Check(suffix, " ."), EntryVerdict::Accepted);
    }
}

TEST(EntryCheckTest, ImageFragmentsNeedFiveCharactersAsStored) {
    for (const char* p : {"a", ".gif", "%2E%67%69%66", "ab+++", "+ab+", "%20%20abcd"})
        EXPECT_EQ(Check(".filterimage", p), EntryVerdict::FragmentTooShort) << p;
    for (const char* p : {"/ads/", "%2Fads%2F", "banner", "%B9%E3%B8%E6%CD%BC%C6%AC%2Fx"})
        EXPECT_EQ(Check(".filterimage", p), EntryVerdict::Accepted) << p;
    // Four GB2312 characters are four characters, not eight bytes.
    EXPECT_EQ(Check(".filterimage", "%B9%E3%B8%E6%CD%BC%C6%AC"), EntryVerdict::FragmentTooShort);
    EXPECT_EQ(Check(".filterimage", nullptr), EntryVerdict::Accepted);
    EXPECT_EQ(Check(".filterimage", "+++"), EntryVerdict::Accepted) << "stored as nothing";
    // The checks belong to their commands.
    EXPECT_EQ(Check(".close", "com"), EntryVerdict::Accepted);
    EXPECT_EQ(Check(".black", "ab"), EntryVerdict::TooFewLabels);
    EXPECT_EQ(Check(".filterimage", "a.b.c.d"), EntryVerdict::Accepted);
}
