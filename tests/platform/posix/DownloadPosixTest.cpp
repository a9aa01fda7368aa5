// Making a downloaded program runnable where files carry an execute bit.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/Download.h"
#include "support/TempFolder.h"

namespace {

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
