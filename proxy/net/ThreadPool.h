#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

// Threads that are reused: a job goes to an idle thread when there is one,
// otherwise to a new thread while fewer than the bound run. A thread left idle
// for the idle time ends. Stop waits for the running jobs (their owner must
// have made them end, e.g. by shutting their sockets down) and joins every
// thread. One lock guards all of it; no other lock is taken while it is held,
// and no job runs under it.
class ThreadPool {
public:
    // What became of a job offered to Run.
    enum class Start {
        Started,   // it runs, or is about to, on a pooled thread
        Stopping,  // the pool is stopping or stopped
        Full,      // every thread is busy and no further one may start
        NoThread   // a thread was needed and could not be started
    };

    // Lets its holder wait until the job it was given with has run and been
    // destroyed (what the job captured is gone by then).
    class Completion {
    public:
        Completion();
        void Wait() const;
        // False when the deadline passed first.
        bool WaitFor(std::chrono::milliseconds timeout) const;
        bool Done() const;

    private:
        friend class ThreadPool;
        struct State {
            std::mutex lock;
            std::condition_variable done;
            bool finished = false;
        };
        static void Finish(State& state);
        std::shared_ptr<State> state_;
    };

    // How threads are started: std::thread, unless a test makes starts fail
    // (by throwing std::system_error, as std::thread does).
    using ThreadStarter = std::function<std::thread(std::function<void()>)>;

    ThreadPool(size_t maxThreads, std::chrono::milliseconds idleTime);
    ~ThreadPool();  // Stop()
    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

    // The bound and the idle time; threads already idle keep their deadline.
    void Configure(size_t maxThreads, std::chrono::milliseconds idleTime);
    // Hands the job to a thread. With every thread busy at the bound it waits
    // up to the hand-off time for one to come back (a thread whose job has
    // just let go of its connection is about to). Anything but Started means
    // the job was not run and has been destroyed. `done`, when given, is
    // finished once the job has run.
    Start Run(std::function<void()> job, const Completion* done = nullptr);
    // Refuses further jobs, lets the queued and running ones end, and joins
    // every thread. Not to be called from a job of this pool.
    void Stop();

    ThreadStarter SetThreadStarter(ThreadStarter starter);
    void SetHandOffTime(std::chrono::milliseconds wait);

    size_t ThreadCount() const;   // threads alive, idle or busy
    size_t IdleCount() const;     // of them, waiting for a job
    size_t StartedCount() const;  // threads ever started

private:
    struct Task {
        std::function<void()> job;
        std::shared_ptr<Completion::State> done;
    };
    using Threads = std::list<std::thread>;

    void Serve(Threads::iterator self, Task first);
    void JoinRetired();

    mutable std::mutex lock_;
    std::condition_variable work_;     // a task was queued, or the pool stops
    std::condition_variable freed_;    // a thread became idle
    std::condition_variable allGone_;  // the last thread has retired
    Threads threads_;                  // alive
    Threads retired_;                  // ended or ending, to be joined
    std::list<Task> queue_;            // handed to idle threads, not yet taken
    size_t idle_ = 0;
    size_t started_ = 0;
    size_t maxThreads_;
    std::chrono::milliseconds idleTime_;
    std::chrono::milliseconds handOff_{50};
    bool stopping_ = false;
    ThreadStarter startThread_ = [](std::function<void()> body) { return std::thread(std::move(body)); };
};
