// The listener when the process has no descriptor left: the accept fails
// over and over; the loop must wait between tries instead of spinning, and
// serve the waiting browser once descriptors are free again.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>
#include <vector>

#include <platform/Socket.h>

#include "net/CLocalProxy.h"
#include "support/LoopbackClient.h"
#include "support/TempFolder.h"

namespace {

int HighestOpenDescriptor() {
    int highest = 2;
    DIR* dir = ::opendir("/proc/self/fd");
    if (!dir) return -1;
    const int own = ::dirfd(dir);
    while (dirent* e = ::readdir(dir)) {
        const int fd = std::atoi(e->d_name);
        if (fd != own && fd > highest) highest = fd;
    }
    ::closedir(dir);
    return highest;
}

double ProcessCpuMs() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000.0 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000.0;
}

}  // namespace

TEST(ListenerTest, AcceptOutOfDescriptorsBacksOffAndRecovers) {
    testsupport::TempFolder folder(true);
    const uint16_t port = testsupport::FreeLoopbackPort();
    CLocalProxy proxy(port);
    ASSERT_EQ(proxy.Listen(), 1);
    std::thread serving([&] { proxy.AcceptLoop(); });
    platform::Socket browser = platform::CreateTcpSocket().rc;
    ASSERT_NE(browser, platform::kInvalidSocket);

    // Every descriptor number below the new limit is taken.
    const int highest = HighestOpenDescriptor();
    ASSERT_GT(highest, 0);
    std::vector<int> fillers;
    int fd;
    while ((fd = ::dup(0)) >= 0 && fd < highest) fillers.push_back(fd);
    if (fd >= 0) ::close(fd);
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit tight = saved;
    tight.rlim_cur = static_cast<rlim_t>(highest + 1);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);

    // The handshake completes in the kernel; the accept cannot take it.
    const bool connected = platform::ConnectIPv4(browser, testsupport::Ipv4("127.0.0.1"), port).rc == 0;
    const double before = ProcessCpuMs();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const double spent = ProcessCpuMs() - before;
    ::setrlimit(RLIMIT_NOFILE, &saved);
    for (int filler : fillers) ::close(filler);

    EXPECT_TRUE(connected);
    EXPECT_LT(spent, 150.0) << "the accept loop spun while out of descriptors";
    // Descriptors are back: the waiting browser is served (here: closed,
    // since its request names no host).
    platform::SendSome(browser, "GET / HTTP/1.1\r\n\r\n", 18);
    char buf[64];
    EXPECT_EQ(platform::WaitReadable(browser, 5000).rc, 1);
    EXPECT_LE(platform::RecvSome(browser, buf, sizeof buf).rc, 0);
    platform::CloseSocket(browser);
    proxy.Stop();
    serving.join();
}
