// The built Launcher.exe: while another process holds the name "Launcher",
// a Launcher ends at once with -1. (A Launcher that runs ends only with the
// session, so the running case is tested on the Launcher's logic instead.)
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/Process.h"
#include "support/FakeProgram.h"
#include "support/TempFolder.h"

namespace {

using platform::ProcessWaitResult;

// Made whole before any test moves into another folder.
const std::string kLauncherProgram = std::filesystem::absolute(LAUNCHER_PROGRAM).string();

TEST(LauncherProgramWin32Test, ASecondLauncherExitsWithMinusOneAtOnce) {
    testsupport::TempFolder work(true);
    testsupport::FakePrograms fakes;
    fakes.Install(work / "Holder.exe");
    platform::Process holder =
        platform::StartProgram("Holder.exe", {"--hold-mutex", "Launcher"}, platform::ShowWindow::Hidden);
    ASSERT_TRUE(holder);
    ASSERT_TRUE(fakes.WaitForStarts(1));
    ASSERT_EQ(fakes.Starts()[0].note, "held") << "another Launcher runs in this session";

    platform::Process launcher = platform::StartProgram(kLauncherProgram, {}, platform::ShowWindow::Hidden);
    ASSERT_TRUE(launcher);
    ASSERT_EQ(launcher.Wait(10000), ProcessWaitResult::Ended);
    EXPECT_EQ(launcher.ExitCode(), -1);
    // It started nothing: the holder is the only fake that reported.
    EXPECT_EQ(fakes.Starts().size(), 1u);
}

}  // namespace
