// Downloads through libcurl: success, failure without damage, progress.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "platform/Download.h"
#include "support/TempFolder.h"

namespace {

// Answers each of a fixed number of connections on 127.0.0.1 with the same
// canned bytes, then stops. Every wait has a deadline.
class CannedServer {
public:
    CannedServer(std::string response, int connections) : response_(std::move(response)) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(fd_, 4);
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this, connections] {
            for (int i = 0; i < connections; ++i) {
                pollfd p{fd_, POLLIN, 0};
                if (::poll(&p, 1, 5000) <= 0) return;
                int c = ::accept(fd_, nullptr, nullptr);
                if (c < 0) return;
                std::string head;
                char buf[512];
                pollfd q{c, POLLIN, 0};
                while (head.find("\r\n\r\n") == std::string::npos && ::poll(&q, 1, 3000) > 0) {
                    ssize_t n = ::recv(c, buf, sizeof buf, 0);
                    if (n <= 0) break;
                    head.append(buf, static_cast<size_t>(n));
                }
                ::send(c, response_.data(), response_.size(), MSG_NOSIGNAL);
                ::close(c);
            }
        });
    }
    ~CannedServer() {
        thread_.join();
        ::close(fd_);
    }
    std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

private:
    std::string response_;
    int fd_ = -1;
    uint16_t port_ = 0;
    std::thread thread_;
};

std::string Ok(const std::string& body) {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

TEST(DownloadTest, HttpBodyLandsInTheFileWithProgressUpToTheTotal) {
    testsupport::TempFolder folder;
    const std::string body(200000, 'b');
    CannedServer server(Ok(body), 1);
    std::vector<std::pair<uint64_t, uint64_t>> calls;
    ASSERT_TRUE(platform::DownloadToFile(server.url("/f?time=1"), folder / "f.bin",
                                         [&](uint64_t total, uint64_t soFar) { calls.emplace_back(total, soFar); }));
    EXPECT_EQ(folder.Read("f.bin"), body);
    EXPECT_FALSE(folder.Exists("f.bin.part"));
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back(), std::make_pair(uint64_t{200000}, uint64_t{200000}));
    for (size_t i = 1; i < calls.size(); ++i) EXPECT_LE(calls[i - 1].second, calls[i].second);
}

TEST(DownloadTest, ErrorStatusFailsAndLeavesTheOldFile) {
    testsupport::TempFolder folder;
    folder.Write("f.txt", "old");
    CannedServer server("HTTP/1.1 404 Not Found\r\nContent-Length: 4\r\nConnection: close\r\n\r\ngone", 1);
    uint64_t largestTotal = 0;
    EXPECT_FALSE(platform::DownloadToFile(server.url("/f"), folder / "f.txt",
                                          [&](uint64_t total, uint64_t) { largestTotal = std::max(largestTotal, total); }));
    EXPECT_EQ(largestTotal, 0u);  // the error page is not reported as the download
    EXPECT_EQ(folder.Read("f.txt"), "old");
    EXPECT_FALSE(folder.Exists("f.txt.part"));
}

TEST(DownloadTest, CutShortBodyFails) {
    testsupport::TempFolder folder;
    CannedServer server("HTTP/1.1 200 OK\r\nContent-Length: 100\r\nConnection: close\r\n\r\nonly a bit", 1);
    EXPECT_FALSE(platform::DownloadToFile(server.url("/f"), folder / "f.txt"));
    EXPECT_FALSE(folder.Exists("f.txt"));
}

TEST(DownloadTest, RedirectIsFollowed) {
    testsupport::TempFolder folder;
    CannedServer target(Ok("moved here"), 1);
    CannedServer server("HTTP/1.1 302 Found\r\nLocation: " + target.url("/new") +
                            "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n",
                        1);
    EXPECT_TRUE(platform::DownloadToFile(server.url("/old"), folder / "f.txt"));
    EXPECT_EQ(folder.Read("f.txt"), "moved here");
}

TEST(DownloadTest, FileUrlsWorkAndOtherSchemesAreRefused) {
    testsupport::TempFolder folder;
    folder.Write("src.txt", "local");
    EXPECT_TRUE(platform::DownloadToFile("file://" + (folder / "src.txt"), folder / "dst.txt"));
    EXPECT_EQ(folder.Read("dst.txt"), "local");
    EXPECT_FALSE(platform::DownloadToFile("file://" + (folder / "absent.txt"), folder / "x.txt"));
    EXPECT_FALSE(platform::DownloadToFile("dict://127.0.0.1:1/x", folder / "x.txt"));
    EXPECT_FALSE(platform::DownloadToFile("", folder / "x.txt"));
    EXPECT_FALSE(platform::DownloadToFile("file://" + (folder / "src.txt"), ""));
    EXPECT_FALSE(folder.Exists("x.txt"));
}

TEST(DownloadTest, UnreachableServerFails) {
    testsupport::TempFolder folder;
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    const std::string url = "http://127.0.0.1:" + std::to_string(ntohs(a.sin_port)) + "/f";  // bound, not listening
    EXPECT_FALSE(platform::DownloadToFile(url, folder / "f.txt"));
    ::close(fd);
    EXPECT_FALSE(folder.Exists("f.txt"));
}

TEST(DownloadTest, MarkRunnableSetsTheExecuteBits) {
    testsupport::TempFolder folder;
    folder.Write("prog", "#!/bin/sh\n");
    ASSERT_TRUE(platform::MarkRunnable(folder / "prog"));
    struct stat st {};
    ASSERT_EQ(::stat((folder / "prog").c_str(), &st), 0);
    EXPECT_TRUE(st.st_mode & S_IXUSR);
    EXPECT_FALSE(platform::MarkRunnable(folder / "absent"));
}

}  // namespace
