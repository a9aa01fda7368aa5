// The installed program: started from its own folder, it listens on the
// configured address and port, and SIGTERM closes everything and ends it.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <vector>

#include <platform/Socket.h>

#include "support/LoopbackClient.h"
#include "support/TempFolder.h"

namespace fs = std::filesystem;
using testsupport::LoopbackClient;

namespace {

// Waits for a child up to a deadline; -2 when it is still running.
int WaitExit(pid_t pid, int timeoutMs) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    while (std::chrono::steady_clock::now() < end) {
        if (::waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return -2;
}

// Kills the program if a failed assertion leaves the test early.
struct ChildGuard {
    pid_t pid;
    ~ChildGuard() {
        if (pid > 0 && ::waitpid(pid, nullptr, WNOHANG) == 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }
};

}  // namespace

TEST(ProxyProgramTest, StopSignalClosesEveryConnectionAndExitsWithinASecond) {
    testsupport::TempFolder folder;
    fs::copy_file(PROXY_PROGRAM, folder / "Proxy");
    fs::permissions(folder / "Proxy", fs::perms::owner_all);
    uint16_t port = testsupport::FreeLoopbackPort();
    uint16_t webPort = testsupport::FreeLoopbackPort();
    folder.Write("Data/config.ini",
                 "[Proxy]\nproxyPort=" + std::to_string(port) + "\nwebPort=" + std::to_string(webPort) + "\n");
    folder.Write("www/hello.html", "<p>hello</p>");
    folder.Write("Data/black_domains.txt", "blocked.example\n");

    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::chdir("/");  // the program must find its folder itself
        ::execl((folder / "Proxy").c_str(), "Proxy", nullptr);
        ::_exit(127);
    }
    ChildGuard guard{pid};
    ASSERT_TRUE(testsupport::WaitFor(
        [&] {
            LoopbackClient probe;
            return probe.Connect(port);
        },
        5000));
    std::vector<std::unique_ptr<LoopbackClient>> browsers;
    for (int i = 0; i < 10; ++i) {
        browsers.push_back(std::make_unique<LoopbackClient>());
        ASSERT_TRUE(browsers.back()->Connect(port));
    }
    // The web server starts on a thread of its own: it may come a moment later.
    LoopbackClient page;
    EXPECT_TRUE(testsupport::WaitFor([&] { return page.Connect(webPort); }, 5000))
        << "the local web server does not listen";
    page.SendAll("GET /hello.html HTTP/1.1\r\n\r\n");
    std::string answer = page.ReadUntilClosed(2000);
    EXPECT_NE(answer.find("<p>hello</p>"), std::string::npos) << answer;

    LoopbackClient elsewhere;
    EXPECT_FALSE(elsewhere.Connect(port, "127.0.0.2")) << "the default listens beyond 127.0.0.1";

    auto start = std::chrono::steady_clock::now();
    ::kill(pid, SIGTERM);
    int code = WaitExit(pid, 1000);
    auto took = std::chrono::steady_clock::now() - start;
    if (code != -2) guard.pid = -1;  // already reaped
    EXPECT_EQ(code, 0);
    EXPECT_LT(took, std::chrono::seconds(1));
    for (auto& b : browsers) EXPECT_TRUE(b->WaitClosed(500));
    EXPECT_TRUE(folder.Exists("Data/stats.ini")) << "the statistics were not stored at exit";
}

// Started by hand on a port another program listens on, the program says in
// one line where it could not listen and why, and exits with a failure.
TEST(ProxyProgramTest, TakenPortIsReportedInOneLineAndFailsTheExit) {
    testsupport::TempFolder folder;
    fs::copy_file(PROXY_PROGRAM, folder / "Proxy");
    fs::permissions(folder / "Proxy", fs::perms::owner_all);
    uint16_t port = testsupport::FreeLoopbackPort();
    folder.Write("Data/config.ini", "[Proxy]\nproxyPort=" + std::to_string(port) +
                                        "\nwebPort=" + std::to_string(testsupport::FreeLoopbackPort()) + "\n");
    platform::Socket blocker = platform::CreateTcpSocket().rc;
    ASSERT_EQ(platform::BindIPv4(blocker, "127.0.0.1", port).rc, 0);
    ASSERT_EQ(platform::ListenOn(blocker, 1).rc, 0);

    int err[2];
    ASSERT_EQ(::pipe(err), 0);
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::dup2(err[1], 2);
        ::close(err[0]);
        ::close(err[1]);
        ::execl((folder / "Proxy").c_str(), "Proxy", nullptr);
        ::_exit(127);
    }
    ChildGuard guard{pid};
    ::close(err[1]);
    int code = WaitExit(pid, 5000);
    if (code != -2) guard.pid = -1;
    std::string printed;
    char buf[512];
    for (ssize_t n; (n = ::read(err[0], buf, sizeof buf)) > 0;) printed.append(buf, static_cast<size_t>(n));
    ::close(err[0]);
    platform::CloseSocket(blocker);
    EXPECT_EQ(code, 1);
    EXPECT_EQ(printed, "Proxy: cannot listen on 127.0.0.1:" + std::to_string(port) + ": Address already in use\n");
}
