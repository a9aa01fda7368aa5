// Opening a web page: through xdg-open when there is one, else printed.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/OpenUrl.h"
#include "support/TempFolder.h"

namespace {

class OpenUrlTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* p = std::getenv("PATH")) oldPath_ = p;
    }
    void TearDown() override { ::setenv("PATH", oldPath_.c_str(), 1); }
    testsupport::TempFolder folder_;
    std::string oldPath_;
};

TEST_F(OpenUrlTest, HandsTheAddressToXdgOpenAsOneArgument) {
    folder_.Write("bin/xdg-open", "#!/bin/sh\nprintf '%s|%s' \"$#\" \"$1\" > '" + (folder_ / "opened") + "'\n");
    ::chmod((folder_ / "bin/xdg-open").c_str(), 0755);
    ::setenv("PATH", (folder_ / "bin" + ":" + oldPath_).c_str(), 1);
    const std::string url = "http://127.0.0.1:9/soft update/?a=1&b='x'";
    ::testing::internal::CaptureStdout();
    EXPECT_TRUE(platform::OpenUrl(url));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    for (int i = 0; i < 500 && folder_.Read("opened").empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(folder_.Read("opened"), "1|" + url);
}

TEST_F(OpenUrlTest, PrintsTheAddressWithoutABrowser) {
    ::setenv("PATH", (folder_ / "empty").c_str(), 1);
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(platform::OpenUrl("http://127.0.0.1:9/soft_update/"));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "http://127.0.0.1:9/soft_update/\n");
}

}  // namespace
