// Window messages between programs: found by title, sent synchronously.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/WindowMessage.h"
#include "support/TempFolder.h"

using platform::FindWindowByTitle;
using platform::MessageWindow;
using platform::SendMessageToWindow;
using platform::WindowMessage;

namespace {

// Each test gets its own runtime folder, so titles never collide.
class WindowMessageTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* old = std::getenv("XDG_RUNTIME_DIR")) old_ = old;
        ::setenv("XDG_RUNTIME_DIR", folder_.path().c_str(), 1);
    }
    void TearDown() override {
        if (old_.empty())
            ::unsetenv("XDG_RUNTIME_DIR");
        else
            ::setenv("XDG_RUNTIME_DIR", old_.c_str(), 1);
    }
    testsupport::TempFolder folder_;
    std::string old_;
};

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

TEST_F(WindowMessageTest, LiveTitleCannotBeTakenTwiceButALeftoverCan) {
    MessageWindow first("W", [](const WindowMessage&) {});
    ASSERT_TRUE(first.Open());
    MessageWindow second("W", [](const WindowMessage&) {});
    EXPECT_FALSE(second.Open());
    first.Close();
    EXPECT_FALSE(FindWindowByTitle("W"));

    // A socket file left by a program that died: nobody answers on it.
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = folder_ / "W.window";
    std::strcpy(address.sun_path, path.c_str());
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
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
    EXPECT_TRUE(SendMessageToWindow("W", WindowMessage{1, 2, 3}, 5000));
    EXPECT_EQ(count.load(), 1);
}

TEST_F(WindowMessageTest, SendTimesOutOnAHungReceiver) {
    std::atomic<bool> release{false};
    MessageWindow window("W", [&](const WindowMessage&) {
        for (int i = 0; i < 200 && !release; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    });
    ASSERT_TRUE(window.Open());
    EXPECT_FALSE(SendMessageToWindow("W", WindowMessage{1, 0, 0}, 50));
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
                if (SendMessageToWindow("W", WindowMessage{7, t * 100 + i, 0}, 5000)) ++delivered;
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
    EXPECT_FALSE(std::filesystem::exists(folder_ / "W.window"));
}

}  // namespace
