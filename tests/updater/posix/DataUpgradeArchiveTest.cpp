// The filter-data upgrade with real 7-Zip archives: what is unpacked, and
// how the archive's name reaches 7-Zip. These need the 7-Zip console
// program, which the test machine has as its Linux build only.
#include <filesystem>

#include "../DataUpgradeFixture.h"

using updatertest::kManifest;

namespace {

class DataUpgradeArchiveTest : public updatertest::DataUpgradeTest {
protected:
    void SetUp() override {
        ASSERT_FALSE(updater::FindSevenZip().empty()) << "7-Zip is needed for these tests";
        DataUpgradeTest::SetUp();
        archive_ = updatertest::MakeArchive({{"lists/a.txt", "alpha\n"}, {"lists/deep/noext", "beta\n"}});
        ASSERT_FALSE(archive_.empty());
    }

    std::string archive_;
};

TEST_F(DataUpgradeArchiveTest, FirstRunFetchesAndUnpacksEverythingAndKeepsTheManifest) {
    const std::string manifest = "; filter data\n" + Line(0, "Data/black.txt", "1", "/black.txt") +
                                 Line(1, "rules.7z", "1", "/rules.7z");
    server_.Serve(kManifest, manifest);
    server_.Serve("/black.txt", "example.com\n");
    server_.Serve("/rules.7z", archive_);
    Run();

    EXPECT_EQ(folder_.Read("Data/black.txt"), "example.com\n");
    // Every file of the archive lands in Data without its folders.
    EXPECT_EQ(folder_.Read("Data/a.txt"), "alpha\n");
    EXPECT_EQ(folder_.Read("Data/noext"), "beta\n");
    EXPECT_FALSE(folder_.Exists("rules.7z"));
    EXPECT_EQ(folder_.Read("Upgrade.zelk"), manifest);
    EXPECT_FALSE(folder_.Exists("SUpgrade.zelk"));
    // Every address on the server carries the cache-defeating query.
    for (const auto& target : server_.Requests()) EXPECT_NE(target.find("?time="), std::string::npos) << target;
    EXPECT_EQ(server_.CountFor("/black.txt"), 1);
    EXPECT_EQ(server_.CountFor("/rules.7z"), 1);
}


TEST_F(DataUpgradeArchiveTest, UnchangedItemsAreNotFetchedAgainUnlessTheirFileIsMissing) {
    server_.Serve(kManifest, Line(0, "Data/black.txt", "1", "/black.txt") + Line(1, "rules.7z", "1", "/rules.7z"));
    server_.Serve("/black.txt", "example.com\n");
    server_.Serve("/rules.7z", archive_);
    Run();
    server_.ClearRequests();

    Run();
    EXPECT_EQ(server_.CountFor(kManifest), 1);
    EXPECT_EQ(server_.CountFor("/black.txt"), 0);
    // The archive was deleted after unpacking, yet it counts as current.
    EXPECT_EQ(server_.CountFor("/rules.7z"), 0);

    std::filesystem::remove("Data/black.txt");
    Run();
    EXPECT_EQ(server_.CountFor("/black.txt"), 1);
    EXPECT_EQ(server_.CountFor("/rules.7z"), 0);
    EXPECT_TRUE(folder_.Exists("Data/black.txt"));
}


TEST_F(DataUpgradeArchiveTest, ArchiveNameReachesSevenZipAsOneArgumentNeverThroughAShell) {
    const std::string name = "x;touch injected;$(touch injected2) '\"-y.7z";
    server_.Serve(kManifest, Line(1, name, "1", "/r.7z"));
    server_.Serve("/r.7z", archive_);
    Run();
    EXPECT_EQ(folder_.Read("Data/a.txt"), "alpha\n");
    EXPECT_FALSE(folder_.Exists("injected"));
    EXPECT_FALSE(folder_.Exists("injected2"));
    EXPECT_FALSE(folder_.Exists(name));
}


TEST_F(DataUpgradeArchiveTest, ArchiveNameStartingWithADashIsNotASwitch) {
    server_.Serve(kManifest, Line(1, "-r.7z", "1", "/r.7z"));
    server_.Serve("/r.7z", archive_);
    Run();
    EXPECT_EQ(folder_.Read("Data/noext"), "beta\n");
    EXPECT_FALSE(folder_.Exists("-r.7z"));
}


}  // namespace
