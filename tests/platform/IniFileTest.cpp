// INI values read the way GetPrivateProfileString reads them.
#include <gtest/gtest.h>

#include "platform/IniFile.h"
#include "support/TempFolder.h"

using platform::ReadProfileString;

namespace {

class IniFileTest : public ::testing::Test {
protected:
    std::string Read(const std::string& section, const std::string& key, const std::string& def = "none",
                     size_t size = 1024) {
        return ReadProfileString(section, key, def, size, folder_ / "a.ini");
    }
    testsupport::TempFolder folder_;
};

TEST_F(IniFileTest, NamesIgnoreCaseAndValuesAreTrimmed) {
    folder_.Write("a.ini", "\xEF\xBB\xBF[Setup]\r\n  Version  =  1.2.3  \r\nurl=http://h/x?a=b\r\n[ Other ]\nkey=v\n");
    EXPECT_EQ(Read("setup", "VERSION"), "1.2.3");
    EXPECT_EQ(Read("SETUP", "Url"), "http://h/x?a=b");  // only the first "=" separates
    EXPECT_EQ(Read("other", "key"), "v");
}

TEST_F(IniFileTest, DefaultWhenFileSectionOrKeyIsMissing) {
    EXPECT_EQ(Read("Setup", "Version", "d"), "d");  // no file yet
    folder_.Write("a.ini", "[Setup]\nVersion=1\nnoequals\n");
    EXPECT_EQ(Read("Setup", "Date", "  spaced  "), "spaced");
    EXPECT_EQ(Read("Missing", "Version", ""), "");
    EXPECT_EQ(Read("Setup", "noequals", "d"), "d");
}

TEST_F(IniFileTest, KeysBelongToTheirOwnSection) {
    folder_.Write("a.ini", "top=0\n[A]\nx=1\n[B]\nx=2\n");
    EXPECT_EQ(Read("A", "x"), "1");
    EXPECT_EQ(Read("B", "x"), "2");
    EXPECT_EQ(Read("A", "top"), "none");
}

TEST_F(IniFileTest, FirstSectionAndFirstKeyWin) {
    folder_.Write("a.ini", "[A]\nx=first\nx=second\n[a]\nx=third\ny=later\n");
    EXPECT_EQ(Read("A", "x"), "first");
    EXPECT_EQ(Read("A", "y"), "none");
}

TEST_F(IniFileTest, CommentsEmptyValuesAndQuotes) {
    folder_.Write("a.ini", "[S]\n; x=commented\nx=\nq=\"  quoted  \"\nhalf=\"open\nsemi=a;b\n");
    EXPECT_EQ(Read("S", "x", "d"), "");  // present but empty is not the default
    EXPECT_EQ(Read("S", "q"), "  quoted  ");
    EXPECT_EQ(Read("S", "half"), "\"open");
    EXPECT_EQ(Read("S", "semi"), "a;b");
}

TEST_F(IniFileTest, ValueAndDefaultAreCutToTheBuffer) {
    folder_.Write("a.ini", "[S]\nlong=abcdefghij\n");
    EXPECT_EQ(Read("S", "long", "", 5), "abcd");
    EXPECT_EQ(Read("S", "absent", "0123456789", 4), "012");
    EXPECT_EQ(Read("S", "long", "", 0), "");
}

TEST(IniFileFolderTest, BareAndRelativeNamesAreInTheCurrentFolder) {
    // The Updater reads "Data/config.ini" and "./su.zelk" from its folder;
    // GetPrivateProfileString alone would look for a bare name elsewhere.
    testsupport::TempFolder folder(true);
    folder.Write("bare.ini", "[S]\nk=bare\n");
    folder.Write("Data/config.ini", "[S]\nk=nested\n");
    EXPECT_EQ(ReadProfileString("S", "k", "missing", 64, "bare.ini"), "bare");
    EXPECT_EQ(ReadProfileString("S", "k", "missing", 64, "./bare.ini"), "bare");
    EXPECT_EQ(ReadProfileString("S", "k", "missing", 64, "Data/config.ini"), "nested");
    EXPECT_EQ(ReadProfileString("S", "k", "missing", 64, ""), "missing");
}

}  // namespace
