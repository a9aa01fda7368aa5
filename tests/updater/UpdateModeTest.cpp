// Software-update mode end to end in the process: the check, the dialog on
// the console, and the main window's menu commands. (The installer:
// posix/UpdateInstallTest.cpp.)
#include <thread>

#include "UpdateModeFixture.h"
#include "platform/WindowMessage.h"
#include "support/LoopbackClient.h"

using updatertest::kReleasePath;
using updatertest::UpdateModeTest;

namespace {

TEST_F(UpdateModeTest, HiddenWithoutNewerReleaseEndsSilently) {
    ServeRelease("1.2.9");
    console_.CloseInput();
    EXPECT_EQ(Run({"-u", "-h", "-v:1.2.9"}), 0);
    EXPECT_EQ(console_.Out(), "");
    EXPECT_EQ(console_.Err(), "");
    EXPECT_EQ(server_.CountFor(kReleasePath), 1);
    EXPECT_TRUE(folder_.Exists("su.zelk"));  // left in place
    EXPECT_FALSE(folder_.Exists("opened.txt"));

    // A failed check is just as silent when hidden.
    server_.Remove(kReleasePath);
    EXPECT_EQ(Run({"-h", "-u"}), 0);
    EXPECT_EQ(console_.Out(), "");
    EXPECT_EQ(console_.Err(), "");
}

TEST_F(UpdateModeTest, UpToDateDialogShowsTheCurrentVersionAndOkEndsIt) {
    ServeRelease("1.2.9");
    console_.Type("\n");
    EXPECT_EQ(Run({"-u", "-v=1.2.10"}), 0);
    const std::string out = console_.Out();
    EXPECT_NE(out.find("Morvane 在线升级"), std::string::npos) << out;
    EXPECT_NE(out.find("当前版本:1.2.10\n\n您使用的是最新版本的Morvane，当前没有更新需要安装。\n\n关注更新页面,随时发现更新版本。\n\n" +
                       Page() + "\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("[ 确定 ]"), std::string::npos) << out;
    EXPECT_EQ(out.find("安  装"), std::string::npos) << out;
    EXPECT_EQ(server_.CountFor("/files/update.exe"), 0);
}

TEST_F(UpdateModeTest, FailedCheckIsExplainedAndEndOfInputCloses) {
    console_.CloseInput();
    EXPECT_EQ(Run({"-u", "-v:3.0"}), 0);
    const std::string out = console_.Out();
    EXPECT_NE(out.find("当前版本:3.0\n\n检测新版本发生错误,请稍候再试。"), std::string::npos) << out;
    EXPECT_NE(out.find(Page()), std::string::npos);
}

TEST_F(UpdateModeTest, HiddenStillShowsANewerRelease) {
    ServeRelease("1.3");
    console_.CloseInput();  // closing without installing
    EXPECT_EQ(Run({"-u", "-h", "-v:1.2.9.9"}), 0);
    const std::string out = console_.Out();
    EXPECT_NE(out.find("有更新版本!\n\n最新版本:1.3  更新日期:2026-12-01\n\n查看新版本更新内容详细。请点击下面网址：\n\n" +
                       Page()),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("[ 安  装 ]  (Enter)"), std::string::npos) << out;
    EXPECT_EQ(server_.CountFor("/files/update.exe"), 0);
}

TEST_F(UpdateModeTest, MainWindowMenuCommandsArriveAsMessages) {
    ServeRelease("1.0");
    // Exit (105) ends the waiting dialog.
    int exitCode = -1;
    std::thread program([&] { exitCode = Run({"-u", "-v:1.0"}); });
    ASSERT_TRUE(testsupport::WaitFor([] { return platform::FindWindowByTitle("Updater"); }, 5000));
    EXPECT_TRUE(platform::SendMessageToWindow("Updater", {0x0111, 105, 0}, 5000));
    program.join();
    EXPECT_EQ(exitCode, 0);
    EXPECT_FALSE(platform::FindWindowByTitle("Updater"));

    // "Update configuration" (32773) runs the filter-data upgrade.
    server_.Serve("/CZELK/ConfigUpgrade.txt", "0\tData/a.txt\t1\t" + server_.base() + "/a.txt\n");
    server_.Serve("/a.txt", "A\n");
    exitCode = -1;
    std::thread again([&] { exitCode = Run({"-u", "-v:1.0"}); });
    ASSERT_TRUE(testsupport::WaitFor([] { return platform::FindWindowByTitle("Updater"); }, 5000));
    EXPECT_TRUE(platform::SendMessageToWindow("Updater", {0x0111, 32773, 0}, 5000));
    again.join();
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(folder_.Read("Data/a.txt"), "A\n");
}

TEST_F(UpdateModeTest, WithoutUpdateFlagOnlyTheFilterDataIsUpgraded) {
    ServeRelease("9.0");
    server_.Serve("/CZELK/ConfigUpgrade.txt", "0\tData/a.txt\t1\t" + server_.base() + "/a.txt\n");
    server_.Serve("/a.txt", "A\n");
    EXPECT_EQ(Run({"-h", "-v:1.0", "-U"}), 0);
    EXPECT_EQ(console_.Out(), "");
    EXPECT_EQ(server_.CountFor(kReleasePath), 0);
    EXPECT_EQ(folder_.Read("Data/a.txt"), "A\n");
}

}  // namespace
