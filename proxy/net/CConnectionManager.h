#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <set>

#include "net/ConnectionRecord.h"

// The registry of live connections. Its lock guards the live set and the
// count of running workers; no other lock is taken while it is held.
class CConnectionManager {
public:
    CConnectionManager() = default;
    virtual ~CConnectionManager();  // empties the set without releasing records
    CConnectionManager(const CConnectionManager&) = delete;
    CConnectionManager& operator=(const CConnectionManager&) = delete;

    // Registers the record and starts its worker in one step under the lock, so
    // a fast worker cannot remove its record before the thread is stored.
    // Refuses (false, record untouched) once `accepting` says no: a connection
    // accepted during a stop is then closed by the caller.
    bool RegisterAndStart(ConnectionRecord* record, const std::function<bool()>& accepting,
                          void (*worker)(ConnectionRecord*));
    void Register(ConnectionRecord* record);
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
    // Closes the sockets, joins the threads and releases every record.
    void CloseAll();
    size_t LiveCount() const;

private:
    mutable std::mutex lock_;
    std::condition_variable workersDone_;
    std::set<ConnectionRecord*> live_;
    size_t runningWorkers_ = 0;
};
