#include <sievekit/CWordFilter.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "support/TempFolder.h"

// Keyword lookups while the lists are reloaded must see the old or the new
// list whole.
TEST(CWordFilter, ConcurrencyOfHasWordDuringReload) {
    testsupport::TempFolder folder(true);
    folder.Write("Data/block_words.txt", "alpha\n");
    folder.Write("Data/user_block_words.txt", "");
    CWordFilter filter(1);
    filter.ReloadData(true);
    std::atomic<bool> stop{false};
    std::atomic<int> wrong{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 3; ++t)
        readers.emplace_back([&] {
            while (!stop.load()) {
                if (filter.HasWord(std::wstring(L"xx alpha yy")) == 0) ++wrong;
                if (filter.HasWord(std::wstring(L"nothing here")) != 0) ++wrong;
            }
        });
    for (int i = 0; i < 300; ++i) {
        folder.Write("Data/block_words.txt", i % 2 ? "alpha\n" : "alpha\nbeta\n");
        filter.ReloadData(true);
    }
    stop = true;
    for (auto& r : readers) r.join();
    EXPECT_EQ(wrong.load(), 0);
}
