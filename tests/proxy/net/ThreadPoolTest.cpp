// The pool of reused threads: jobs go to idle threads, new ones start only up
// to the bound, idle ones end after their time, a start that fails refuses
// only its job, and Stop lets running jobs end and joins every thread.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>

#include "net/ThreadPool.h"
#include "support/LoopbackClient.h"

using namespace std::chrono_literals;
using testsupport::WaitFor;

namespace {

// Holds the jobs that wait on it until it is opened (or the deadline passes,
// so a broken pool fails the test instead of hanging it).
class Gate {
public:
    void Open() {
        std::lock_guard<std::mutex> g(lock_);
        open_ = true;
        opened_.notify_all();
    }
    bool Wait() {
        std::unique_lock<std::mutex> g(lock_);
        return opened_.wait_for(g, 10s, [this] { return open_; });
    }

private:
    std::mutex lock_;
    std::condition_variable opened_;
    bool open_ = false;
};

bool AllIdle(const ThreadPool& pool) { return pool.IdleCount() == pool.ThreadCount(); }

}  // namespace

TEST(ThreadPoolTest, JobsGoToTheIdleThreadAndItsCompletionComesAfterTheJobIsGone) {
    ThreadPool pool(4, 10s);
    std::set<std::thread::id> ran;
    std::mutex ranLock;
    for (int i = 0; i < 20; ++i) {
        auto captured = std::make_shared<int>(i);
        ThreadPool::Completion done;
        ASSERT_EQ(pool.Run(
                      [&, captured] {
                          std::lock_guard<std::mutex> g(ranLock);
                          ran.insert(std::this_thread::get_id());
                      },
                      &done),
                  ThreadPool::Start::Started);
        ASSERT_TRUE(done.WaitFor(5s));
        // A tunnel's relay captures the worker's stack: it must be gone.
        EXPECT_EQ(captured.use_count(), 1) << "the job outlived its completion";
        ASSERT_TRUE(WaitFor([&] { return AllIdle(pool); }, 5000));
    }
    EXPECT_EQ(pool.StartedCount(), 1u);
    EXPECT_EQ(pool.ThreadCount(), 1u);
    EXPECT_EQ(ran.size(), 1u);
    EXPECT_EQ(ran.count(std::this_thread::get_id()), 0u) << "a job ran on the caller's thread";
}

TEST(ThreadPoolTest, ThreadsStartOnDemandUpToTheBoundAndAFreedOneIsWaitedFor) {
    ThreadPool pool(3, 10s);
    pool.SetHandOffTime(10ms);
    Gate gate;
    std::atomic<int> finished{0};
    auto blocked = [&] {
        gate.Wait();
        ++finished;
    };
    for (int i = 0; i < 3; ++i) ASSERT_EQ(pool.Run(blocked), ThreadPool::Start::Started);
    EXPECT_EQ(pool.ThreadCount(), 3u);
    auto token = std::make_shared<int>(0);
    std::atomic<bool> refusedRan{false};
    EXPECT_EQ(pool.Run([&refusedRan, token] { refusedRan = true; }), ThreadPool::Start::Full);
    EXPECT_EQ(token.use_count(), 1) << "a refused job was kept";
    EXPECT_EQ(pool.ThreadCount(), 3u);

    // At the bound, a job waits for a thread that comes back within the hand-off time.
    pool.SetHandOffTime(10s);
    ThreadPool::Completion handedOffDone;
    auto handedOff = std::async(std::launch::async, [&] { return pool.Run([] {}, &handedOffDone); });
    EXPECT_EQ(handedOff.wait_for(50ms), std::future_status::timeout) << "no thread was free, yet it did not wait";
    gate.Open();
    EXPECT_EQ(handedOff.get(), ThreadPool::Start::Started);
    EXPECT_TRUE(handedOffDone.WaitFor(5s));
    ASSERT_TRUE(WaitFor([&] { return finished == 3 && AllIdle(pool); }, 5000));
    EXPECT_FALSE(refusedRan);
    EXPECT_EQ(pool.StartedCount(), 3u) << "a thread was started while one was idle";
}

TEST(ThreadPoolTest, AnIdleThreadEndsAfterItsIdleTimeAndIsReplacedWhenNeeded) {
    ThreadPool pool(2, 30ms);
    ThreadPool::Completion first;
    ASSERT_EQ(pool.Run([] {}, &first), ThreadPool::Start::Started);
    ASSERT_TRUE(first.WaitFor(5s));
    ASSERT_TRUE(WaitFor([&] { return pool.ThreadCount() == 0; }, 5000)) << "an idle thread was kept";
    ThreadPool::Completion second;
    ASSERT_EQ(pool.Run([] {}, &second), ThreadPool::Start::Started);
    EXPECT_TRUE(second.WaitFor(5s));
    EXPECT_EQ(pool.StartedCount(), 2u);
}

TEST(ThreadPoolTest, AThreadThatCannotStartRefusesOnlyItsJob) {
    ThreadPool pool(4, 10s);
    std::atomic<bool> fail{true};
    ThreadPool::ThreadStarter normal;
    normal = pool.SetThreadStarter([&](std::function<void()> body) {
        if (fail) throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
        return normal(std::move(body));
    });
    auto token = std::make_shared<int>(0);
    bool ran = false;
    EXPECT_EQ(pool.Run([&ran, token] { ran = true; }), ThreadPool::Start::NoThread);
    EXPECT_FALSE(ran);
    EXPECT_EQ(token.use_count(), 1);
    EXPECT_EQ(pool.ThreadCount(), 0u);
    fail = false;
    ThreadPool::Completion done;
    ASSERT_EQ(pool.Run([&ran] { ran = true; }, &done), ThreadPool::Start::Started);
    ASSERT_TRUE(done.WaitFor(5s));
    EXPECT_TRUE(ran);
    EXPECT_EQ(pool.StartedCount(), 1u);
}

TEST(ThreadPoolTest, StopLetsRunningJobsEndJoinsEveryThreadAndRefusesNewJobs) {
    ThreadPool pool(4, 10s);
    Gate gate;
    std::atomic<bool> jobEnded{false};
    ASSERT_EQ(pool.Run([&] {
        gate.Wait();
        jobEnded = true;
    }),
              ThreadPool::Start::Started);
    // Two more threads, idle by the time Stop comes.
    Gate second;
    ASSERT_EQ(pool.Run([&] { second.Wait(); }), ThreadPool::Start::Started);
    ASSERT_EQ(pool.Run([&] { second.Wait(); }), ThreadPool::Start::Started);
    second.Open();
    ASSERT_TRUE(WaitFor([&] { return pool.IdleCount() == 2; }, 5000));

    auto stopped = std::async(std::launch::async, [&] {
        pool.Stop();
        return jobEnded.load();
    });
    ASSERT_TRUE(WaitFor([&] { return pool.Run([] {}) == ThreadPool::Start::Stopping; }, 5000));
    EXPECT_EQ(stopped.wait_for(20ms), std::future_status::timeout) << "Stop returned under a running job";
    gate.Open();
    ASSERT_EQ(stopped.wait_for(10s), std::future_status::ready);
    EXPECT_TRUE(stopped.get()) << "Stop returned before the running job ended";
    EXPECT_EQ(pool.ThreadCount(), 0u);
    EXPECT_EQ(pool.IdleCount(), 0u);
    pool.Stop();  // a second stop, and the destructor's, find nothing to do
}
