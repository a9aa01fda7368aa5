#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>

#include "net/ConnectionRecord.h"
#include "net/ThreadPool.h"

// What became of an accepted connection offered to the registry.
enum class Admission {
    Started,   // registered, its worker running
    Stopping,  // the listener is stopping
    Full,      // as many connections live as are allowed
    NoThread   // no pooled thread could take the worker
};

// The registry of live connections. Its lock guards the live set and the
// count of running workers; no other lock is taken while it is held.
class CConnectionManager {
public:
    CConnectionManager() = default;
    virtual ~CConnectionManager();  // empties the set without releasing records
    CConnectionManager(const CConnectionManager&) = delete;
    CConnectionManager& operator=(const CConnectionManager&) = delete;

    // Registers the record and hands its worker to a thread of `threads`.
    // The record counts as a running worker from its registration on, so a
    // stop waits for it even while the hand-off is under way; the lock is let
    // go before the pool is asked. Anything but Started leaves the record
    // unregistered and untouched, for the caller to close: a connection
    // accepted during a stop, beyond `maxLive` live ones, or for which no
    // thread could be had.
    Admission RegisterAndStart(ConnectionRecord* record, const std::function<bool()>& accepting,
                               void (*worker)(ConnectionRecord*), ThreadPool& threads, size_t maxLive = SIZE_MAX);
    // Closes the record's two sockets under the lock, so the stop path never
    // shuts down a socket number that was closed and taken again meanwhile.
    void CloseSockets(ConnectionRecord* record);
    // The worker's own exit while the listener is open: release the record.
    void Remove(ConnectionRecord* record);
    // Every worker calls this as its very last act (it touches nothing after).
    void WorkerEnded();
    // Shuts both sockets of every record down: blocked workers wake and end.
    void ShutdownAll();
    // Waits until every started worker has called WorkerEnded.
    void WaitForWorkers();
    // Closes the sockets and releases every record (after WaitForWorkers).
    void CloseAll();
    size_t LiveCount() const;

private:
    mutable std::mutex lock_;
    std::condition_variable workersDone_;
    std::set<ConnectionRecord*> live_;
    size_t runningWorkers_ = 0;
};
