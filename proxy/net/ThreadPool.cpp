#include "net/ThreadPool.h"

#include <system_error>

ThreadPool::Completion::Completion() : state_(std::make_shared<State>()) {}

void ThreadPool::Completion::Wait() const {
    std::unique_lock<std::mutex> g(state_->lock);
    state_->done.wait(g, [this] { return state_->finished; });
}

bool ThreadPool::Completion::WaitFor(std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> g(state_->lock);
    return state_->done.wait_for(g, timeout, [this] { return state_->finished; });
}

bool ThreadPool::Completion::Done() const {
    std::lock_guard<std::mutex> g(state_->lock);
    return state_->finished;
}

void ThreadPool::Completion::Finish(State& state) {
    std::lock_guard<std::mutex> g(state.lock);
    state.finished = true;
    state.done.notify_all();
}

ThreadPool::ThreadPool(size_t maxThreads, std::chrono::milliseconds idleTime)
    : maxThreads_(maxThreads), idleTime_(idleTime) {}

ThreadPool::~ThreadPool() { Stop(); }

void ThreadPool::Configure(size_t maxThreads, std::chrono::milliseconds idleTime) {
    std::lock_guard<std::mutex> g(lock_);
    maxThreads_ = maxThreads;
    idleTime_ = idleTime;
}

ThreadPool::Start ThreadPool::Run(std::function<void()> job, const Completion* done) {
    JoinRetired();
    Task task{std::move(job), done ? done->state_ : nullptr};
    std::unique_lock<std::mutex> g(lock_);
    const auto handOffEnd = std::chrono::steady_clock::now() + handOff_;
    for (;;) {
        if (stopping_) return Start::Stopping;
        if (idle_ > queue_.size()) {
            queue_.push_back(std::move(task));
            work_.notify_one();
            return Start::Started;
        }
        if (threads_.size() < maxThreads_) break;
        if (std::chrono::steady_clock::now() >= handOffEnd) return Start::Full;
        freed_.wait_until(g, handOffEnd);
    }
    // The new thread finds its own place in the list when it retires; it
    // cannot take the lock before this function has let go of it.
    threads_.emplace_front();
    const Threads::iterator self = threads_.begin();
    try {
        *self = startThread_([this, self, first = std::move(task)]() mutable { Serve(self, std::move(first)); });
    } catch (const std::system_error&) {
        threads_.erase(self);
        return Start::NoThread;
    }
    ++started_;
    return Start::Started;
}

void ThreadPool::Serve(Threads::iterator self, Task first) {
    Task task = std::move(first);
    for (;;) {
        task.job();
        task.job = nullptr;  // what it captured goes before the completion is told
        if (task.done) Completion::Finish(*task.done);
        task.done.reset();

        std::unique_lock<std::mutex> g(lock_);
        ++idle_;
        freed_.notify_one();
        const auto idleEnd = std::chrono::steady_clock::now() + idleTime_;
        work_.wait_until(g, idleEnd, [this] { return !queue_.empty() || stopping_; });
        --idle_;
        if (!queue_.empty()) {
            task = std::move(queue_.front());
            queue_.pop_front();
            continue;
        }
        // Idle too long, or stopping: the thread is joined by the next Run or by Stop.
        retired_.splice(retired_.end(), threads_, self);
        freed_.notify_one();  // room for a new thread
        if (threads_.empty()) allGone_.notify_all();
        return;
    }
}

void ThreadPool::JoinRetired() {
    Threads ended;
    {
        std::lock_guard<std::mutex> g(lock_);
        ended.swap(retired_);
    }
    for (std::thread& t : ended) t.join();
}

void ThreadPool::Stop() {
    {
        std::unique_lock<std::mutex> g(lock_);
        stopping_ = true;
        work_.notify_all();
        freed_.notify_all();
        allGone_.wait(g, [this] { return threads_.empty(); });
    }
    JoinRetired();
}

ThreadPool::ThreadStarter ThreadPool::SetThreadStarter(ThreadStarter starter) {
    std::lock_guard<std::mutex> g(lock_);
    std::swap(starter, startThread_);
    return starter;
}

void ThreadPool::SetHandOffTime(std::chrono::milliseconds wait) {
    std::lock_guard<std::mutex> g(lock_);
    handOff_ = wait;
}

size_t ThreadPool::ThreadCount() const {
    std::lock_guard<std::mutex> g(lock_);
    return threads_.size();
}

size_t ThreadPool::IdleCount() const {
    std::lock_guard<std::mutex> g(lock_);
    return idle_;
}

size_t ThreadPool::StartedCount() const {
    std::lock_guard<std::mutex> g(lock_);
    return started_;
}
