// The installed program as a user starts it: exit codes and what reaches
// the terminal.
#include <gtest/gtest.h>

#include "../UpdaterTestSupport.h"
#include "platform/Process.h"

namespace {

using updatertest::ReadFile;

// Runs the Updater in the current folder with its output in files.
int RunProgram(const std::string& arguments, const std::string& input = "") {
    const std::string command = std::string("printf '%s' '") + input + "' | '" + UPDATER_PROGRAM + "' " + arguments +
                                " > out.txt 2> err.txt";
    platform::Process shell = platform::StartProgram("/bin/sh", {"-c", command}, platform::ShowWindow::Hidden);
    shell.Wait();
    return shell.ExitCode().value_or(-1);
}

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override { updatertest::WriteUpdateConfig(folder_, server_); }

    testsupport::TempFolder folder_{true};
    updatertest::HttpFixture server_;
    updatertest::ScopedEnv runtime_{"XDG_RUNTIME_DIR", folder_.path()};
};

TEST_F(ProgramTest, HiddenUpdateCheckWithoutNewerReleaseShowsNothing) {
    server_.Serve("/czelk/SoftUpgrade.txt", "[Setup]\nVersion=1.0.0.1\nUrl=http://127.0.0.1:1/x\n");
    EXPECT_EQ(RunProgram("-u -h -v:1.0.0.1"), 0);
    EXPECT_EQ(ReadFile("out.txt"), "");
    EXPECT_EQ(ReadFile("err.txt"), "");
    EXPECT_EQ(server_.CountFor("/czelk/SoftUpgrade.txt"), 1);
}

TEST_F(ProgramTest, DefaultModeUpgradesDataSilently) {
    server_.Serve("/CZELK/ConfigUpgrade.txt", "0\tData/white.txt\t3\t" + server_.base() + "/white.txt\n");
    server_.Serve("/white.txt", "example.org\n");
    EXPECT_EQ(RunProgram(""), 0);
    EXPECT_EQ(folder_.Read("Data/white.txt"), "example.org\n");
    EXPECT_TRUE(folder_.Exists("Upgrade.zelk"));
    EXPECT_EQ(ReadFile("out.txt"), "");
    EXPECT_EQ(ReadFile("err.txt"), "");
}

TEST_F(ProgramTest, UpToDateDialogOnTheTerminal) {
    server_.Serve("/czelk/SoftUpgrade.txt", "[Setup]\nVersion=1.0\n");
    EXPECT_EQ(RunProgram("-u -v=1.0", "\\n"), 0);
    const std::string out = ReadFile("out.txt");
    EXPECT_EQ(out.rfind("== Morvane 在线升级 ==\n当前版本:1.0\n", 0), 0u) << out;
    EXPECT_NE(out.find("[ 确定 ]  (Enter)\n"), std::string::npos) << out;
}

}  // namespace
