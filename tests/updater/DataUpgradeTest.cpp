// The filter-data upgrade against a local HTTP server: what is fetched and
// which manifest is kept. (Archives: posix/DataUpgradeArchiveTest.cpp.)
#include <filesystem>

#include "DataUpgradeFixture.h"

using updatertest::DataUpgradeTest;
using updatertest::kManifest;

namespace {

TEST_F(DataUpgradeTest, AnyTextDifferenceInTheVersionFetchesAgain) {
    folder_.Write("Upgrade.zelk", Line(0, "Data/black.txt", "2.0", "/black.txt"));
    folder_.Write("Data/black.txt", "old\n");
    server_.Serve(kManifest, Line(0, "Data/black.txt", "2.00", "/black.txt"));
    server_.Serve("/black.txt", "new\n");
    Run();
    EXPECT_EQ(folder_.Read("Data/black.txt"), "new\n");
    EXPECT_NE(folder_.Read("Upgrade.zelk").find("2.00"), std::string::npos);
}

TEST_F(DataUpgradeTest, ManifestKeptWhenTheLastNeededDownloadSucceeded) {
    // A fails (not on the server), B succeeds: the new manifest is kept, so
    // the archive A counts as current next time.
    const std::string fresh = Line(1, "a.7z", "2", "/a.7z") + Line(0, "Data/b.txt", "2", "/b.txt");
    folder_.Write("Upgrade.zelk", Line(1, "a.7z", "1", "/a.7z") + Line(0, "Data/b.txt", "1", "/b.txt"));
    server_.Serve(kManifest, fresh);
    server_.Serve("/b.txt", "bee\n");
    Run();
    EXPECT_EQ(folder_.Read("Upgrade.zelk"), fresh);
    EXPECT_EQ(server_.CountFor("/a.7z"), 1);

    server_.ClearRequests();
    Run();
    EXPECT_EQ(server_.CountFor("/a.7z"), 0);
    EXPECT_EQ(server_.CountFor("/b.txt"), 0);
}

TEST_F(DataUpgradeTest, ManifestDroppedWhenTheLastNeededDownloadFailed) {
    const std::string stored = Line(0, "Data/a.txt", "1", "/a.txt") + Line(0, "Data/b.txt", "1", "/b.txt");
    folder_.Write("Upgrade.zelk", stored);
    server_.Serve(kManifest, Line(0, "Data/a.txt", "2", "/a.txt") + Line(0, "Data/b.txt", "2", "/b.txt"));
    server_.Serve("/a.txt", "A\n");
    Run();
    EXPECT_EQ(folder_.Read("Data/a.txt"), "A\n");
    EXPECT_FALSE(folder_.Exists("Data/b.txt"));  // no half file from the failure
    EXPECT_EQ(folder_.Read("Upgrade.zelk"), stored);
    EXPECT_FALSE(folder_.Exists("SUpgrade.zelk"));
}

TEST_F(DataUpgradeTest, StoredManifestUntouchedWhenEverythingIsCurrent) {
    const std::string stored = "; old comment\n" + Line(0, "Data/a.txt", "1", "/a.txt");
    folder_.Write("Upgrade.zelk", stored);
    folder_.Write("Data/a.txt", "A\n");
    server_.Serve(kManifest, "; new comment\n" + Line(0, "Data/a.txt", "1", "/a.txt"));
    Run();
    EXPECT_EQ(folder_.Read("Upgrade.zelk"), stored);
    EXPECT_FALSE(folder_.Exists("SUpgrade.zelk"));
    EXPECT_EQ(server_.CountFor("/a.txt"), 0);
}

TEST_F(DataUpgradeTest, EmptyLineIsAnItemWhoseDownloadFails) {
    server_.Serve(kManifest, Line(0, "Data/a.txt", "1", "/a.txt") + "\n");
    server_.Serve("/a.txt", "A\n");
    Run();
    EXPECT_EQ(folder_.Read("Data/a.txt"), "A\n");
    // The empty item came last and failed, so the manifest is not kept.
    EXPECT_FALSE(folder_.Exists("Upgrade.zelk"));
    EXPECT_FALSE(folder_.Exists("SUpgrade.zelk"));
}

TEST_F(DataUpgradeTest, OnlyTheFirstStoredItemWithTheSameUrlIsCompared) {
    folder_.Write("Data/a.txt", "old\n");
    folder_.Write("Upgrade.zelk", Line(0, "Data/a.txt", "1", "/a.txt") + Line(0, "Data/a.txt", "2", "/a.txt"));
    server_.Serve(kManifest, Line(0, "Data/a.txt", "2", "/a.txt"));
    server_.Serve("/a.txt", "new\n");
    Run();
    EXPECT_EQ(server_.CountFor("/a.txt"), 1);
    EXPECT_EQ(folder_.Read("Data/a.txt"), "new\n");
}

TEST_F(DataUpgradeTest, CommentsAnywhereAreSkippedAndAnEmptyManifestChangesNothing) {
    server_.Serve(kManifest, ";a\n" + Line(0, "Data/a.txt", "1", "/a.txt") + ";b\t1\tx\n;c\n");
    server_.Serve("/a.txt", "A\n");
    Run();
    EXPECT_EQ(server_.Requests().size(), 2u);  // manifest and the one item

    const std::string stored = folder_.Read("Upgrade.zelk");
    server_.Serve(kManifest, "; nothing today\n");
    Run();
    EXPECT_EQ(folder_.Read("Upgrade.zelk"), stored);
    EXPECT_FALSE(folder_.Exists("SUpgrade.zelk"));
}

TEST_F(DataUpgradeTest, LongManifestLineEndsTheManifest) {
    server_.Serve(kManifest, Line(0, "Data/a.txt", "1", "/a.txt") + "0\tx\t1\t" + std::string(1100, 'u') + "\n" +
                                 Line(0, "Data/c.txt", "1", "/c.txt"));
    server_.Serve("/a.txt", "A\n");
    server_.Serve("/c.txt", "C\n");
    Run();
    EXPECT_TRUE(folder_.Exists("Data/a.txt"));
    EXPECT_EQ(server_.CountFor("/c.txt"), 0);
    EXPECT_FALSE(folder_.Exists("Data/c.txt"));
}

TEST_F(DataUpgradeTest, NamesOutsideTheProgramFolderAreRefusedLikeFailedDownloads) {
    testsupport::TempFolder outside;
    server_.Serve("/evil.txt", "evil\n");
    server_.Serve("/good.txt", "good\n");
    server_.Serve(kManifest, Line(0, "Data/sub/../good.txt", "1", "/good.txt") +
                                 Line(0, "../" + std::filesystem::path(outside.path()).filename().string() +
                                             "/evil.txt", "1", "/evil.txt") +
                                 Line(0, outside / "abs.txt", "1", "/evil.txt") +
                                 Line(0, "Data\\..\\..\\evil2.txt", "1", "/evil.txt"));
    Run();
    EXPECT_FALSE(outside.Exists("evil.txt"));
    EXPECT_FALSE(outside.Exists("abs.txt"));
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(folder_.path()).parent_path() / "evil2.txt"));
    EXPECT_EQ(server_.CountFor("/evil.txt"), 0);
    // The last item was refused, so the manifest is dropped.
    EXPECT_FALSE(folder_.Exists("Upgrade.zelk"));

    // Relative names inside the folder, with either separator, still work.
    server_.Serve(kManifest, Line(0, "Data\\good.txt", "1", "/good.txt") + Line(0, "./Data/more.txt", "1", "/good.txt"));
    Run();
    EXPECT_EQ(folder_.Read("Data/good.txt"), "good\n");
    EXPECT_EQ(folder_.Read("Data/more.txt"), "good\n");
    EXPECT_TRUE(folder_.Exists("Upgrade.zelk"));
}

TEST_F(DataUpgradeTest, UnreachableManifestChangesNothing) {
    const std::string stored = Line(0, "Data/a.txt", "1", "/a.txt");
    folder_.Write("Upgrade.zelk", stored);
    Run();  // nothing served
    EXPECT_EQ(server_.Requests().size(), 1u);
    EXPECT_EQ(folder_.Read("Upgrade.zelk"), stored);
    EXPECT_FALSE(folder_.Exists("SUpgrade.zelk"));
}

TEST_F(DataUpgradeTest, ArchiveIsDeletedEvenWhenSevenZipCannotRun) {
    // With no 7-Zip on the path the archive is not unpacked but still goes.
    updatertest::ScopedEnv path("PATH", folder_ / "nothing-here");
    folder_.Write("broken.7z", "not an archive");
    updater::ExtractArchive("broken.7z");
    EXPECT_FALSE(folder_.Exists("broken.7z"));
    EXPECT_FALSE(folder_.Exists("Data/a.txt"));
}

TEST(UpdateSettingsTest, DefaultsWhenTheSectionOrFileIsMissing) {
    testsupport::TempFolder folder(true);
    auto settings = updater::LoadUpdateSettings();
    EXPECT_EQ(settings.server, updater::kDefaultUpdateServer);
    EXPECT_EQ(settings.website, updater::kDefaultWebsite);
    folder.Write("Data/config.ini", "[update]\nSERVER=http://127.0.0.1:1//\n");
    settings = updater::LoadUpdateSettings();
    EXPECT_EQ(settings.server, "http://127.0.0.1:1");
    EXPECT_EQ(settings.website, updater::kDefaultWebsite);
}

}  // namespace
