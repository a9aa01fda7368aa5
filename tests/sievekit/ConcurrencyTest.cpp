// Readers on many threads while another thread reloads or edits: a reader
// must always see a whole list, old or new, and no edit may be lost.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "SievekitTestFiles.h"
#include "sievekit/CDomainManager.h"
#include "sievekit/CProxyConfig.h"
#include "sievekit/CWordFilter.h"
#include "sievekit/IDomain.h"
#include "support/TempFolder.h"

using testsupport::TempFolder;

namespace {

constexpr int kReaders = 4;
constexpr int kReloaders = 2;
constexpr int kRounds = 50;

// Runs body(i) on n threads and joins them all.
template <typename Body>
void OnThreads(int n, Body body) {
    std::vector<std::thread> threads;
    for (int i = 0; i < n; ++i) threads.emplace_back(body, i);
    for (auto& t : threads) t.join();
}

DomainStruct Request(const std::string& host) {
    DomainStruct d;
    std::memset(&d, 0, sizeof d);
    std::strncpy(d.host, host.c_str(), sizeof d.host - 1);
    return d;
}

}  // namespace

TEST(SievekitConcurrency, WordFilterReadersDuringReloads) {
    TempFolder dir(true);
    dir.Write("Data/block_words.txt", "always\n" + sievetest::kUtf8SeQing + "\n");
    dir.Write("Data/user_block_words.txt", "userA\n");
    CWordFilter block(1);
    block.ReloadData(true);

    std::atomic<bool> done{false};
    std::atomic<int> misses{0}, falseHits{0};
    std::thread writer([&] {
        for (int i = 0; i < kRounds; ++i) {
            sievetest::ReplaceFile("Data/user_block_words.txt", i % 2 ? "userA\n" : "userB\nextra\n");
            block.ReloadData(true);  // the product list is in both versions
        }
        done = true;
    });
    OnThreads(kReaders, [&](int) {
        const std::string gbk = "page " + sievetest::kGbkSeQing;
        while (!done) {
            if (!block.HasWord(std::wstring(L"it is ALWAYS so"))) ++misses;
            if (!block.HasWord(gbk)) ++misses;
            if (block.HasWord(std::wstring(L"harmless text"))) ++falseHits;
        }
    });
    writer.join();
    EXPECT_EQ(misses, 0);
    EXPECT_EQ(falseHits, 0);
}

TEST(SievekitConcurrency, DomainReadersDuringEditsAndReloads) {
    TempFolder dir(true);
    dir.Write("Data/user_black.txt", "stable.com\n");
    dir.Write("Data/black_domains.txt", "product.com\n");
    CDomainManager manager;
    CUserBlackDomain shared;  // read by the readers, reloaded by the writer

    std::atomic<bool> done{false};
    std::atomic<int> wrong{0};
    std::thread writer([&] {
        CUserBlackDomain editor;
        for (int i = 0; i < kRounds; ++i) {
            editor.Readonly(0);
            editor.ReloadData();
            editor.add((L"added" + std::to_wstring(i) + L".net").c_str());
            editor.Save();
            manager.ReloadUserData();
            shared.ReloadData();
        }
        done = true;
    });
    OnThreads(kReaders, [&](int) {
        while (!done) {
            DomainStruct a = Request("www.stable.com"), b = Request("product.com"), c = Request("free.org");
            if (!manager.Exists(a) || !a.blockPage) ++wrong;
            if (!manager.Exists(b)) ++wrong;
            if (manager.Exists(c)) ++wrong;
            if (!shared.GetList().count(L"stable.com") || !shared.MatchesHost("stable.com")) ++wrong;
        }
    });
    writer.join();
    EXPECT_EQ(wrong, 0);
    for (int i = 0; i < kRounds; ++i) {
        DomainStruct d = Request("x.added" + std::to_string(i) + ".net");
        EXPECT_TRUE(manager.Exists(d)) << i;
    }
}

TEST(SievekitConcurrency, ReloadsRacingAnEditNeverLeaveAStaleList) {
    TempFolder dir(true);
    dir.Write("Data/user_black.txt", "");
    CDomainManager manager;

    std::atomic<bool> done{false};
    std::atomic<int> stale{0};
    std::thread editor([&] {
        CUserBlackDomain list;
        for (int i = 0; i < kRounds; ++i) {
            std::string host = "edit" + std::to_string(i) + ".org";
            list.Readonly(0);
            list.ReloadData();
            list.add(std::wstring(host.begin(), host.end()).c_str());
            list.Save();
            manager.ReloadUserData();  // as the web server does after a command
            // From here on every reload that publishes began after the save.
            for (int look = 0; look < 2; ++look) {
                DomainStruct d = Request(host);
                if (!manager.Exists(d)) ++stale;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
        done = true;
    });
    // Reload messages arriving on connection threads at the same time.
    OnThreads(kReaders, [&](int) {
        while (!done) manager.ReloadUserData();
    });
    editor.join();
    EXPECT_EQ(stale, 0);
    for (int i = 0; i < kRounds; ++i) {
        DomainStruct d = Request("edit" + std::to_string(i) + ".org");
        EXPECT_TRUE(manager.Exists(d)) << i;
    }
}

TEST(SievekitConcurrency, WordFilterReloadsRacingAnEditNeverLeaveAStaleList) {
    TempFolder dir(true);
    dir.Write("Data/user_block_words.txt", "");
    CWordFilter block(1);
    block.ReloadData(false);

    std::atomic<bool> done{false};
    std::atomic<int> stale{0};
    std::thread editor([&] {
        for (int i = 0; i < 4 * kRounds; ++i) {  // reloads are quick: more rounds for the race to show
            sievetest::ReplaceFile("Data/user_block_words.txt", "word" + std::to_string(i) + "x\n");
            block.ReloadData(false);
            const std::wstring word = L"word" + std::to_wstring(i) + L"x";
            for (int look = 0; look < 2; ++look) {
                if (!block.HasWord(word)) ++stale;
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        }
        done = true;
    });
    OnThreads(kReloaders, [&](int) {
        while (!done) block.ReloadData(false);
    });
    editor.join();
    EXPECT_EQ(stale, 0);
    EXPECT_NE(block.HasWord(L"word" + std::to_wstring(4 * kRounds - 1) + L"x"), 0);
}

TEST(SievekitConcurrency, ConcurrentAddsOnOneListAreAllKept) {
    TempFolder dir(true);
    dir.Write("Data/user_noimage.txt", "");
    CNoneImageDomain list;
    list.Readonly(0);
    constexpr int kPerThread = 100;
    OnThreads(kReaders, [&](int t) {
        for (int i = 0; i < kPerThread; ++i)
            list.add((L"t" + std::to_wstring(t) + L"n" + std::to_wstring(i) + L".com").c_str());
    });
    EXPECT_EQ(list.size(), static_cast<size_t>(kReaders * kPerThread));
    for (int t = 0; t < kReaders; ++t)
        for (int i = 0; i < kPerThread; ++i) {
            std::string host = "t" + std::to_string(t) + "n" + std::to_string(i) + ".com";
            EXPECT_TRUE(list.MatchesHost(host.c_str())) << host;
        }
}

TEST(SievekitConcurrency, SavesOfTheSameListFromManyThreadsAllSucceed) {
    TempFolder dir(true);
    dir.Write("Data/manual_image.txt", "/first\n");
    std::atomic<int> failed{0};
    OnThreads(kReaders, [&](int t) {
        CManualFilterImage list;
        for (int i = 0; i < 40; ++i) {
            list.Readonly(0);
            list.ReloadData();
            list.add((L"/t" + std::to_wstring(t) + L"/" + std::to_wstring(i)).c_str());
            if (!list.Save()) ++failed;
        }
    });
    EXPECT_EQ(failed, 0);
    CManualFilterImage result;
    EXPECT_TRUE(result.GetList().count(L"/first"));
    for (const auto& name : sievetest::FolderEntries(dir / "Data")) EXPECT_EQ(name, "manual_image.txt");
}

TEST(SievekitConcurrency, ConfigReadersDuringLoads) {
    TempFolder dir(true);
    const std::string a = "[Proxy]\nimageMode=1\nproxyPort=9000\nintelligentValue=20\nlistenAddress=127.0.0.1\n";
    const std::string b = "[Proxy]\nimageMode=2\nproxyPort=9100\nintelligentValue=60\nlistenAddress=0.0.0.0\n";
    dir.Write("Data/config.ini", a);
    dir.Write("Data/stats.ini", "[Stats]\nfilterCount=7\n");
    CProxyConfig config;
    config.LoadData();

    std::atomic<bool> done{false};
    std::atomic<int> wrong{0};
    std::atomic<unsigned> added{0};
    std::thread writer([&] {
        for (int i = 0; i < kRounds; ++i) {
            sievetest::ReplaceFile("Data/config.ini", i % 2 ? a : b);
            config.LoadData();
            if (i % 10 == 0) config.Save();
        }
        done = true;
    });
    OnThreads(kReaders, [&](int) {
        while (!done) {
            int mode = config.Config().imageMode;
            unsigned port = config.Config().proxyPort;
            int value = config.getIntelligentValue();
            std::string address = config.getListenAddress();
            if (mode != 1 && mode != 2) ++wrong;
            if (port != 9000 && port != 9100) ++wrong;
            if (value != 20 && value != 60) ++wrong;
            if (address != "127.0.0.1" && address != "0.0.0.0") ++wrong;
            config.addFilterCount(2);
            added += 2;
        }
    });
    writer.join();
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(config.filterCount(), 7u + added);
}
