// Window messages between programs: found by title, sent synchronously.
#include "WindowMessageTest.h"

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// Messages are numbered from 1024 (WM_USER) up, the range programs define
// for each other: a window system keeps the numbers below for itself.

TEST_F(WindowMessageTest, MessageArrivesWithItsParametersBeforeTheSenderGoesOn) {
    std::atomic<bool> handled{false};
    WindowMessage got;
    MessageWindow window("Morvane", [&](const WindowMessage& m) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        got = m;
        handled = true;
    });
    ASSERT_TRUE(window.Open());
    EXPECT_TRUE(FindWindowByTitle("Morvane"));
    ASSERT_TRUE(SendMessageToWindow("Morvane", WindowMessage{1699, 0xFFFFFFFFFFull, -7}));
    // Synchronous: the handler has finished when the send returns.
    EXPECT_TRUE(handled.load());
    EXPECT_EQ(got.message, 1699u);
    EXPECT_EQ(got.wParam, 0xFFFFFFFFFFull);
    EXPECT_EQ(got.lParam, -7);
}

TEST_F(WindowMessageTest, TitlesAreExact) {
    MessageWindow window("Morvane_锁定", [](const WindowMessage&) {});
    ASSERT_TRUE(window.Open());
    EXPECT_TRUE(FindWindowByTitle("Morvane_锁定"));
    EXPECT_FALSE(FindWindowByTitle("Morvane"));
    EXPECT_FALSE(FindWindowByTitle("morvane_锁定"));
    EXPECT_FALSE(SendMessageToWindow("Morvane", WindowMessage{1699, 0, 0}));
}

TEST_F(WindowMessageTest, LiveTitleCannotBeTakenTwice) {
    MessageWindow first("W", [](const WindowMessage&) {});
    ASSERT_TRUE(first.Open());
    MessageWindow second("W", [](const WindowMessage&) {});
    EXPECT_FALSE(second.Open());
    first.Close();
    EXPECT_FALSE(FindWindowByTitle("W"));
    EXPECT_TRUE(second.Open());
    EXPECT_TRUE(FindWindowByTitle("W"));
}

TEST_F(WindowMessageTest, SilentPeerDoesNotBlockTheWindow) {
    std::atomic<int> count{0};
    MessageWindow window("W", [&](const WindowMessage&) { ++count; });
    ASSERT_TRUE(window.Open());
    // FindWindowByTitle connects and says nothing; a real message after it
    // must still get through.
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(FindWindowByTitle("W"));
    EXPECT_TRUE(SendMessageToWindow("W", WindowMessage{1700, 2, 3}, 5000));
    EXPECT_EQ(count.load(), 1);
}

TEST_F(WindowMessageTest, SendTimesOutOnAHungReceiver) {
    std::atomic<bool> release{false};
    MessageWindow window("W", [&](const WindowMessage&) {
        for (int i = 0; i < 200 && !release; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    });
    ASSERT_TRUE(window.Open());
    EXPECT_FALSE(SendMessageToWindow("W", WindowMessage{1700, 0, 0}, 50));
    release = true;
}

TEST_F(WindowMessageTest, ConcurrencySendersAreHandledOneAtATime) {
    std::atomic<int> inside{0};
    std::atomic<int> maxInside{0};
    std::mutex mutex;
    std::vector<uint64_t> seen;
    MessageWindow window("W", [&](const WindowMessage& m) {
        const int now = ++inside;
        int prev = maxInside.load();
        while (now > prev && !maxInside.compare_exchange_weak(prev, now)) {
        }
        {
            std::lock_guard lock(mutex);
            seen.push_back(m.wParam);
        }
        --inside;
    });
    ASSERT_TRUE(window.Open());
    std::vector<std::thread> senders;
    std::atomic<int> delivered{0};
    for (uint64_t t = 0; t < 4; ++t)
        senders.emplace_back([&, t] {
            for (uint64_t i = 0; i < 10; ++i)
                if (SendMessageToWindow("W", WindowMessage{1701, t * 100 + i, 0}, 5000)) ++delivered;
        });
    for (auto& s : senders) s.join();
    EXPECT_EQ(delivered.load(), 40);
    EXPECT_EQ(maxInside.load(), 1);
    std::lock_guard lock(mutex);
    EXPECT_EQ(seen.size(), 40u);
}

TEST_F(WindowMessageTest, StopWhileIdleJoinsAndRemovesTheWindow) {
    auto window = std::make_unique<MessageWindow>("W", [](const WindowMessage&) {});
    ASSERT_TRUE(window->Open());
    window.reset();
    EXPECT_FALSE(FindWindowByTitle("W"));
}

TEST_F(WindowMessageTest, MessageFromAnotherProgramIsHandledBeforeItsSendReturns) {
    const std::string title = "SenderTest";  // one word: the command line stays plain
    std::mutex mutex;  // the handler's thread and this one learn of each other only through the other program
    int handled = 0;
    WindowMessage got;
    MessageWindow window(title, [&](const WindowMessage& m) {
        std::lock_guard lock(mutex);
        got = m;
        ++handled;
    });
    ASSERT_TRUE(window.Open());
    // The sender exits 0 only when its send came back as handled.
    const std::string sender = std::filesystem::absolute(WINDOW_MESSAGE_SENDER).make_preferred().string();
    const std::string command = "\"" + sender + "\" " + title + " 1699 1099511627775 -7";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(handled, 1);
        EXPECT_EQ(got.message, 1699u);
        EXPECT_EQ(got.wParam, 0xFFFFFFFFFFull);
        EXPECT_EQ(got.lParam, -7);
    }

    // No window of that title: the sender says so.
    window.Close();
    EXPECT_NE(std::system(command.c_str()), 0);
}

}  // namespace
