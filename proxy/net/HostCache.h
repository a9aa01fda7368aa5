#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "net/HostRecord.h"

// Remembered host addresses, shared by every connection worker. The lock
// guards the map and the saved flag; Store, Lookup and Save hold it for their
// whole run, and no other lock is taken while it is held. The file is read
// at construction (before any worker exists) and written once, by Save or at
// destruction, whichever comes first.
class HostCache {
public:
    // Seconds since 1970-01-01 UTC; replaceable so the age rule can be tested.
    using Clock = std::function<int64_t()>;
    static int64_t SystemNow();

    // A stored record is loaded only while younger than this.
    static constexpr int64_t kMaxAgeSeconds = 86400;

    explicit HostCache(std::string fileName = "host.dat", Clock clock = &SystemNow);
    ~HostCache();  // saves, unless already saved
    HostCache(const HostCache&) = delete;
    HostCache& operator=(const HostCache&) = delete;

    struct Hit {
        uint32_t address;  // network byte order
        int32_t connectMs;
    };

    // Reads the file; records with address 0, a negative time or an age of a
    // day or more are skipped, as is a short final record.
    void Load();
    // A new host keeps the record's stamp; a known one takes the address and
    // time and is stamped now.
    void Store(const HostRecord& record);
    // A hit renews the entry's stamp.
    std::optional<Hit> Lookup(const std::string& host);
    // Writes every record in ascending byte order of host name, once.
    void Save();

    size_t Size() const;
    // A copy of the entry, for inspection.
    std::optional<HostRecord> Find(const std::string& host) const;
    int32_t Now32() const { return static_cast<int32_t>(static_cast<uint32_t>(clock_())); }

private:
    mutable std::mutex lock_;
    const std::string fileName_;
    std::map<std::string, HostRecord> map_;  // std::string orders bytes as unsigned, like memcmp
    bool saved_ = false;
    const Clock clock_;
};
