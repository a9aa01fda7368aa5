#include "net/CConnectionManager.h"

CConnectionManager::~CConnectionManager() {
    std::lock_guard<std::mutex> g(lock_);
    live_.clear();
}

bool CConnectionManager::RegisterAndStart(ConnectionRecord* record, const std::function<bool()>& accepting,
                                          void (*worker)(ConnectionRecord*)) {
    std::lock_guard<std::mutex> g(lock_);
    if (!accepting()) return false;
    live_.insert(record);
    try {
        record->workerThread = std::thread(worker, record);
        ++runningWorkers_;
    } catch (const std::system_error&) {
        // No thread: the record stays registered, its socket open, until stop.
    }
    return true;
}

void CConnectionManager::Register(ConnectionRecord* record) {
    std::lock_guard<std::mutex> g(lock_);
    live_.insert(record);
}

void CConnectionManager::Remove(ConnectionRecord* record) {
    std::unique_ptr<ConnectionRecord> released;
    {
        std::lock_guard<std::mutex> g(lock_);
        if (live_.empty() || !live_.erase(record)) return;
        released.reset(record);
    }
    // Called by the record's own worker: its thread cannot join itself.
    if (released->workerThread.joinable()) {
        if (released->workerThread.get_id() == std::this_thread::get_id())
            released->workerThread.detach();
        else
            released->workerThread.join();
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
        if (record->workerThread.joinable()) record->workerThread.join();
    }
}

size_t CConnectionManager::LiveCount() const {
    std::lock_guard<std::mutex> g(lock_);
    return live_.size();
}
