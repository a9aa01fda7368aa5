// The POSIX stand-ins behind the Launcher's platform facilities: process
// names from /proc, zombies, the flock that stands in for a named mutex, the
// folder-tree registry, capabilities for the debug privilege, and the end
// signals that destroy the hidden window. What both systems share is in
// ../LauncherPlatformTest.cpp.
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "platform/HiddenWindow.h"
#include "platform/NamedMutex.h"
#include "platform/Privilege.h"
#include "platform/Process.h"
#include "platform/ProcessSnapshot.h"
#include "platform/Registry.h"
#include "platform/RegistryFolder.h"
#include "support/LoopbackClient.h"
#include "support/TempFolder.h"

namespace {

using namespace std::chrono_literals;
using platform::kNoProcess;
using platform::ProcessId;
using platform::ProcessWaitResult;

bool WaitUntil(const std::function<bool()>& condition) { return testsupport::WaitFor(condition, 10000); }

// An environment variable set for one test and put back afterwards.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
        if (const char* old = std::getenv(name)) previous_ = old;
        if (value)
            ::setenv(name, value->c_str(), 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv() {
        if (previous_)
            ::setenv(name_, previous_->c_str(), 1);
        else
            ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> previous_;
};

// A script that runs until killed. It waits on a FIFO nobody writes to rather
// than in a loop of sleeps: a forked helper would carry the script's name for
// a moment and be found in its place.
std::string WriteLoopingScript(const testsupport::TempFolder& folder, const std::string& name) {
    const std::string fifo = folder / "block.fifo";
    ::mkfifo(fifo.c_str(), 0600);
    folder.Write(name, "#!/bin/sh\nexec 3<> '" + fifo + "'\nread line <&3\n");
    std::string path = folder / name;
    ::chmod(path.c_str(), 0755);
    return path;
}

// A started program that is killed and reaped when the test ends.
class Running {
public:
    explicit Running(const std::string& program, std::vector<std::string> args = {})
        : process_(platform::StartProgram(program, args, platform::ShowWindow::Hidden)) {}
    ~Running() { Kill(); }
    ProcessId pid() const { return process_.Id(); }
    void Kill() {
        if (!process_) return;
        ::kill(static_cast<pid_t>(process_.Id()), SIGKILL);
        process_.Wait();
        process_ = {};
    }

private:
    platform::Process process_;
};

std::string UniqueName(const std::string& prefix, const std::string& suffix) {
    return prefix + std::to_string(::getpid()) + suffix;
}

// ---- Process snapshot ----------------------------------------------------

TEST(ProcessSnapshotTest, FindsScriptByItsOwnNameExactlyAndCaseSensitively) {
    testsupport::TempFolder folder;
    const std::string name = UniqueName("Zp", ".exe");  // short enough to be kept whole by the kernel
    Running script(WriteLoopingScript(folder, name));
    ASSERT_NE(script.pid(), kNoProcess);

    EXPECT_EQ(platform::FindProcessByName(name), script.pid());
    EXPECT_EQ(platform::ExecutableName(script.pid()), name);

    std::string lower = name;
    lower[0] = 'z';
    EXPECT_EQ(platform::FindProcessByName(lower), kNoProcess);
    EXPECT_EQ(platform::FindProcessByName(name.substr(0, name.size() - 1)), kNoProcess);
    EXPECT_EQ(platform::FindProcessByName(name + "x"), kNoProcess);
    EXPECT_EQ(platform::FindProcessByName(""), kNoProcess);
}

TEST(ProcessSnapshotTest, NamesLongerThanTheKernelKeepsAreComparedWhole) {
    testsupport::TempFolder folder;
    // A script: the kernel runs its interpreter, so the name comes from the command line.
    const std::string script = UniqueName("LongScriptName-", "-a.exe");
    Running runningScript(WriteLoopingScript(folder, script));
    // A binary: the name comes from the program file.
    const std::string binary = UniqueName("LongBinaryName-", "-b");
    std::filesystem::copy_file("/bin/sleep", folder / binary);
    Running runningBinary(folder / binary, {"30"});
    ASSERT_NE(runningScript.pid(), kNoProcess);
    ASSERT_NE(runningBinary.pid(), kNoProcess);

    EXPECT_EQ(platform::FindProcessByName(script), runningScript.pid());
    EXPECT_EQ(platform::ExecutableName(runningScript.pid()), script);
    EXPECT_EQ(platform::FindProcessByName(binary), runningBinary.pid());
    EXPECT_EQ(platform::ExecutableName(runningBinary.pid()), binary);
    // Same first 15 characters, different ends.
    EXPECT_EQ(platform::FindProcessByName(UniqueName("LongScriptName-", "-A.exe")), kNoProcess);
    EXPECT_EQ(platform::FindProcessByName(binary + "c"), kNoProcess);
}

TEST(ProcessSnapshotTest, EndedProcessIsNoLongerFoundEvenBeforeItIsReaped) {
    testsupport::TempFolder folder;
    const std::string name = UniqueName("Ze", ".exe");
    platform::Process process =
        platform::StartProgram(WriteLoopingScript(folder, name), {}, platform::ShowWindow::Hidden);
    ASSERT_TRUE(process);
    const ProcessId pid = process.Id();
    ASSERT_EQ(platform::FindProcessByName(name), pid);

    ::kill(static_cast<pid_t>(pid), SIGKILL);
    // Seen ended through a second handle, which does not reap: still a zombie of ours.
    ASSERT_EQ(platform::Process::Open(pid).Wait(10000), ProcessWaitResult::Ended);
    EXPECT_EQ(platform::FindProcessByName(name), kNoProcess);
    EXPECT_EQ(platform::ExecutableName(pid), "");
    EXPECT_EQ(process.Wait(), ProcessWaitResult::Ended);
    EXPECT_EQ(process.ExitCode(), std::nullopt);  // killed, so no exit code
    // Reaped: the id names no process any more.
    EXPECT_FALSE(platform::Process::Open(pid));
}

// ---- Named mutex ---------------------------------------------------------

TEST(NamedMutexTest, OneHolderAtATimeAndTheNameFreesWithTheHolder) {
    testsupport::TempFolder runtime;
    ScopedEnv env("XDG_RUNTIME_DIR", runtime.path());
    {
        platform::NamedMutex first("Solo");
        ASSERT_TRUE(first.Held());
        EXPECT_FALSE(first.AlreadyExisted());
        EXPECT_TRUE(runtime.Exists("Solo.lock"));

        platform::NamedMutex second("Solo");
        EXPECT_TRUE(second.AlreadyExisted());
        EXPECT_FALSE(second.Held());

        platform::NamedMutex other("Other");
        EXPECT_TRUE(other.Held());
    }
    platform::NamedMutex again("Solo");
    EXPECT_TRUE(again.Held());
    EXPECT_FALSE(again.AlreadyExisted());
}

TEST(NamedMutexTest, HeldByAnotherProcessUntilThatProcessEnds) {
    testsupport::TempFolder runtime;
    ScopedEnv env("XDG_RUNTIME_DIR", runtime.path());
    // flock(1) holds the lock while its command runs; the command's output goes
    // nowhere, so it cannot keep the test's output open once flock is killed.
    Running holder("/bin/sh", {"-c", "exec flock -o \"$0\" sleep 10 </dev/null >/dev/null 2>&1",
                               runtime / "Shared.lock"});
    ASSERT_NE(holder.pid(), kNoProcess);
    ASSERT_TRUE(WaitUntil([] { return platform::NamedMutex("Shared").AlreadyExisted(); }));

    // However a holder ends, the name is free again. (flock's command may
    // still share the lock for the moment before it closes its copy.)
    holder.Kill();
    EXPECT_TRUE(WaitUntil([] { return platform::NamedMutex("Shared").Held(); }));
}

TEST(NamedMutexTest, MissingRuntimeFolderIsAnErrorNotAnotherInstance) {
    testsupport::TempFolder runtime;
    ScopedEnv env("XDG_RUNTIME_DIR", runtime / "missing");
    platform::NamedMutex mutex("Launcher");
    EXPECT_FALSE(mutex.Held());
    EXPECT_FALSE(mutex.AlreadyExisted());
    EXPECT_NE(mutex.Error(), 0);
}

// ---- Registry stand-in ---------------------------------------------------

class RegistryTest : public ::testing::Test {
protected:
    testsupport::TempFolder root_;
    ScopedEnv env_{"MORVANE_REGISTRY_ROOT", root_.path()};

    void MakeKey(const std::string& relative) { std::filesystem::create_directories(root_ / relative); }
};

TEST_F(RegistryTest, SubKeysAreFoldersEnumeratedInRegistryOrder) {
    MakeKey("HKCU/Software/Vendor/Apps/beta");
    MakeKey("HKCU/Software/Vendor/Apps/Alpha");
    MakeKey("HKCU/Software/Vendor/Apps/gamma/nested");
    root_.Write("HKCU/Software/Vendor/Apps/Version", "3\n");  // a value, not a key

    auto key = platform::RegistryKey::Open(platform::RegistryRoot::CurrentUser, "Software\\Vendor\\Apps");
    ASSERT_TRUE(key.has_value());
    EXPECT_EQ(key->SubKeyNames(), (std::vector<std::string>{"Alpha", "beta", "gamma"}));
    EXPECT_EQ(key->SubKeyCount(), 3u);
    EXPECT_EQ(key->SubKeyName(1), "beta");
    EXPECT_EQ(key->SubKeyName(3), std::nullopt);
    EXPECT_EQ(key->ReadString("Version"), "3");

    auto nested = platform::RegistryKey::Open(platform::RegistryRoot::CurrentUser, "Software\\Vendor\\Apps\\gamma");
    ASSERT_TRUE(nested.has_value());
    EXPECT_EQ(nested->SubKeyNames(), (std::vector<std::string>{"nested"}));
}

TEST_F(RegistryTest, KeyNamesIgnoreLetterCaseButAnExactMatchWins) {
    MakeKey("HKCU/SOFTWARE/Classes/Local Settings/Exact");
    MakeKey("HKCU/SOFTWARE/Classes/Local Settings/exact");
    root_.Write("HKCU/SOFTWARE/Classes/Local Settings/exact/Which", "lower");
    root_.Write("HKCU/SOFTWARE/Classes/Local Settings/Exact/Which", "upper");

    auto key = platform::RegistryKey::Open(platform::RegistryRoot::CurrentUser, "software\\CLASSES\\local settings");
    ASSERT_TRUE(key.has_value());
    auto lower = platform::RegistryKey::Open(platform::RegistryRoot::CurrentUser,
                                             "Software\\Classes\\Local Settings\\exact");
    ASSERT_TRUE(lower.has_value());
    EXPECT_EQ(lower->ReadString("which"), "lower");
    auto upper = platform::RegistryKey::Open(platform::RegistryRoot::CurrentUser,
                                             "Software\\Classes\\Local Settings\\Exact");
    ASSERT_TRUE(upper.has_value());
    EXPECT_EQ(upper->ReadString("Which"), "upper");
}

TEST_F(RegistryTest, MissingKeysAndValuesAndEscapesAreNotFound) {
    MakeKey("HKCU/Software/Present");
    MakeKey("HKLM/Software/Machine");
    root_.Write("HKCU/Software/Present/(Default)", "unnamed\r\n");
    root_.Write("HKCU/secret", "outside any key");

    using platform::RegistryKey;
    using platform::RegistryRoot;
    EXPECT_FALSE(RegistryKey::Open(RegistryRoot::CurrentUser, "Software\\Absent"));
    EXPECT_FALSE(RegistryKey::Open(RegistryRoot::CurrentUser, "Software\\Machine"));
    EXPECT_TRUE(RegistryKey::Open(RegistryRoot::LocalMachine, "Software\\Machine"));
    EXPECT_FALSE(RegistryKey::Open(RegistryRoot::CurrentUser, "Software\\Present\\..\\..\\..\\HKLM"));

    auto key = RegistryKey::Open(RegistryRoot::CurrentUser, "Software\\Present");
    ASSERT_TRUE(key.has_value());
    EXPECT_EQ(key->ReadString(""), "unnamed");
    EXPECT_EQ(key->ReadString("Absent"), std::nullopt);
    EXPECT_EQ(key->ReadString("../../secret"), std::nullopt);
    EXPECT_TRUE(key->SubKeyNames().empty());
}

TEST(RegistryRootTest, DefaultsToTheUsersConfigurationFolder) {
    ScopedEnv root("MORVANE_REGISTRY_ROOT", std::nullopt);
    {
        ScopedEnv config("XDG_CONFIG_HOME", "/home/u/cfg");
        EXPECT_EQ(platform::RegistryRootFolder(), "/home/u/cfg/morvane/registry");
    }
    ScopedEnv config("XDG_CONFIG_HOME", std::nullopt);
    ScopedEnv home("HOME", "/home/u");
    EXPECT_EQ(platform::RegistryRootFolder(), "/home/u/.config/morvane/registry");
}

// ---- Debug privilege -----------------------------------------------------

struct ThreadCaps {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
    bool Read() { return ::syscall(SYS_capget, &header, data) == 0; }
    bool Write() {
        header = {_LINUX_CAPABILITY_VERSION_3, 0};
        return ::syscall(SYS_capset, &header, data) == 0;
    }
    bool Permitted() const { return data[0].permitted & (1u << CAP_SYS_PTRACE); }
    bool Effective() const { return data[0].effective & (1u << CAP_SYS_PTRACE); }
};

TEST(DebugPrivilegeTest, EnabledExactlyWhenTheCapabilityIsPermittedAndRaisedWhenOnlyPermitted) {
    // Capabilities are per thread: work on a thread of our own.
    std::thread worker([] {
        ThreadCaps caps;
        ASSERT_TRUE(caps.Read());
        if (!caps.Permitted()) {
            EXPECT_FALSE(platform::EnableDebugPrivilege());
            EXPECT_FALSE(platform::DebugPrivilegeEnabled());
            return;
        }
        // Permitted but not effective: enabling must raise it.
        caps.data[0].effective &= ~(1u << CAP_SYS_PTRACE);
        ASSERT_TRUE(caps.Write());
        EXPECT_FALSE(platform::DebugPrivilegeEnabled());
        EXPECT_TRUE(platform::EnableDebugPrivilege());
        ThreadCaps after;
        ASSERT_TRUE(after.Read());
        EXPECT_TRUE(after.Effective());
        EXPECT_TRUE(platform::DebugPrivilegeEnabled());

        // Not even permitted: a failure, as for a token without the privilege.
        after.data[0].effective &= ~(1u << CAP_SYS_PTRACE);
        after.data[0].permitted &= ~(1u << CAP_SYS_PTRACE);
        ASSERT_TRUE(after.Write());
        EXPECT_FALSE(platform::EnableDebugPrivilege());
        EXPECT_FALSE(platform::DebugPrivilegeEnabled());
    });
    worker.join();
}

// ---- Hidden window -------------------------------------------------------

bool BlockedHere(int signal) {
    sigset_t mask;
    ::pthread_sigmask(SIG_BLOCK, nullptr, &mask);
    return sigismember(&mask, signal) == 1;
}

bool PendingHere(int signal) {
    sigset_t pending;
    ::sigpending(&pending);
    return sigismember(&pending, signal) == 1;
}

class HiddenWindowSignalStopTest : public ::testing::TestWithParam<int> {};

TEST_P(HiddenWindowSignalStopTest, EndSignalEndsTheLoopAndLeavesNothingPending) {
    const int signal = GetParam();
    ASSERT_FALSE(BlockedHere(signal));
    {
        auto window = platform::HiddenWindow::Create("LAUNCHER", "Launcher");
        ASSERT_TRUE(window);
        EXPECT_TRUE(BlockedHere(signal));
        const pthread_t loopThread = ::pthread_self();
        std::thread sender([loopThread, signal] {
            std::this_thread::sleep_for(20ms);
            ::pthread_kill(loopThread, signal);
        });
        EXPECT_EQ(window->RunMessageLoop(), 0);
        sender.join();
        // A second signal after the end is taken too, not left to strike later.
        ::pthread_kill(::pthread_self(), signal);
        EXPECT_EQ(window->RunMessageLoop(), 0);
    }
    // The window is gone: the signal has its old handling again and none is pending
    // (had one been left, restoring the mask would have ended this test program).
    EXPECT_FALSE(BlockedHere(signal));
    EXPECT_FALSE(PendingHere(signal));
}

INSTANTIATE_TEST_SUITE_P(TermAndInt, HiddenWindowSignalStopTest, ::testing::Values(SIGTERM, SIGINT));

}  // namespace
