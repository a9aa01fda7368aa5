#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <future>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "tls/Leaf.h"
#include "tls/TlsLimits.h"

namespace tls {

// The leaf certificates of one local CA, per host, in a bounded cache (the
// least recently used goes). A host is minted once however many connections
// ask for it at the same time: the first mints with no lock held, the others
// wait for its result. Safe for any number of threads.
class LeafCache {
public:
    // Seconds since 1970; tests move it forward.
    using Clock = std::function<int64_t()>;

    LeafCache(std::shared_ptr<const LocalCa> ca, const TlsLimits& limits = {}, Clock clock = {});
    ~LeafCache();
    LeafCache(const LeafCache&) = delete;
    LeafCache& operator=(const LeafCache&) = delete;

    // The host's leaf (host compared in lower case). Null when the host cannot
    // be certified, minting failed, or the minting thread did not finish in
    // time.
    std::shared_ptr<const Leaf> Get(const std::string& host);

    // Leaves minted since construction, and hosts held now.
    size_t Minted() const;
    size_t Size() const;

private:
    using Result = std::shared_future<std::shared_ptr<const Leaf>>;
    struct Slot {
        std::shared_ptr<const Leaf> leaf;      // set once minted; the slot is then in the recency list
        Result minting;                        // what waiters wait for until then
        std::list<std::string>::iterator use;  // valid once minted
    };
    int64_t Now() const;

    const std::shared_ptr<const LocalCa> ca_;
    const TlsLimits limits_;
    const Clock clock_;
    mutable std::mutex lock_;  // guards everything below
    std::unordered_map<std::string, Slot> slots_;
    std::list<std::string> recency_;  // most recently used first; minted slots only
    size_t minted_ = 0;
};

}  // namespace tls
