// Downloads (libcurl, or the URL moniker on Windows): success, failure
// without damage, progress.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "platform/Download.h"
#include "platform/Socket.h"
#include "support/FakeOrigin.h"
#include "support/TempFolder.h"

namespace {

using testsupport::FakeOrigin;

std::string Url(const FakeOrigin& origin, const std::string& path) {
    return "http://127.0.0.1:" + std::to_string(origin.port()) + path;
}

std::string Ok(const std::string& body) {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

TEST(DownloadTest, HttpBodyLandsInTheFileWithProgressUpToTheTotal) {
    testsupport::TempFolder folder;
    const std::string body(200000, 'b');
    FakeOrigin server(Ok(body));
    std::vector<std::pair<uint64_t, uint64_t>> calls;
    ASSERT_TRUE(platform::DownloadToFile(Url(server, "/f?time=1"), folder / "f.bin",
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
    FakeOrigin server("HTTP/1.1 404 Not Found\r\nContent-Length: 4\r\nConnection: close\r\n\r\ngone");
    uint64_t largestTotal = 0;
    EXPECT_FALSE(platform::DownloadToFile(Url(server, "/f"), folder / "f.txt",
                                          [&](uint64_t total, uint64_t) { largestTotal = std::max(largestTotal, total); }));
    EXPECT_EQ(largestTotal, 0u);  // the error page is not reported as the download
    EXPECT_EQ(folder.Read("f.txt"), "old");
    EXPECT_FALSE(folder.Exists("f.txt.part"));
}

TEST(DownloadTest, CutShortBodyFails) {
    testsupport::TempFolder folder;
    FakeOrigin server("HTTP/1.1 200 OK\r\nContent-Length: 100\r\nConnection: close\r\n\r\nonly a bit");
    EXPECT_FALSE(platform::DownloadToFile(Url(server, "/f"), folder / "f.txt"));
    EXPECT_FALSE(folder.Exists("f.txt"));
}

TEST(DownloadTest, RedirectIsFollowed) {
    testsupport::TempFolder folder;
    FakeOrigin target(Ok("moved here"));
    FakeOrigin server("HTTP/1.1 302 Found\r\nLocation: " + Url(target, "/new") +
                      "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    EXPECT_TRUE(platform::DownloadToFile(Url(server, "/old"), folder / "f.txt"));
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
    // Bound but not listening: connections are refused.
    const platform::Socket bound = platform::CreateTcpSocket().rc;
    ASSERT_NE(bound, platform::kInvalidSocket);
    ASSERT_EQ(platform::BindIPv4(bound, "127.0.0.1", 0).rc, 0);
    const std::string url = "http://127.0.0.1:" + std::to_string(platform::LocalPort(bound)) + "/f";
    EXPECT_FALSE(platform::DownloadToFile(url, folder / "f.txt"));
    platform::CloseSocket(bound);
    EXPECT_FALSE(folder.Exists("f.txt"));
}

TEST(DownloadTest, ANewDownloadReplacesTheFileBeforeIt) {
    testsupport::TempFolder folder;
    folder.Write("f.txt", "an older and longer file");
    FakeOrigin server(Ok("new"));
    ASSERT_TRUE(platform::DownloadToFile(Url(server, "/f"), folder / "f.txt"));
    EXPECT_EQ(folder.Read("f.txt"), "new");
}

TEST(DownloadTest, MarkRunnableNeedsTheFile) {
    testsupport::TempFolder folder;
    folder.Write("prog", "program");
    EXPECT_TRUE(platform::MarkRunnable(folder / "prog"));
    EXPECT_FALSE(platform::MarkRunnable(folder / "absent"));
}

}  // namespace
