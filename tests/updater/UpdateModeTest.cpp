// Software-update mode end to end in the process: the check, the dialog on
// the console, the installer download with its progress, its SHA-256 checked
// against the release description, message 1699 to a stand-in main program
// and the silent installer start.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "Updater.h"
#include "UpdaterTestSupport.h"
#include "platform/WindowMessage.h"
#include "support/LoopbackClient.h"

using updatertest::HttpFixture;
using updatertest::ReadFile;
using updatertest::ScopedEnv;

namespace {

constexpr const char* kReleasePath = "/czelk/SoftUpgrade.txt";

// The user's side of the console: what is typed in and what is shown.
class FakeConsole {
public:
    FakeConsole() {
        int fds[2];
        if (::pipe(fds) == 0) {
            readFd_ = fds[0];
            writeFd_ = fds[1];
        }
        out_ = std::tmpfile();
        err_ = std::tmpfile();
    }
    ~FakeConsole() {
        CloseInput();
        if (readFd_ >= 0) ::close(readFd_);
        std::fclose(out_);
        std::fclose(err_);
    }
    void Type(const std::string& text) { (void)!::write(writeFd_, text.data(), text.size()); }
    void CloseInput() {
        if (writeFd_ >= 0) ::close(writeFd_);
        writeFd_ = -1;
    }
    updater::Console console() const { return updater::Console{readFd_, out_, err_}; }
    std::string Out() const { return Contents(out_); }
    std::string Err() const { return Contents(err_); }

private:
    static std::string Contents(std::FILE* f) {
        std::fflush(f);
        std::string text;
        std::rewind(f);
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
        return text;
    }
    int readFd_ = -1;
    int writeFd_ = -1;
    std::FILE* out_;
    std::FILE* err_;
};

class UpdateModeTest : public ::testing::Test {
protected:
    void SetUp() override {
        updatertest::WriteUpdateConfig(folder_, server_);
        // Browser start recorded instead of performed.
        folder_.Write("bin/xdg-open", "#!/bin/sh\necho \"$1\" >> '" + (folder_ / "opened.txt") + "'\n");
        ::chmod((folder_ / "bin/xdg-open").c_str(), 0755);
    }

    // sha256: the value of the release's Sha256 key; none when empty.
    void ServeRelease(const std::string& version, const std::string& sha256 = "") {
        server_.Serve(kReleasePath, "[Setup]\r\nVersion=" + version + "\r\nDate=2026-12-01\r\nUrl=" + server_.base() +
                                        "/files/update.exe\r\n" + (sha256.empty() ? "" : "Sha256=" + sha256 + "\r\n") +
                                        "Description=fixes|speed\r\n");
    }

    // A fake installer: records its arguments; padded so the download has a
    // size worth a progress bar. Returns its SHA-256 as sha256sum prints it.
    std::string ServeInstaller(size_t pieces = 1, int pauseMs = 0) {
        std::string script = "#!/bin/sh\necho \"$@\" > '" + (folder_ / "started.txt") + "'\n";
        script += "# " + std::string(64 * 1024, 'p') + "\n";
        installerSize_ = script.size();
        server_.ServeSlowly("/files/update.exe", script, pieces, pauseMs);
        folder_.Write("served-installer", script);
        std::string sum;
        if (FILE* p = ::popen(("sha256sum '" + (folder_ / "served-installer") + "'").c_str(), "r")) {
            char buffer[65] = {};
            if (std::fread(buffer, 1, 64, p) == 64) sum = buffer;
            ::pclose(p);
        }
        EXPECT_EQ(sum.size(), 64u) << "sha256sum";
        return sum;
    }

    int Run(const std::vector<std::string>& arguments) { return updater::RunUpdater(arguments, console_.console()); }

    std::string Page() const { return server_.base() + "/site/soft_update"; }

    testsupport::TempFolder folder_{true};
    HttpFixture server_;
    FakeConsole console_;
    ScopedEnv runtime_{"XDG_RUNTIME_DIR", folder_.path()};
    ScopedEnv path_{"PATH", folder_ / "bin" + ":" + (std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin")};
    size_t installerSize_ = 0;
};

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
