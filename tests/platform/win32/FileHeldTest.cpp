// Windows cannot replace a file that somebody holds open: the replace waits
// for the holder, and fails cleanly when the holder does not let go. (On
// POSIX a held file is replaced at once, so these cases are Windows' own.)
#include "platform/File.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>

#include "support/TempFolder.h"

namespace {

std::string Rest(std::ifstream& in) {
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

TEST(FileReplaceHeld, WaitsForAReaderToLetGo) {
    testsupport::TempFolder dir;
    const std::string target = dir / "user_black.txt", temporary = target + ".tmp";
    dir.Write("user_black.txt", "old.example\n");
    auto reader = std::make_unique<std::ifstream>(target, std::ios::binary);
    ASSERT_TRUE(reader->is_open());

    bool replaced = false;
    std::thread saver([&] { replaced = platform::ReplaceFileWith(target, temporary, "new.example\n"); });
    // Once the temporary file is there, the saver is moving it into place and
    // must find the target held.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!std::filesystem::exists(temporary) && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
    EXPECT_TRUE(std::filesystem::exists(temporary));
    EXPECT_EQ(Rest(*reader), "old.example\n");
    reader.reset();
    saver.join();

    EXPECT_TRUE(replaced);
    EXPECT_EQ(dir.Read("user_black.txt"), "new.example\n");
    EXPECT_FALSE(std::filesystem::exists(temporary));
}

TEST(FileReplaceHeld, AReaderThatNeverLetsGoMakesItFailWithTheOldFileKept) {
    testsupport::TempFolder dir;
    const std::string target = dir / "config.ini", temporary = target + ".tmp";
    dir.Write("config.ini", "[Proxy]\nimageMode=1\n");
    std::ifstream reader(target, std::ios::binary);
    ASSERT_TRUE(reader.is_open());

    EXPECT_FALSE(platform::ReplaceFileWith(target, temporary, "[Proxy]\nimageMode=2\n"));
    EXPECT_FALSE(std::filesystem::exists(temporary));
    EXPECT_EQ(Rest(reader), "[Proxy]\nimageMode=1\n");
    reader.close();
    EXPECT_EQ(dir.Read("config.ini"), "[Proxy]\nimageMode=1\n");
}
