// Software-update mode: the installer download with its progress, its
// SHA-256 checked against the release description, message 1699 to a
// stand-in main program and the silent installer start. The installer here
// is a shell script started by the POSIX process stand-in, the update page
// opens through the xdg-open stand-in, and a failed download's message box
// is the stand-in's line on stderr.
#include <atomic>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "../UpdateModeFixture.h"
#include "platform/WindowMessage.h"
#include "support/LoopbackClient.h"

using updatertest::ReadFile;
using updatertest::UpdateModeTest;

namespace {

TEST_F(UpdateModeTest, ConcurrencyInstallerDownloadsWithProgressTellsTheMainProgramThenStartsSilently) {
    ServeRelease("1.2.10", ServeInstaller(8, 20));

    // The stand-in main program: the installer must not have started while
    // it handles the message, nor before it has answered.
    std::mutex mutex;
    std::vector<platform::WindowMessage> received;
    bool installerRanEarly = false;
    platform::MessageWindow mainProgram("Morvane", [&](const platform::WindowMessage& message) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::lock_guard lock(mutex);
        received.push_back(message);
        installerRanEarly = installerRanEarly || std::filesystem::exists("started.txt");
    });
    ASSERT_TRUE(mainProgram.Open());

    // Enter installs; the end of input that follows must not cut the
    // download short.
    console_.Type("\n");
    console_.CloseInput();
    EXPECT_EQ(Run({"-u", "-v:1.2.9"}), 0);

    const std::string out = console_.Out();
    EXPECT_NE(out.find("[ 安装中…… ]\n正在下载更新……"), std::string::npos) << out;
    const std::string err = console_.Err();
    EXPECT_NE(err.find("100%  " + std::to_string(installerSize_) + "/" + std::to_string(installerSize_)),
              std::string::npos)
        << err;
    EXPECT_NE(err.find("%  "), err.rfind("%  ")) << "the bar moved more than once: " << err;
    EXPECT_EQ(err.back(), '\n');  // the dialog ended the bar's line

    {
        std::lock_guard lock(mutex);
        ASSERT_EQ(received.size(), 1u);
        EXPECT_EQ(received[0].message, 1699u);
        EXPECT_EQ(received[0].wParam, 0u);
        EXPECT_EQ(received[0].lParam, 0);
        EXPECT_FALSE(installerRanEarly);
    }
    ASSERT_TRUE(testsupport::WaitFor([&] { return ReadFile("started.txt") == "/SILENT\n"; }, 5000))
        << ReadFile("started.txt");
    ASSERT_TRUE(testsupport::WaitFor([&] { return !ReadFile("opened.txt").empty(); }, 5000));
    EXPECT_EQ(ReadFile("opened.txt"), Page() + "/\n");
    // The installer address is used exactly as given, without a time query.
    for (const auto& target : server_.Requests())
        if (target.rfind("/files/", 0) == 0) {
            EXPECT_EQ(target, "/files/update.exe");
        }
}

TEST_F(UpdateModeTest, LockedMainProgramWindowIsTheFallback) {
    std::string sha256 = ServeInstaller();
    for (char& c : sha256) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));  // hex in either case
    ServeRelease("2.0", sha256);
    std::atomic<int> got{0};
    platform::MessageWindow locked("Morvane_锁定", [&](const platform::WindowMessage& m) { got = static_cast<int>(m.message); });
    ASSERT_TRUE(locked.Open());
    console_.Type("\n");
    EXPECT_EQ(Run({"-u"}), 0);
    EXPECT_EQ(got.load(), 1699);
    EXPECT_TRUE(testsupport::WaitFor([&] { return ReadFile("started.txt") == "/SILENT\n"; }, 5000));
    EXPECT_TRUE(testsupport::WaitFor([&] { return !ReadFile("opened.txt").empty(); }, 5000));
}

TEST_F(UpdateModeTest, FailedInstallerDownloadLeavesTheDialogClosable) {
    ServeRelease("9.0");  // the installer is not on the server
    std::atomic<int> messages{0};
    platform::MessageWindow mainProgram("Morvane", [&](const platform::WindowMessage&) { ++messages; });
    ASSERT_TRUE(mainProgram.Open());
    console_.Type("\n");
    console_.CloseInput();
    ::testing::internal::CaptureStderr();
    const int exitCode = Run({"-u", "-v:1.0"});
    const std::string messageBox = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(messageBox, "提示: 下载发生错误!\n");
    EXPECT_EQ(server_.CountFor("/files/update.exe"), 1);
    EXPECT_FALSE(folder_.Exists("update.exe"));
    EXPECT_FALSE(folder_.Exists("started.txt"));
    EXPECT_EQ(messages.load(), 0);
    EXPECT_FALSE(folder_.Exists("opened.txt"));
}

// An installer the release description does not vouch for (another file on
// the way, or no Sha256 at all) is deleted unrun; the main program is not
// told, and the dialog offers the update page instead.
TEST_F(UpdateModeTest, InstallerThatCannotBeVerifiedIsDeletedAndNeverRuns) {
    std::atomic<int> messages{0};
    platform::MessageWindow mainProgram("Morvane", [&](const platform::WindowMessage&) { ++messages; });
    ASSERT_TRUE(mainProgram.Open());
    const std::string served = ServeInstaller();
    std::string wrong = served;
    wrong[0] = wrong[0] == '0' ? '1' : '0';
    // The first Enter installs; the second, once the dialog offers it, opens the update page.
    for (const std::string& sha256 : {wrong, std::string(), served.substr(1), served + "0", "z" + served.substr(1)}) {
        SCOPED_TRACE("Sha256=" + sha256);
        ServeRelease("3.0", sha256);
        std::remove("opened.txt");
        console_.Type("\n\n");
        EXPECT_EQ(Run({"-u", "-v:2.9"}), 0);
        EXPECT_FALSE(folder_.Exists("update.exe"));
        EXPECT_FALSE(folder_.Exists("started.txt"));
        EXPECT_EQ(messages.load(), 0);
        const std::string out = console_.Out();
        EXPECT_NE(out.find("The download could not be verified: it was deleted and not run.\n\n请从更新页面下载新版本：\n"
                           "Please get the new version from the update page:\n\n" + Page()),
                  std::string::npos)
            << out;
        EXPECT_NE(out.find("[ 打开更新页面 ]"), std::string::npos) << out;
        EXPECT_TRUE(testsupport::WaitFor([&] { return ReadFile("opened.txt") == Page() + "/\n"; }, 5000))
            << ReadFile("opened.txt");
    }
    EXPECT_EQ(server_.CountFor("/files/update.exe"), 5) << "each was downloaded and checked";

    // Closing instead of opening the page ends the program as well.
    ServeRelease("3.0");
    console_.Type("\n");
    console_.CloseInput();
    std::remove("opened.txt");
    EXPECT_EQ(Run({"-u", "-v:2.9"}), 0);
    EXPECT_FALSE(folder_.Exists("started.txt"));
    EXPECT_FALSE(folder_.Exists("opened.txt"));
}

}  // namespace
