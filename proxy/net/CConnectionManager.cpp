#include "net/CConnectionManager.h"

CConnectionManager::~CConnectionManager() {
    std::lock_guard<std::mutex> g(lock_);
    live_.clear();
}

Admission CConnectionManager::RegisterAndStart(ConnectionRecord* record, const std::function<bool()>& accepting,
                                               void (*worker)(ConnectionRecord*), ThreadPool& threads,
                                               size_t maxLive) {
    {
        std::lock_guard<std::mutex> g(lock_);
        if (!accepting()) return Admission::Stopping;
        if (live_.size() >= maxLive) return Admission::Full;
        live_.insert(record);
        ++runningWorkers_;
    }
    Admission refused = Admission::NoThread;
    switch (threads.Run([worker, record] { worker(record); })) {
        case ThreadPool::Start::Started:
            return Admission::Started;
        case ThreadPool::Start::Stopping:
            refused = Admission::Stopping;
            break;
        case ThreadPool::Start::Full:
        case ThreadPool::Start::NoThread:
            break;
    }
    // The worker never ran: nobody else has touched the record but a stop's
    // shutdown of its socket, and the stop waits for this.
    {
        std::lock_guard<std::mutex> g(lock_);
        live_.erase(record);
    }
    WorkerEnded();
    return refused;
}

void CConnectionManager::Remove(ConnectionRecord* record) {
    std::unique_ptr<ConnectionRecord> released;
    {
        std::lock_guard<std::mutex> g(lock_);
        if (live_.empty() || !live_.erase(record)) return;
        released.reset(record);
    }
    ConnectionRecord::CloseSocket(released->clientSocket);
    ConnectionRecord::CloseSocket(released->upstreamSocket);
}

void CConnectionManager::CloseSockets(ConnectionRecord* record) {
    std::lock_guard<std::mutex> g(lock_);
    ConnectionRecord::CloseSocket(record->clientSocket);
    ConnectionRecord::CloseSocket(record->upstreamSocket);
}

void CConnectionManager::WorkerEnded() {
    std::lock_guard<std::mutex> g(lock_);
    if (runningWorkers_ > 0) --runningWorkers_;
    if (runningWorkers_ == 0) workersDone_.notify_all();
}

void CConnectionManager::ShutdownAll() {
    std::lock_guard<std::mutex> g(lock_);
    for (ConnectionRecord* r : live_) {
        ConnectionRecord::ShutdownSocket(r->clientSocket);
        ConnectionRecord::ShutdownSocket(r->upstreamSocket);
    }
}

void CConnectionManager::WaitForWorkers() {
    std::unique_lock<std::mutex> g(lock_);
    workersDone_.wait(g, [this] { return runningWorkers_ == 0; });
}

void CConnectionManager::CloseAll() {
    std::set<ConnectionRecord*> records;
    {
        std::lock_guard<std::mutex> g(lock_);
        records.swap(live_);
    }
    for (ConnectionRecord* r : records) {
        std::unique_ptr<ConnectionRecord> record(r);
        ConnectionRecord::CloseSocket(record->clientSocket);
        ConnectionRecord::CloseSocket(record->upstreamSocket);
    }
}

size_t CConnectionManager::LiveCount() const {
    std::lock_guard<std::mutex> g(lock_);
    return live_.size();
}
