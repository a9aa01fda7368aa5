// The program's own path and folder, the working directory, and file names
// the way the programs write them ("Data\Inject.zelk").
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/ProgramPath.h"
#include "support/TempFolder.h"

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

}  // namespace

TEST(ProgramPathTest, PathNamesThisProgramAndTheFolderHoldsIt) {
    const std::string path = platform::ProgramPath();
    ASSERT_FALSE(path.empty());
    EXPECT_TRUE(fs::path(path).is_absolute()) << path;
    EXPECT_TRUE(fs::is_regular_file(path)) << path;
    EXPECT_EQ(fs::path(path).stem(), "platform_tests") << path;

    const std::string folder = platform::ProgramFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_TRUE(fs::equivalent(folder, fs::path(path).parent_path())) << folder;
    EXPECT_EQ(platform::JoinPath(folder, fs::path(path).filename().string()), path)
        << "the folder, joined with the program's name, is the program's path";
}

TEST(ProgramPathTest, WorkingDirectoryMovesOnlyIntoAFolderThatExists) {
    const fs::path before = fs::current_path();
    testsupport::TempFolder folder;
    EXPECT_TRUE(platform::SetWorkingDirectory(folder.path()));
    EXPECT_TRUE(fs::equivalent(fs::current_path(), folder.path()));
    EXPECT_FALSE(platform::SetWorkingDirectory(folder / "missing"));
    EXPECT_FALSE(platform::SetWorkingDirectory(""));
    EXPECT_TRUE(fs::equivalent(fs::current_path(), folder.path())) << "a failed change moved the directory";
    EXPECT_TRUE(platform::SetWorkingDirectory(before.string()));
}

TEST(ProgramPathTest, JoinedNamesWithEitherSeparatorOpenTheFile) {
    testsupport::TempFolder folder;
    folder.Write("Data/sub/Inject.zelk", "script");
    for (const std::string& base : {folder.path(), platform::JoinPath(folder.path(), "")}) {
        EXPECT_EQ(ReadFile(platform::JoinPath(base, "Data\\sub\\Inject.zelk")), "script") << base;
        EXPECT_EQ(ReadFile(platform::JoinPath(base, "Data/sub/Inject.zelk")), "script") << base;
    }
    EXPECT_EQ(platform::JoinPath(folder.path(), "Data\\Inject.zelk"), platform::JoinPath(folder.path(), "Data/Inject.zelk"));
    EXPECT_EQ(platform::JoinPath("", "Data\\Inject.zelk"), platform::JoinPath("", "Data/Inject.zelk"));
}
