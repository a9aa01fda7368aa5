#include "net/HostCache.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "net/CLocalProxy.h"
#include "support/LoopbackClient.h"
#include "support/TempFolder.h"

namespace {

uint32_t Ip(const char* dotted) { return testsupport::Ipv4(dotted); }

constexpr int64_t kNow = 1'700'000'000;

struct FakeClock {
    std::atomic<int64_t> now{kNow};
    HostCache::Clock clock() {
        return [this] { return now.load(); };
    }
};

std::string FileOf(const std::vector<HostRecord>& records) {
    std::string out;
    for (const HostRecord& r : records) {
        HostRecord::Bytes b = r.ToBytes();
        out.append(reinterpret_cast<const char*>(b.data()), b.size());
    }
    return out;
}

std::vector<HostRecord> RecordsOf(const std::string& file) {
    std::vector<HostRecord> out;
    for (size_t pos = 0; pos + HostRecord::kSize <= file.size(); pos += HostRecord::kSize) {
        HostRecord::Bytes b;
        std::memcpy(b.data(), file.data() + pos, b.size());
        out.push_back(HostRecord::FromBytes(b));
    }
    return out;
}

TEST(HostCacheRecord, FileLayoutIsLittleEndianWithAddressInNetworkOrder) {
    HostRecord r = HostRecord::Make(Ip("127.0.0.1"), "example.com", 0x01020304, -2);
    HostRecord::Bytes b = r.ToBytes();
    EXPECT_EQ(b[0], 127);
    EXPECT_EQ(b[1], 0);
    EXPECT_EQ(b[2], 0);
    EXPECT_EQ(b[3], 1);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(b.data()) + 4), "example.com");
    for (size_t i = 4 + 11; i < 260; ++i) ASSERT_EQ(b[i], 0) << i;
    EXPECT_EQ(b[260], 4);
    EXPECT_EQ(b[261], 3);
    EXPECT_EQ(b[262], 2);
    EXPECT_EQ(b[263], 1);
    EXPECT_EQ(b[264], 0xFE);
    EXPECT_EQ(b[267], 0xFF);
    HostRecord back = HostRecord::FromBytes(b);
    EXPECT_EQ(back.address, r.address);
    EXPECT_EQ(back.Host(), "example.com");
    EXPECT_EQ(back.connectMs, 0x01020304);
    EXPECT_EQ(back.stamp, -2);
}

TEST(HostCacheRecord, LongNamesAreCutTo255Bytes) {
    std::string longName(300, 'n');
    HostRecord r = HostRecord::Make(1, longName, 1, 1);
    EXPECT_EQ(r.Host(), longName.substr(0, 255));
    // A file record whose name fills all 256 bytes still reads as 255.
    HostRecord::Bytes b = r.ToBytes();
    b[4 + 255] = 'x';
    EXPECT_EQ(HostRecord::FromBytes(b).Host().size(), 255u);
}

TEST(HostCacheFile, SaveWritesAscendingByteOrderAndLoadReadsItBack) {
    testsupport::TempFolder folder;
    FakeClock clock;
    const std::vector<std::string> names = {"b.example", "\xE4\xB8\xAD.cn", "B.example", "a.example", "ab.example"};
    {
        HostCache cache(folder / "host.dat", clock.clock());
        for (int ms = 1; const std::string& n : names) {
            cache.Store(HostRecord::Make(Ip("127.0.0.2") + ms, n, ms, kNow - ms));
            ++ms;
        }
        cache.Save();
    }
    std::string file = folder.Read("host.dat");
    ASSERT_EQ(file.size(), names.size() * HostRecord::kSize);
    std::vector<HostRecord> saved = RecordsOf(file);
    std::vector<std::string> order;
    for (const HostRecord& r : saved) order.push_back(r.Host());
    // Byte-wise: upper case before lower case, bytes of 0x80 and above last.
    EXPECT_EQ(order, (std::vector<std::string>{"B.example", "a.example", "ab.example", "b.example", "\xE4\xB8\xAD.cn"}));

    HostCache reloaded(folder / "host.dat", clock.clock());
    EXPECT_EQ(reloaded.Size(), names.size());
    auto r = reloaded.Find("a.example");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->connectMs, 4);
    EXPECT_EQ(r->stamp, kNow - 4);  // a loaded record keeps its stored time
    EXPECT_EQ(r->address, Ip("127.0.0.2") + 4);
}

TEST(HostCacheFile, LoadKeepsOnlyValidRecordsYoungerThanOneDay) {
    testsupport::TempFolder folder;
    FakeClock clock;
    std::string file = FileOf({
        HostRecord::Make(Ip("127.0.0.2"), "young.example", 5, kNow - 86399),
        HostRecord::Make(Ip("127.0.0.3"), "old.example", 5, kNow - 86400),
        HostRecord::Make(0, "noaddress.example", 5, kNow),
        HostRecord::Make(Ip("127.0.0.4"), "negative.example", -1, kNow),
        HostRecord::Make(Ip("127.0.0.5"), "zero.example", 0, kNow),
        HostRecord::Make(Ip("127.0.0.6"), "future.example", 5, kNow + 60),
    });
    file += FileOf({HostRecord::Make(Ip("127.0.0.7"), "short.example", 5, kNow)}).substr(0, 200);
    folder.Write("host.dat", file);

    HostCache cache(folder / "host.dat", clock.clock());
    EXPECT_TRUE(cache.Find("young.example"));
    EXPECT_FALSE(cache.Find("old.example"));
    EXPECT_FALSE(cache.Find("noaddress.example"));
    EXPECT_FALSE(cache.Find("negative.example"));
    EXPECT_TRUE(cache.Find("zero.example"));
    EXPECT_TRUE(cache.Find("future.example"));
    EXPECT_FALSE(cache.Find("short.example"));
    EXPECT_EQ(cache.Size(), 3u);
}

// The stamp is the low 32 bits of the time; ages stay right once the 32-bit
// time has wrapped.
TEST(HostCacheFile, AgeSurvivesThe32BitWrap) {
    testsupport::TempFolder folder;
    FakeClock clock;
    clock.now = int64_t{0x80000000} + 100;  // just after 2038-01-19
    folder.Write("host.dat", FileOf({
                                 HostRecord::Make(Ip("127.0.0.2"), "before.wrap", 1, static_cast<int32_t>(0x7FFFFFF0u)),
                                 HostRecord::Make(Ip("127.0.0.3"), "after.wrap", 1, static_cast<int32_t>(0x80000010u)),
                                 HostRecord::Make(Ip("127.0.0.4"), "stale", 1, static_cast<int32_t>(0x7FFE0000u)),
                             }));
    HostCache cache(folder / "host.dat", clock.clock());
    EXPECT_TRUE(cache.Find("before.wrap"));
    EXPECT_TRUE(cache.Find("after.wrap"));
    EXPECT_FALSE(cache.Find("stale"));
}

TEST(HostCacheFile, MissingOrUnwritableFileIsHarmless) {
    testsupport::TempFolder folder;
    FakeClock clock;
    {
        HostCache cache(folder / "nothing/host.dat", clock.clock());  // folder does not exist
        EXPECT_EQ(cache.Size(), 0u);
        cache.Store(HostRecord::Make(Ip("127.0.0.2"), "h", 1, kNow));
        cache.Save();
    }
    EXPECT_FALSE(folder.Exists("nothing/host.dat"));
}

TEST(HostCacheFile, SavedExactlyOnce) {
    testsupport::TempFolder folder;
    FakeClock clock;
    {
        HostCache cache(folder / "host.dat", clock.clock());
        cache.Store(HostRecord::Make(Ip("127.0.0.2"), "first.example", 1, kNow));
        cache.Save();
        cache.Store(HostRecord::Make(Ip("127.0.0.3"), "second.example", 1, kNow));
        cache.Save();
    }  // nor at destruction
    EXPECT_EQ(folder.Read("host.dat").size(), HostRecord::kSize);

    {
        HostCache cache(folder / "other.dat", clock.clock());
        cache.Store(HostRecord::Make(Ip("127.0.0.2"), "kept.example", 1, kNow));
    }  // destruction saves when nobody did
    EXPECT_EQ(RecordsOf(folder.Read("other.dat")).at(0).Host(), "kept.example");
}

TEST(HostCacheEntries, StoreAndLookupKeepStampsFresh) {
    testsupport::TempFolder folder;
    FakeClock clock;
    HostCache cache(folder / "host.dat", clock.clock());
    EXPECT_FALSE(cache.Lookup("example.com"));

    cache.Store(HostRecord::Make(Ip("127.0.0.2"), "example.com", 12, kNow - 500));
    EXPECT_EQ(cache.Find("example.com")->stamp, kNow - 500);  // a new entry keeps its stamp

    clock.now = kNow + 10;
    cache.Store(HostRecord::Make(Ip("127.0.0.3"), "example.com", 7, kNow - 9000));
    auto e = cache.Find("example.com");
    EXPECT_EQ(e->address, Ip("127.0.0.3"));
    EXPECT_EQ(e->connectMs, 7);
    EXPECT_EQ(e->stamp, kNow + 10);  // a known one is stamped now

    clock.now = kNow + 20;
    auto hit = cache.Lookup("example.com");
    ASSERT_TRUE(hit);
    EXPECT_EQ(hit->address, Ip("127.0.0.3"));
    EXPECT_EQ(hit->connectMs, 7);
    EXPECT_EQ(cache.Find("example.com")->stamp, kNow + 20);
    EXPECT_FALSE(cache.Lookup("Example.com"));  // names are compared byte for byte
}

// A host looked up shortly before a restart survives it even when it was
// first remembered long ago.
TEST(HostCacheFile, LookupBeforeRestartKeepsEntry) {
    testsupport::TempFolder folder;
    FakeClock clock;
    {
        HostCache cache(folder / "host.dat", clock.clock());
        cache.Store(HostRecord::Make(Ip("127.0.0.2"), "used.example", 3, kNow));
        cache.Store(HostRecord::Make(Ip("127.0.0.3"), "unused.example", 3, kNow));
        clock.now = kNow + 86000;
        ASSERT_TRUE(cache.Lookup("used.example"));
    }
    clock.now = kNow + 86000 + 1000;
    HostCache restarted(folder / "host.dat", clock.clock());
    EXPECT_TRUE(restarted.Find("used.example"));
    EXPECT_FALSE(restarted.Find("unused.example"));
}

// Bounded like the verdict cache: a host used recently stays, the least
// recently used goes, and host.dat never holds more than the bound.
TEST(HostCacheEntries, AtMostTenThousandHostsLeastRecentlyUsedGoesFirst) {
    testsupport::TempFolder folder;
    FakeClock clock;
    {
        HostCache cache(folder / "host.dat", clock.clock());
        cache.Store(HostRecord::Make(Ip("127.0.0.2"), "busy.example", 1, kNow));
        cache.Store(HostRecord::Make(Ip("127.0.0.2"), "idle.example", 1, kNow));
        for (size_t i = 0; i < HostCache::kMaxHosts + 500; ++i) {
            cache.Store(HostRecord::Make(Ip("127.0.0.3"), "h" + std::to_string(i) + ".example", 1, kNow));
            if (i % 1000 == 0) {
                ASSERT_TRUE(cache.Lookup("busy.example"));
            }
        }
        EXPECT_EQ(cache.Size(), HostCache::kMaxHosts);
        EXPECT_TRUE(cache.Find("busy.example"));
        EXPECT_FALSE(cache.Find("idle.example"));
        EXPECT_FALSE(cache.Find("h0.example"));
        EXPECT_TRUE(cache.Find("h" + std::to_string(HostCache::kMaxHosts + 499) + ".example"));
    }
    EXPECT_EQ(folder.Read("host.dat").size(), HostCache::kMaxHosts * HostRecord::kSize);
}

// A file of an older version may hold any number of records: the most
// recently used are kept, and they are the ones a full cache gives up last.
TEST(HostCacheFile, LoadKeepsTheMostRecentlyUsedTenThousand) {
    testsupport::TempFolder folder;
    FakeClock clock;
    std::vector<HostRecord> records;
    const int total = static_cast<int>(HostCache::kMaxHosts) * 3;
    for (int i = 0; i < total; ++i)  // host i was last used i seconds ago
        records.push_back(HostRecord::Make(Ip("127.0.0.2"), "h" + std::to_string(i) + ".example", 1, kNow - i));
    folder.Write("host.dat", FileOf(records));
    HostCache cache(folder / "host.dat", clock.clock());
    ASSERT_EQ(cache.Size(), HostCache::kMaxHosts);
    EXPECT_TRUE(cache.Find("h0.example"));
    EXPECT_TRUE(cache.Find("h" + std::to_string(HostCache::kMaxHosts - 1) + ".example"));
    EXPECT_FALSE(cache.Find("h" + std::to_string(HostCache::kMaxHosts) + ".example"));
    // A new host pushes out the oldest loaded one.
    cache.Store(HostRecord::Make(Ip("127.0.0.3"), "new.example", 1, kNow));
    EXPECT_TRUE(cache.Find("h0.example"));
    EXPECT_FALSE(cache.Find("h" + std::to_string(HostCache::kMaxHosts - 1) + ".example"));
}

// An address counts as confirmed for an hour after its host was resolved
// (the way the caller resolves it now); using it does not extend that.
TEST(HostCacheEntries, AddressesAreConfirmedForAnHourAfterResolving) {
    testsupport::TempFolder folder;
    FakeClock clock;
    using R = HostCache::Resolution;
    {
        HostCache cache(folder / "host.dat", clock.clock());
        cache.Store(HostRecord::Make(Ip("127.0.0.2"), "a.example", 1, kNow));
        clock.now = kNow + HostCache::kConfirmSeconds - 1;
        EXPECT_TRUE(cache.Lookup("a.example")->confirmed);
        EXPECT_FALSE(cache.Lookup("a.example", R::SafeSearchName)->confirmed);
        clock.now = kNow + HostCache::kConfirmSeconds;
        EXPECT_FALSE(cache.Lookup("a.example")->confirmed);

        cache.Confirm("a.example", Ip("127.0.0.9"), R::OwnName);  // not its address: nothing changes
        EXPECT_FALSE(cache.Lookup("a.example")->confirmed);
        cache.Confirm("a.example", Ip("127.0.0.2"), R::OwnName);
        EXPECT_TRUE(cache.Lookup("a.example")->confirmed);
        clock.now = kNow - 10;  // a clock set back
        EXPECT_FALSE(cache.Lookup("a.example")->confirmed);

        cache.Forget("a.example", Ip("127.0.0.9"));
        EXPECT_TRUE(cache.Find("a.example"));
        cache.Forget("a.example", Ip("127.0.0.2"));
        EXPECT_FALSE(cache.Find("a.example"));
        cache.Store(HostRecord::Make(Ip("127.0.0.3"), "b.example", 1, kNow));
    }
    // When a loaded record's host was resolved is not known.
    HostCache restarted(folder / "host.dat", clock.clock());
    ASSERT_TRUE(restarted.Lookup("b.example"));
    EXPECT_FALSE(restarted.Lookup("b.example")->confirmed);
}

TEST(HostCacheConcurrency, StoresAndLookupsFromManyThreads) {
    testsupport::TempFolder folder;
    HostCache cache(folder / "host.dat");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&cache, t] {
            for (int i = 0; i < 500; ++i) {
                std::string host = "h" + std::to_string(i % 50) + ".example";
                cache.Store(HostRecord::Make(Ip("127.0.0.2") + t, host, i, 0));
                auto hit = cache.Lookup(host);
                ASSERT_TRUE(hit);
                ASSERT_NE(hit->address, 0u);
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(cache.Size(), 50u);
    cache.Save();
    EXPECT_EQ(folder.Read("host.dat").size(), 50 * HostRecord::kSize);
}

// The listener loads "host.dat" from its working folder when built and writes
// it when destroyed.
TEST(HostCacheListener, LoadedAtConstructionSavedAtDestruction) {
    testsupport::TempFolder folder(true);
    int32_t now = static_cast<int32_t>(HostCache::SystemNow());
    folder.Write("host.dat", FileOf({HostRecord::Make(Ip("127.0.0.2"), "remembered.example", 4, now - 60)}));
    {
        CLocalProxy proxy(testsupport::FreeLoopbackPort());
        ASSERT_TRUE(proxy.hostCache.Find("remembered.example"));
        proxy.hostCache.Store(HostRecord::Make(Ip("127.0.0.3"), "added.example", 9, now));
        ASSERT_EQ(proxy.Listen(), 1);
        std::thread serving([&proxy] { proxy.AcceptLoop(); });
        testsupport::LoopbackClient client;
        ASSERT_TRUE(client.Connect(proxy.Port()));
        ASSERT_TRUE(testsupport::WaitFor([&] { return proxy.connections.LiveCount() == 1; }, 2000));
        // Nothing is written while the listener serves.
        EXPECT_EQ(folder.Read("host.dat").size(), HostRecord::kSize);
        proxy.Stop();
        serving.join();
    }
    std::vector<HostRecord> saved = RecordsOf(folder.Read("host.dat"));
    ASSERT_EQ(saved.size(), 2u);
    EXPECT_EQ(saved[0].Host(), "added.example");
    EXPECT_EQ(saved[1].Host(), "remembered.example");
    EXPECT_EQ(saved[1].connectMs, 4);
}

}  // namespace
