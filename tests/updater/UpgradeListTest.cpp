// Reading filter-data manifests: columns, comments, cuts and the long-line stop.
#include <gtest/gtest.h>

#include "UpgradeList.h"
#include "support/TempFolder.h"

using updater::IsSafeItemPath;
using updater::ParseUpgradeLine;
using updater::ReadUpgradeList;
using updater::UpgradeItem;
using updater::UpgradeList;

TEST(UpgradeLineTest, ColumnsInManifestOrder) {
    const UpgradeItem item = ParseUpgradeLine("1\tData/rules.7z\t2.0\thttp://h/rules.7z\tsub/dir\t3\textra\tmore");
    EXPECT_TRUE(item.archive);
    EXPECT_EQ(item.fileName, "Data/rules.7z");
    EXPECT_EQ(item.version, "2.0");
    EXPECT_EQ(item.url, "http://h/rules.7z");
    EXPECT_EQ(item.extraPath, "sub/dir");
    EXPECT_TRUE(item.extraFlag);
}

TEST(UpgradeLineTest, RunsOfTabsAreOneSeparatorSoEmptyColumnsShiftLeft) {
    // Leading tabs and a doubled tab: the version column is missing, so the
    // url becomes the version and the extra path becomes the url.
    const UpgradeItem item = ParseUpgradeLine("\t\t0\tlist.txt\t\thttp://h/list.txt\tpath");
    EXPECT_FALSE(item.archive);
    EXPECT_EQ(item.fileName, "list.txt");
    EXPECT_EQ(item.version, "http://h/list.txt");
    EXPECT_EQ(item.url, "path");
    EXPECT_EQ(item.extraPath, "");
}

TEST(UpgradeLineTest, IntegerColumnsReadLikeAtoi) {
    EXPECT_TRUE(ParseUpgradeLine("7\ta").archive);
    EXPECT_TRUE(ParseUpgradeLine("-1\ta").archive);
    EXPECT_TRUE(ParseUpgradeLine(" 2x\ta").archive);
    EXPECT_FALSE(ParseUpgradeLine("x1\ta").archive);
    EXPECT_FALSE(ParseUpgradeLine("00\ta").archive);
    EXPECT_FALSE(ParseUpgradeLine("0\ta\tv\tu\tp\tno").extraFlag);
}

TEST(UpgradeLineTest, LongColumnsAreCutToTheirFields) {
    const std::string longName(300, 'n');
    const std::string longVersion(30, '9');
    const UpgradeItem item = ParseUpgradeLine("0\t" + longName + "\t" + longVersion + "\thttp://h/x");
    EXPECT_EQ(item.fileName, longName.substr(0, 259));
    EXPECT_EQ(item.version, longVersion.substr(0, 19));
    EXPECT_EQ(item.url, "http://h/x");
}

TEST(UpgradeLineTest, EmptyLineGivesAnItemWithEmptyFields) {
    const UpgradeItem item = ParseUpgradeLine("");
    EXPECT_FALSE(item.archive);
    EXPECT_EQ(item.fileName, "");
    EXPECT_EQ(item.url, "");
    EXPECT_EQ(item.version, "");
}

TEST(UpgradeListFileTest, CommentsAnywhereEmptyLinesAndLineEnds) {
    testsupport::TempFolder folder;
    folder.Write("m.zelk",
                 "; header comment\r\n"
                 "0\ta.txt\t1\thttp://h/a\r\n"
                 ";\tcomment with tabs\n"
                 "\n"
                 "1\tb.7z\t2\thttp://h/b\n"
                 " ; not a comment: begins with a blank\n"
                 "; trailing comment");
    UpgradeList list(folder / "m.zelk");
    ReadUpgradeList(list);
    ASSERT_EQ(list.items.size(), 4u);
    EXPECT_EQ(list.items[0].url, "http://h/a");  // carriage return removed
    EXPECT_EQ(list.items[0].version, "1");
    EXPECT_EQ(list.items[1].url, "");  // the empty line
    EXPECT_EQ(list.items[2].fileName, "b.7z");
    EXPECT_EQ(list.items[2].url, "http://h/b");
    EXPECT_FALSE(list.items[3].archive);
    EXPECT_EQ(list.owner, "Quorlan");
}

TEST(UpgradeListFileTest, LongLineEndsTheReading) {
    testsupport::TempFolder folder;
    const std::string fits(1022, 'x');  // the longest line still read
    const std::string tooLong = "0\tlong.txt\t1\thttp://h/" + std::string(1023, 'y');
    folder.Write("m.zelk", "0\ta\t1\tu1\n0\t" + fits.substr(2) + "\n" + tooLong + "\n0\tc\t1\tu3\n");
    UpgradeList list(folder / "m.zelk");
    ReadUpgradeList(list);
    ASSERT_EQ(list.items.size(), 2u);
    EXPECT_EQ(list.items[0].url, "u1");
    EXPECT_EQ(list.items[1].fileName, std::string(259, 'x'));

    // Exactly 1023 characters already ends it.
    folder.Write("m.zelk", "0\ta\t1\tu1\n0\t" + std::string(1021, 'z') + "\n0\tc\t1\tu3\n");
    UpgradeList again(folder / "m.zelk");
    ReadUpgradeList(again);
    EXPECT_EQ(again.items.size(), 1u);
}

TEST(UpgradeListFileTest, MissingFileGivesEmptyList) {
    testsupport::TempFolder folder;
    UpgradeList list(folder / "absent.zelk");
    ReadUpgradeList(list);
    EXPECT_TRUE(list.items.empty());
}

TEST(ItemPathTest, OnlyNamesInsideTheProgramFolderAreSafe) {
    for (const char* ok : {"list.txt", "Data/list.txt", "Data\\list.txt", "a/./b", "..a/b", "a/b..", "x..y", ""})
        EXPECT_TRUE(IsSafeItemPath(ok)) << ok;
    for (const char* bad : {"/etc/passwd", "\\evil", "C:\\Windows\\x.dll", "c:x", "..", "../x", "Data/../../x",
                            "Data\\..\\..\\x", "a/..", "a\\.."})
        EXPECT_FALSE(IsSafeItemPath(bad)) << bad;
}
