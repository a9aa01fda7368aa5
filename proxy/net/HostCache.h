#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "net/HostRecord.h"

// Remembered host addresses, shared by every connection worker. Bounded: at
// most kMaxHosts hosts, the least recently used going first, in memory and
// so in "host.dat". A remembered address is used without asking the resolver
// only for kConfirmSeconds after its host was last resolved; then the caller
// resolves the host again and confirms or forgets the address.
//
// The lock guards the map, the recency list and the saved flag; every
// operation holds it for its whole run, and no other lock is taken while it
// is held. The file is read at construction (before any worker exists) and
// written once, by Save or at destruction, whichever comes first.
class HostCache {
public:
    // Seconds since 1970-01-01 UTC; replaceable so the age rules can be tested.
    using Clock = std::function<int64_t()>;
    static int64_t SystemNow();

    // A stored record is loaded only while younger than this.
    static constexpr int64_t kMaxAgeSeconds = 86400;
    static constexpr size_t kMaxHosts = 10000;
    // How long after its host was resolved an address is used unconfirmed.
    static constexpr int64_t kConfirmSeconds = 3600;

    // Which name's addresses an entry holds: the host's own, or (SafeSearch)
    // the name its search engine gives for a filtered search.
    enum class Resolution { OwnName, SafeSearchName };

    explicit HostCache(std::string fileName = "host.dat", Clock clock = &SystemNow);
    ~HostCache();  // saves, unless already saved
    HostCache(const HostCache&) = delete;
    HostCache& operator=(const HostCache&) = delete;

    struct Hit {
        uint32_t address;  // network byte order
        int32_t connectMs;
        // The host was resolved, the same way, less than kConfirmSeconds ago:
        // the address may be used as it is. False for an entry read from the
        // file (when it was resolved is not kept there).
        bool confirmed;
    };

    // Reads the file; records with address 0, a negative time or an age of a
    // day or more are skipped, as is a short final record. Of more than
    // kMaxHosts records, the most recently used are kept.
    void Load();
    // A connection just chosen among the host's freshly resolved addresses.
    // A new host keeps the record's stamp; a known one takes the address and
    // time and is stamped now.
    void Store(const HostRecord& record, Resolution resolution = Resolution::OwnName);
    // A hit renews the entry's stamp (it is used), not its resolution time.
    std::optional<Hit> Lookup(const std::string& host, Resolution resolution = Resolution::OwnName);
    // The host was resolved again and still has this address.
    void Confirm(const std::string& host, uint32_t address, Resolution resolution);
    // The host was resolved again and no longer has this address.
    void Forget(const std::string& host, uint32_t address);
    // Writes every record in ascending byte order of host name, once.
    void Save();

    size_t Size() const;
    // A copy of the entry, for inspection.
    std::optional<HostRecord> Find(const std::string& host) const;
    int32_t Now32() const { return static_cast<int32_t>(static_cast<uint32_t>(clock_())); }

private:
    struct Entry {
        HostRecord record;
        int64_t resolvedAt = 0;
        bool resolvedKnown = false;  // false for a record read from the file
        Resolution resolution = Resolution::OwnName;
        Entry* newer = nullptr;  // recency list, newest first
        Entry* older = nullptr;
        const std::string* name = nullptr;  // the map's own key (map nodes never move)
    };
    using Map = std::map<std::string, Entry>;  // std::string orders bytes as unsigned, like memcmp

    // Under the lock.
    Entry& InsertLocked(const HostRecord& record);
    void Touch(Entry& e);
    void Unlink(Entry& e);
    void EraseLocked(Entry& e);

    mutable std::mutex lock_;
    const std::string fileName_;
    Map map_;
    Entry* newest_ = nullptr;
    Entry* oldest_ = nullptr;
    bool saved_ = false;
    const Clock clock_;
};
