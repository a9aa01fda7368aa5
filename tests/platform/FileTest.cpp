// The atomic file replace and the whole-file read, on files that other
// threads read at the same time.
#include "platform/File.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/TempFolder.h"

namespace {

std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder)) names.push_back(e.path().filename().string());
    return names;
}

}  // namespace

TEST(FileReplace, ReplacesAnExistingFileAndRefusesWhatItCannotReplace) {
    testsupport::TempFolder dir;
    const std::string target = dir / "list.txt";
    dir.Write("list.txt", "old content\n");

    ASSERT_TRUE(platform::ReplaceFileWith(target, target + ".tmp", std::string_view("new\0content", 11)));
    EXPECT_EQ(dir.Read("list.txt"), std::string("new\0content", 11));
    ASSERT_TRUE(platform::ReplaceFileWith(target, target + ".tmp", ""));  // and again over the new file
    EXPECT_EQ(dir.Read("list.txt"), "");
    EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"list.txt"});

    // A file already at the temporary name is neither used nor removed.
    dir.Write("list.txt.tmp", "someone else's");
    EXPECT_FALSE(platform::ReplaceFileWith(target, target + ".tmp", "mine"));
    EXPECT_EQ(dir.Read("list.txt"), "");
    EXPECT_EQ(dir.Read("list.txt.tmp"), "someone else's");
    std::filesystem::remove(dir / "list.txt.tmp");

    // A folder in the target's place stays as it is, and so does its content.
    dir.Write("folder/keep", "kept");
    EXPECT_FALSE(platform::ReplaceFileWith(dir / "folder", dir / "folder.tmp", "x"));
    EXPECT_EQ(dir.Read("folder/keep"), "kept");
    EXPECT_FALSE(dir.Exists("folder.tmp"));
}

TEST(FileRead, WholeFileOrNothing) {
    testsupport::TempFolder dir;
    std::string big(300000, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 251);
    dir.Write("big.bin", big);
    std::string bytes = "stale";
    ASSERT_TRUE(platform::ReadWholeFile(dir / "big.bin", bytes));
    EXPECT_EQ(bytes, big);

    dir.Write("empty", "");
    EXPECT_TRUE(platform::ReadWholeFile(dir / "empty", bytes));
    EXPECT_EQ(bytes, "");

    bytes = "stale";
    EXPECT_FALSE(platform::ReadWholeFile(dir / "missing", bytes));
    EXPECT_EQ(bytes, "");
    dir.Write("folder/inside", "x");
    bytes = "stale";
    EXPECT_FALSE(platform::ReadWholeFile(dir / "folder", bytes));
    EXPECT_EQ(bytes, "");
}

TEST(FileReplace, ConcurrencyOfReplacesAndReaders) {
    // After every replace, readers of both kinds read the file again, as a
    // reload follows a save, while the next replace is already on its way:
    // every replace succeeds and every read sees one whole version (on
    // Windows a replace waits while a reader holds the file).
    testsupport::TempFolder dir;
    const std::string target = dir / "config.ini";
    auto version = [](int i) { return std::string(4000 + i % 3, static_cast<char>('a' + i % 26)); };
    dir.Write("config.ini", version(0));

    constexpr int kReplaces = 200;
    std::mutex lock;
    std::condition_variable replaced;
    int generation = 0;  // guarded by lock
    bool done = false;   // guarded by lock
    std::atomic<int> torn{0}, reads{0}, refused{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 4; ++t)
        readers.emplace_back([&, t] {
            for (int seen = 0;;) {
                {
                    std::unique_lock<std::mutex> l(lock);
                    replaced.wait(l, [&] { return done || generation != seen; });
                    if (done) return;
                    seen = generation;
                }
                std::string bytes;
                if (t % 2 == 0) {
                    if (!platform::ReadWholeFile(target, bytes)) ++torn;
                } else {
                    // A plain stream, which on Windows holds the file without
                    // allowing its deletion, as most programs do. It may be
                    // refused the open while the rename runs (Windows and
                    // Wine say access denied); what it opens must be whole.
                    std::ifstream in(target, std::ios::binary);
                    if (!in.is_open()) {
                        ++refused;
                        continue;
                    }
                    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
                }
                if (bytes.size() < 4000 || bytes.size() > 4002 || bytes.find_first_not_of(bytes[0]) != std::string::npos)
                    ++torn;
                ++reads;
            }
        });
    int failed = 0;
    for (int i = 1; i <= kReplaces; ++i) {
        if (!platform::ReplaceFileWith(target, target + ".tmp." + std::to_string(i), version(i))) ++failed;
        std::lock_guard<std::mutex> l(lock);
        ++generation;
        replaced.notify_all();
    }
    {
        std::lock_guard<std::mutex> l(lock);
        done = true;
        replaced.notify_all();
    }
    for (auto& r : readers) r.join();

    EXPECT_EQ(failed, 0);
    EXPECT_EQ(torn, 0) << "of " << reads << " reads";
    EXPECT_LT(refused, reads);
    EXPECT_GT(reads, kReplaces);  // the readers did run alongside
    EXPECT_EQ(dir.Read("config.ini"), version(kReplaces));
    EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"config.ini"});
}
