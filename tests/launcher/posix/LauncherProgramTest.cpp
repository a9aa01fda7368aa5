// The built Launcher program on POSIX, run with a runtime folder, a registry
// folder and a working folder of the test's own: signals end it, the debug
// privilege is a capability, the single-instance lock a flock.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "BlockingScript.h"
#include "platform/Process.h"
#include "platform/ProcessSnapshot.h"
#include "support/LoopbackClient.h"
#include "support/TempFolder.h"

namespace {

using namespace std::chrono_literals;
using platform::kNoProcess;
using platform::ProcessId;

bool WaitUntil(const std::function<bool()>& condition) { return testsupport::WaitFor(condition, 10000); }

bool CapabilityPermitted(unsigned capability) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
    return ::syscall(SYS_capget, &header, data) == 0 && (data[capability / 32].permitted & (1u << (capability % 32)));
}

bool DebugCapabilityPermitted() { return CapabilityPermitted(CAP_SYS_PTRACE); }

class LauncherProgramTest : public ::testing::Test {
protected:
    testsupport::TempFolder work_;     // working folder: where "ZELK.exe" is looked for first
    testsupport::TempFolder runtime_;  // where the single-instance lock lives
    std::vector<ProcessId> launchers_;

    void TearDown() override {
        for (ProcessId pid : launchers_) {
            ::kill(static_cast<pid_t>(pid), SIGKILL);
            Reap(pid);
        }
        // Copies of the main program started by a Launcher outlive it.
        for (ProcessId pid : Starts()) ::kill(static_cast<pid_t>(pid), SIGKILL);
    }

    // Starts the program with a clean environment of the test's own; `prefix`
    // runs it through another program (setpriv).
    ProcessId StartLauncher(std::vector<std::string> prefix = {}) {
        std::vector<std::string> args = std::move(prefix);
        args.push_back(LAUNCHER_PROGRAM);
        std::vector<std::string> env = {
            "PATH=/usr/bin:/bin",
            "XDG_RUNTIME_DIR=" + runtime_.path(),
            "MORVANE_REGISTRY_ROOT=" + (work_ / "registry"),
        };
        std::vector<char*> argv, envp;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        for (auto& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addchdir_np(&actions, work_.path().c_str());
        pid_t pid = 0;
        int rc = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) return kNoProcess;
        launchers_.push_back(static_cast<ProcessId>(pid));
        return static_cast<ProcessId>(pid);
    }

    // The exit status of a child started here, or -1.
    static int Reap(ProcessId pid) {
        int status = 0;
        if (::waitpid(static_cast<pid_t>(pid), &status, 0) != static_cast<pid_t>(pid)) return -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // Ends a Launcher the test started and returns its exit code; -2 when it
    // did not end within the limit.
    int EndsWith(ProcessId pid, std::chrono::milliseconds limit = 10s) {
        if (platform::Process::Open(pid).Wait(static_cast<int>(limit.count())) != platform::ProcessWaitResult::Ended)
            return -2;
        std::erase(launchers_, pid);
        return Reap(pid);
    }

    bool InstanceLockHeld() const {
        int fd = ::open((runtime_ / "Launcher.lock").c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0) return false;
        bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
        ::close(fd);
        return held;
    }

    void WriteMainProgram() {
        work_.Write("ZELK.exe", "#!/bin/sh\necho $$ >> '" + (work_ / "starts.log") + "'\n" +
                                    launchertest::BlockUntilKilled(work_));
        ::chmod((work_ / "ZELK.exe").c_str(), 0755);
    }

    std::vector<ProcessId> Starts() const {
        std::vector<ProcessId> ids;
        std::stringstream in(work_.Read("starts.log"));
        for (std::string line; std::getline(in, line);) ids.push_back(static_cast<ProcessId>(std::stoul(line)));
        return ids;
    }
};

TEST_F(LauncherProgramTest, ASecondLauncherExitsWithMinusOneAtOnce) {
    const ProcessId first = StartLauncher();
    ASSERT_NE(first, kNoProcess);
    ASSERT_TRUE(WaitUntil([&] { return InstanceLockHeld(); }));

    const ProcessId second = StartLauncher();
    ASSERT_NE(second, kNoProcess);
    EXPECT_EQ(EndsWith(second), 255);  // -1 as an exit status
    EXPECT_EQ(platform::Process::Open(first).Wait(0), platform::ProcessWaitResult::TimedOut);

    ::kill(static_cast<pid_t>(first), SIGTERM);
    EXPECT_EQ(EndsWith(first), 0);
    // The name went with the first: a new Launcher runs.
    EXPECT_FALSE(InstanceLockHeld());
    const ProcessId third = StartLauncher();
    ASSERT_TRUE(WaitUntil([&] { return InstanceLockHeld(); }));
    ::kill(static_cast<pid_t>(third), SIGINT);
    EXPECT_EQ(EndsWith(third), 0);
}

TEST_F(LauncherProgramTest, KeepsTheMainProgramRunningAndLeavesItRunningAtLogOff) {
    if (!DebugCapabilityPermitted()) GTEST_SKIP() << "needs CAP_SYS_PTRACE to start the main program";
    if (platform::FindProcessByName("ZELK.exe") != kNoProcess) GTEST_SKIP() << "a ZELK.exe is already running";
    WriteMainProgram();
    const ProcessId launcher = StartLauncher();
    ASSERT_NE(launcher, kNoProcess);

    ASSERT_TRUE(WaitUntil([&] { return Starts().size() == 1; }));
    ::kill(static_cast<pid_t>(Starts()[0]), SIGKILL);
    ASSERT_TRUE(WaitUntil([&] { return Starts().size() == 2; }));
    EXPECT_EQ(platform::ExecutableName(Starts()[1]), "ZELK.exe");

    ::kill(static_cast<pid_t>(launcher), SIGTERM);
    EXPECT_EQ(EndsWith(launcher), 0);
    EXPECT_EQ(platform::FindProcessByName("ZELK.exe"), Starts()[1]);
}

TEST_F(LauncherProgramTest, WithoutTheDebugPrivilegeTheMainProgramIsNeverStarted) {
    WriteMainProgram();
    std::vector<std::string> prefix;
    // Running as a user who holds the capability: take it away for the Launcher.
    if (DebugCapabilityPermitted()) {
        if (!CapabilityPermitted(CAP_SETPCAP)) GTEST_SKIP() << "cannot take CAP_SYS_PTRACE away";
        prefix = {"/usr/bin/setpriv", "--bounding-set=-sys_ptrace", "--"};
    }
    const ProcessId launcher = StartLauncher(prefix);
    ASSERT_NE(launcher, kNoProcess);
    ASSERT_TRUE(WaitUntil([&] { return InstanceLockHeld(); }));
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(Starts().empty());
    ::kill(static_cast<pid_t>(launcher), SIGTERM);
    EXPECT_EQ(EndsWith(launcher), 0);
}

}  // namespace
