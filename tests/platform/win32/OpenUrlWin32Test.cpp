// Opening a page with ShellExecuteW: an address no program is registered for
// is not opened, and the user gets it printed instead.
#include <gtest/gtest.h>

#include "platform/OpenUrl.h"

namespace {

TEST(OpenUrlTest, AnAddressNothingOpensIsPrinted) {
    const std::string address = "morvane-unregistered-scheme:soft_update/?a=1";
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(platform::OpenUrl(address));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), address + "\n");
}

}  // namespace
