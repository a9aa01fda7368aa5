// Release versions against the installed one, and the command line.
#include <gtest/gtest.h>

#include "CommandLine.h"
#include "Release.h"
#include "support/TempFolder.h"

using updater::IsNewerVersion;
using updater::ParseCommandLine;
using updater::VersionFields;

TEST(VersionTest, FieldsCompareAsNumbers) {
    EXPECT_TRUE(IsNewerVersion("1.2.10", "1.2.9"));
    EXPECT_FALSE(IsNewerVersion("1.2.9", "1.2.10"));
    EXPECT_TRUE(IsNewerVersion("1.3", "1.2.9.9"));
    EXPECT_FALSE(IsNewerVersion("2.0.0.0", "2"));
    EXPECT_FALSE(IsNewerVersion("2", "2.0.0.0"));
    EXPECT_FALSE(IsNewerVersion("1.2.3.4", "1.2.3.4"));
    EXPECT_TRUE(IsNewerVersion("1.2.3.5", "1.2.3.4"));
    EXPECT_TRUE(IsNewerVersion("10.0", "9.99.99.99"));
}

TEST(VersionTest, OnlyFourFieldsCount) {
    EXPECT_FALSE(IsNewerVersion("1.2.3.4.9", "1.2.3.4"));
    EXPECT_EQ(VersionFields("1.2.3.4.5"), (std::array<int, 4>{1, 2, 3, 4}));
}

TEST(VersionTest, MissingOrNonNumericFieldsAreZero) {
    EXPECT_EQ(VersionFields(""), (std::array<int, 4>{0, 0, 0, 0}));
    EXPECT_EQ(VersionFields("3.x.7b"), (std::array<int, 4>{3, 0, 7, 0}));
    EXPECT_EQ(VersionFields("1..5"), (std::array<int, 4>{1, 0, 5, 0}));
    // No installed version: any release with a non-zero field is newer.
    EXPECT_TRUE(IsNewerVersion("0.0.0.1", ""));
    // A release description without a version is never newer.
    EXPECT_FALSE(IsNewerVersion("", "0.0.0.0"));
    EXPECT_FALSE(IsNewerVersion("", ""));
}

TEST(CommandLineTest, VersionAfterEitherSeparator) {
    EXPECT_EQ(ParseCommandLine({"-v:1.0.0.1"}).installedVersion, "1.0.0.1");
    EXPECT_EQ(ParseCommandLine({"-v=1.0.0.1"}).installedVersion, "1.0.0.1");
    EXPECT_EQ(ParseCommandLine({"-v"}).installedVersion, "");
    // Any argument containing "-v" counts, from its fourth character on.
    EXPECT_EQ(ParseCommandLine({"x-v9.9"}).installedVersion, "9.9");
}

TEST(CommandLineTest, LastVersionWinsAndIsCutTo15Characters) {
    EXPECT_EQ(ParseCommandLine({"-v:1.0", "-u", "-v=2.0"}).installedVersion, "2.0");
    EXPECT_EQ(ParseCommandLine({"-v:1234567890.234567"}).installedVersion, "1234567890.2345");
    // Characters, not bytes: a multi-byte character is never split.
    EXPECT_EQ(ParseCommandLine({"-v:" + std::string(14, '1') + "版本"}).installedVersion,
              std::string(14, '1') + "版");
}

TEST(CommandLineTest, FlagsAreExactAndCaseSensitive) {
    const auto both = ParseCommandLine({"-u", "-h"});
    EXPECT_TRUE(both.softwareUpdate);
    EXPECT_TRUE(both.hidden);
    const auto none = ParseCommandLine({"-U", "-H", "--u", "-hu", "u"});
    EXPECT_FALSE(none.softwareUpdate);
    EXPECT_FALSE(none.hidden);
    EXPECT_EQ(none.installedVersion, "");
}

TEST(ReleaseFileTest, SetupKeysCutAndDescriptionLineBreaks) {
    testsupport::TempFolder folder;
    folder.Write("su.zelk", "[setup]\nversion = 1.2.3.4567890123456789\nDate=2026-12-01\nUrl=http://h/update.exe\n"
                            "Description=first|second||third\n[Other]\nVersion=9\n");
    const auto release = updater::ReadReleaseInfo(folder / "su.zelk");
    EXPECT_EQ(release.version, "1.2.3.456789012");
    EXPECT_EQ(release.date, "2026-12-01");
    EXPECT_EQ(release.url, "http://h/update.exe");
    EXPECT_EQ(release.description, "first\r\nsecond\r\n\r\nthird");
}

TEST(ReleaseFileTest, Sha256IsKeptOnlyAsSixtyFourHexDigits) {
    testsupport::TempFolder folder;
    const std::string digits = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    const auto read = [&](const std::string& value) {
        folder.Write("su.zelk", "[Setup]\nVersion=1.0\nsha256 = " + value + "\n");
        return updater::ReadReleaseInfo(folder / "su.zelk").sha256;
    };
    EXPECT_EQ(read(digits), digits);
    EXPECT_EQ(read("BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD"), digits);
    for (const std::string& bad : {std::string(), digits.substr(1), digits + "a", "g" + digits.substr(1),
                                   digits.substr(0, 32) + " " + digits.substr(33), "0x" + digits.substr(2)})
        EXPECT_EQ(read(bad), "") << bad;
}

TEST(ReleaseFileTest, MissingKeysAreEmpty) {
    testsupport::TempFolder folder;
    folder.Write("su.zelk", "[Setup]\nDate=today\n");
    const auto release = updater::ReadReleaseInfo(folder / "su.zelk");
    EXPECT_EQ(release.version, "");
    EXPECT_EQ(release.url, "");
    EXPECT_EQ(release.date, "today");
}
