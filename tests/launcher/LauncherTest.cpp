// The Launcher's logic with fake programs: a fake main program that notes each
// start, a fake exemption tool that notes each call, a registry folder of the
// test's own, and short waits.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "FakeProgram.h"
#include "core/Launcher.h"
#include "platform/NamedMutex.h"
#include "platform/Process.h"
#include "platform/ProcessSnapshot.h"
#include "support/LoopbackClient.h"
#include "support/TempFolder.h"

namespace {

using namespace std::chrono_literals;
using platform::kNoProcess;
using platform::ProcessId;

bool WaitUntil(const std::function<bool()>& condition) { return testsupport::WaitFor(condition, 10000); }

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::stringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

void MakeExecutable(const std::string& path) { ::chmod(path.c_str(), 0755); }

// Runs a worker function on a thread. The test fails instead of hanging when
// the worker does not end in time: a worker left running is told to stop (by
// `stop`) before it is joined.
class Worker {
public:
    Worker(std::function<void()> work, std::function<void()> stop)
        : stop_(std::move(stop)), thread_([this, work] {
              work();
              done_ = true;
          }) {}
    ~Worker() {
        if (!thread_.joinable()) return;
        stop_();
        thread_.join();
    }
    bool Done() const { return done_; }
    // True when the worker ended within the limit.
    bool Finish(std::chrono::milliseconds limit = 10s) {
        bool ended = testsupport::WaitFor([this] { return Done(); }, static_cast<int>(limit.count()));
        if (ended) thread_.join();
        return ended;
    }

private:
    std::function<void()> stop_;
    std::atomic<bool> done_{false};
    std::thread thread_;
};

// ---- Keep-alive ------------------------------------------------------------

class KeepAliveTest : public ::testing::Test {
protected:
    // The working folder is the test's folder, where a bare name is found first.
    testsupport::TempFolder folder_{true};
    // Unique per test program, so parallel tests never see each other's target.
    const std::string target_ = "Zk" + std::to_string(::getpid()) + ".exe";
    platform::WaitEvent stop_;
    std::atomic<ProcessId> targetId_{kNoProcess};
    std::vector<ProcessId> ours_;  // started by the test or its Launcher: killed at the end

    void SetUp() override { WriteTarget(target_); }

    void TearDown() override {
        stop_.Set();
        for (ProcessId pid : Starts()) ::kill(pid, SIGKILL);
        for (ProcessId pid : Starts()) platform::WaitForChild(pid);
    }

    // The fake main program notes its process id in starts.log and runs until killed.
    void WriteTarget(const std::string& name) {
        folder_.Write(name, "#!/bin/sh\necho $$ >> '" + (folder_ / "starts.log") + "'\n" +
                                launchertest::BlockUntilKilled(folder_));
        MakeExecutable(folder_ / name);
    }

    std::vector<ProcessId> Starts() const {
        std::vector<ProcessId> ids;
        for (const auto& line : Lines(folder_.Read("starts.log"))) ids.push_back(std::stoi(line));
        return ids;
    }

    launcher::LauncherSettings Settings(bool privilege = true) const {
        launcher::LauncherSettings settings;
        settings.targetProgram = target_;
        settings.debugPrivilege = privilege;
        return settings;
    }

    void KillAndReap(ProcessId pid) {
        ::kill(pid, SIGKILL);
        platform::WaitForChild(pid);
    }
};

TEST_F(KeepAliveTest, StartsTheTargetAndRestartsItAtOnceWhenKilled) {
    const auto settings = Settings();
    Worker keepAlive([&] { launcher::KeepTargetAlive(settings, stop_, targetId_); }, [&] { stop_.Set(); });

    ASSERT_TRUE(WaitUntil([&] { return Starts().size() == 1; }));
    const ProcessId first = Starts()[0];
    EXPECT_TRUE(WaitUntil([&] { return targetId_ == first; }));

    ::kill(first, SIGKILL);
    ASSERT_TRUE(WaitUntil([&] { return Starts().size() == 2; }));
    const ProcessId second = Starts()[1];
    EXPECT_NE(second, first);
    EXPECT_TRUE(WaitUntil([&] { return targetId_ == second; }));
    // The killed one was reaped, not left as a zombie.
    EXPECT_EQ(::kill(first, 0), -1);

    // A target that ends by itself is restarted too.
    ::kill(second, SIGTERM);
    ASSERT_TRUE(WaitUntil([&] { return Starts().size() == 3; }));

    stop_.Set();
    EXPECT_TRUE(keepAlive.Finish());
    EXPECT_EQ(Starts().size(), 3u);
}

TEST_F(KeepAliveTest, WaitsForACopyAlreadyRunningAndStartsOneWhenItEnds) {
    const ProcessId existing = platform::StartProgram(target_, {});
    ASSERT_NE(existing, kNoProcess);
    ASSERT_TRUE(WaitUntil([&] { return Starts().size() == 1; }));

    const auto settings = Settings();
    Worker keepAlive([&] { launcher::KeepTargetAlive(settings, stop_, targetId_); }, [&] { stop_.Set(); });
    ASSERT_TRUE(WaitUntil([&] { return targetId_ == existing; }));
    // Found and waited on: nothing new is started while it runs.
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(Starts().size(), 1u);

    KillAndReap(existing);
    ASSERT_TRUE(WaitUntil([&] { return Starts().size() == 2; }));
    EXPECT_NE(Starts()[1], existing);
    EXPECT_TRUE(WaitUntil([&] { return targetId_ == Starts()[1]; }));
    stop_.Set();
    EXPECT_TRUE(keepAlive.Finish());
}

TEST_F(KeepAliveTest, ACopyWhoseNameDiffersOnlyInLetterCaseIsNotTheTarget) {
    std::string other = target_;
    other[0] = 'z';
    WriteTarget(other);
    const ProcessId lookalike = platform::StartProgram(other, {});
    ASSERT_NE(lookalike, kNoProcess);
    ASSERT_TRUE(WaitUntil([&] { return platform::FindProcessByName(other) == lookalike; }));
    ASSERT_TRUE(WaitUntil([&] { return Starts().size() == 1; }));  // its note comes first

    const auto settings = Settings();
    Worker keepAlive([&] { launcher::KeepTargetAlive(settings, stop_, targetId_); }, [&] { stop_.Set(); });
    ASSERT_TRUE(WaitUntil([&] { return Starts().size() == 2; }));
    EXPECT_EQ(Starts()[0], lookalike);
    EXPECT_EQ(platform::ExecutableName(Starts()[1]), target_);
    EXPECT_TRUE(WaitUntil([&] { return targetId_ == Starts()[1]; }));
    stop_.Set();
    EXPECT_TRUE(keepAlive.Finish());
}

TEST_F(KeepAliveTest, WithoutTheDebugPrivilegeTheTargetIsNeverStarted) {
    const auto settings = Settings(false);
    Worker keepAlive([&] { launcher::KeepTargetAlive(settings, stop_, targetId_); }, [&] { stop_.Set(); });
    // Returns by itself, without being asked to stop.
    EXPECT_TRUE(keepAlive.Finish());
    EXPECT_TRUE(Starts().empty());
    EXPECT_EQ(platform::FindProcessByName(target_), kNoProcess);
    EXPECT_EQ(targetId_, kNoProcess);
}

TEST_F(KeepAliveTest, AStartThatFailsEndsTheKeepAlive) {
    auto settings = Settings();
    settings.targetProgram = "Missing" + std::to_string(::getpid()) + ".exe";
    Worker keepAlive([&] { launcher::KeepTargetAlive(settings, stop_, targetId_); }, [&] { stop_.Set(); });
    EXPECT_TRUE(keepAlive.Finish());
    EXPECT_EQ(targetId_, kNoProcess);
}

TEST_F(KeepAliveTest, StopEndsTheWaitAndLeavesTheTargetRunning) {
    const auto settings = Settings();
    Worker keepAlive([&] { launcher::KeepTargetAlive(settings, stop_, targetId_); }, [&] { stop_.Set(); });
    ASSERT_TRUE(WaitUntil([&] { return Starts().size() == 1; }));
    stop_.Set();
    EXPECT_TRUE(keepAlive.Finish());
    EXPECT_EQ(platform::FindProcessByName(target_), Starts()[0]);
    EXPECT_EQ(Starts().size(), 1u);
}

// ---- Loopback exemption ------------------------------------------------------

class LoopbackExemptionTest : public ::testing::Test {
protected:
    testsupport::TempFolder folder_{true};
    std::string previousRoot_;
    platform::WaitEvent stop_;
    const std::string mappings_ =
        "registry/HKCU/SOFTWARE/Classes/Local Settings/Software/Microsoft/Windows/CurrentVersion/AppContainer/"
        "Mappings";

    void SetUp() override {
        if (const char* root = std::getenv("MORVANE_REGISTRY_ROOT")) previousRoot_ = root;
        ::setenv("MORVANE_REGISTRY_ROOT", (folder_ / "registry").c_str(), 1);
        std::filesystem::create_directories(folder_ / "registry/HKCU");
        // The clearing command finds the tool by bare name (the working folder
        // here); the add commands take it from the system folder. Each copy
        // notes where it was found, when (ns) and with which arguments.
        WriteTool("CheckNetIsolation.exe", "search");
        WriteTool("system/CheckNetIsolation.exe", "system");
    }

    void TearDown() override {
        if (previousRoot_.empty())
            ::unsetenv("MORVANE_REGISTRY_ROOT");
        else
            ::setenv("MORVANE_REGISTRY_ROOT", previousRoot_.c_str(), 1);
    }

    void WriteTool(const std::string& relative, const std::string& tag) {
        folder_.Write(relative, "#!/bin/sh\necho \"" + tag + " $(date +%s%N) $*\" >> '" + (folder_ / "calls.log") +
                                    "'\n");
        MakeExecutable(folder_ / relative);
    }

    launcher::LauncherSettings Settings(platform::SystemVersionNumber version = {6, 2}) const {
        launcher::LauncherSettings settings;
        settings.exemptionTool = "CheckNetIsolation.exe";
        settings.systemFolder = folder_ / "system";
        settings.exemptionDelayMs = 0;
        settings.exemptionPauseMs = 50;
        settings.version = version;
        return settings;
    }

    struct Call {
        std::string where;
        long long nanoseconds;
        std::string arguments;
    };

    std::vector<Call> Calls() const {
        std::vector<Call> calls;
        for (const auto& line : Lines(folder_.Read("calls.log"))) {
            std::stringstream in(line);
            Call call;
            in >> call.where >> call.nanoseconds;
            std::getline(in >> std::ws, call.arguments);
            calls.push_back(call);
        }
        return calls;
    }

    std::vector<std::string> CallTexts() const {
        std::vector<std::string> texts;
        for (const auto& call : Calls()) texts.push_back(call.where + " " + call.arguments);
        return texts;
    }

    bool RunToEnd(const launcher::LauncherSettings& settings) {
        Worker worker([&] { launcher::ExemptStoreApps(settings, stop_); }, [&] { stop_.Set(); });
        return worker.Finish();
    }
};

long long NowNanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

TEST_F(LoopbackExemptionTest, ClearsThenAddsOneExemptionPerMappingSubKey) {
    std::filesystem::create_directories(folder_ / (mappings_ + "/S-1-15-2-222"));
    std::filesystem::create_directories(folder_ / (mappings_ + "/S-1-15-2-111/Children"));
    folder_.Write(mappings_ + "/S-1-15-2-111/DisplayName", "Store app");
    folder_.Write(mappings_ + "/NotAKey", "a value beside the sub-keys");

    auto settings = Settings();
    settings.exemptionDelayMs = 150;
    const long long started = NowNanoseconds();
    ASSERT_TRUE(RunToEnd(settings));

    EXPECT_EQ(CallTexts(), (std::vector<std::string>{
                               "search LoopbackExempt -c",
                               "system LoopbackExempt -a -p=S-1-15-2-111",
                               "system LoopbackExempt -a -p=S-1-15-2-222",
                           }));
    const auto calls = Calls();
    ASSERT_EQ(calls.size(), 3u);
    // Lower bounds only: the start-up pause and the pause between adds.
    EXPECT_GE(calls[0].nanoseconds - started, 150'000'000LL);
    EXPECT_GE(calls[2].nanoseconds - calls[1].nanoseconds, 50'000'000LL);
}

TEST_F(LoopbackExemptionTest, WithoutTheMappingsKeyOnlyTheClearingCommandRuns) {
    ASSERT_TRUE(RunToEnd(Settings()));
    EXPECT_EQ(CallTexts(), (std::vector<std::string>{"search LoopbackExempt -c"}));
}

TEST_F(LoopbackExemptionTest, AnEmptyMappingsKeyAlsoOnlyClears) {
    std::filesystem::create_directories(folder_ / mappings_);
    ASSERT_TRUE(RunToEnd(Settings({6, 1})));
    EXPECT_EQ(CallTexts(), (std::vector<std::string>{"search LoopbackExempt -c"}));
}

TEST_F(LoopbackExemptionTest, NoCommandRunsOnAVersionWithMinorNumberZeroOrBeforeSix) {
    std::filesystem::create_directories(folder_ / (mappings_ + "/S-1-15-2-111"));
    for (platform::SystemVersionNumber version : {platform::SystemVersionNumber{6, 0}, {10, 0}, {5, 1}}) {
        ASSERT_TRUE(RunToEnd(Settings(version))) << version.major << "." << version.minor;
        EXPECT_TRUE(Calls().empty()) << version.major << "." << version.minor;
    }
}

TEST_F(LoopbackExemptionTest, StopDuringTheStartUpPauseRunsNothing) {
    auto settings = Settings();
    settings.exemptionDelayMs = 60000;
    Worker worker([&] { launcher::ExemptStoreApps(settings, stop_); }, [&] { stop_.Set(); });
    std::this_thread::sleep_for(30ms);
    stop_.Set();
    EXPECT_TRUE(worker.Finish());
    EXPECT_TRUE(Calls().empty());
}

TEST_F(LoopbackExemptionTest, AHangingCommandDelaysTheNextOnlyUpToTheLimit) {
    // The clearing command never ends by itself.
    // It notes its process id where the others note the time.
    folder_.Write("CheckNetIsolation.exe", "#!/bin/sh\necho \"search $$ $*\" >> '" + (folder_ / "calls.log") +
                                               "'\n" + launchertest::BlockUntilKilled(folder_));
    std::filesystem::create_directories(folder_ / (mappings_ + "/S-1-15-2-111"));
    auto settings = Settings();
    settings.exemptionCommandLimitMs = 100;
    Worker worker([&] { launcher::ExemptStoreApps(settings, stop_); }, [&] { stop_.Set(); });
    ASSERT_TRUE(WaitUntil([&] { return Calls().size() == 2; }));
    // Under load the hung command may note itself after the add has run.
    const auto calls = Calls();
    const bool searchFirst = calls[0].where == "search";
    const Call& search = calls[searchFirst ? 0 : 1];
    const Call& add = calls[searchFirst ? 1 : 0];
    ASSERT_EQ(search.where + " " + search.arguments, "search LoopbackExempt -c");
    EXPECT_EQ(add.where + " " + add.arguments, "system LoopbackExempt -a -p=S-1-15-2-111");
    // The hung one is still waited for; the program ending releases the worker.
    EXPECT_FALSE(worker.Done());
    stop_.Set();
    EXPECT_TRUE(worker.Finish());
    const auto hung = static_cast<ProcessId>(search.nanoseconds);
    EXPECT_EQ(::kill(hung, 0), 0);
    ::kill(hung, SIGKILL);
    platform::WaitForChild(hung);
}

// ---- The program as a whole --------------------------------------------------

class LauncherRunTest : public KeepAliveTest {
protected:
    testsupport::TempFolder runtime_;
    std::string previousRuntime_;

    void SetUp() override {
        KeepAliveTest::SetUp();
        if (const char* dir = std::getenv("XDG_RUNTIME_DIR")) previousRuntime_ = dir;
        ::setenv("XDG_RUNTIME_DIR", runtime_.path().c_str(), 1);
    }
    void TearDown() override {
        KeepAliveTest::TearDown();
        if (previousRuntime_.empty())
            ::unsetenv("XDG_RUNTIME_DIR");
        else
            ::setenv("XDG_RUNTIME_DIR", previousRuntime_.c_str(), 1);
    }

    launcher::LauncherSettings RunSettings() const {
        auto settings = Settings();
        settings.exemptionTool = "CheckNetIsolation.exe";
        settings.systemFolder = folder_.path();
        settings.exemptionDelayMs = 60000;
        settings.version = {6, 2};
        settings.mutexName = "Launcher";
        return settings;
    }
};

TEST_F(LauncherRunTest, ASecondInstanceReturnsMinusOneAtOnceAndStartsNothing) {
    platform::NamedMutex firstInstance("Launcher");
    ASSERT_TRUE(firstInstance.Held());
    launcher::Launcher second(RunSettings());
    std::atomic<int> result{1};
    Worker run([&] { result = second.Run(); }, [&] { second.Close(); });
    ASSERT_TRUE(run.Finish()) << "the second instance kept running";
    EXPECT_EQ(result, -1);
    EXPECT_TRUE(Starts().empty());
    EXPECT_EQ(second.TargetProcessId(), kNoProcess);
}

TEST_F(LauncherRunTest, CloseStopsTheWorkersAndFreesTheName) {
    launcher::Launcher program(RunSettings());
    std::atomic<int> result{1};
    Worker run([&] { result = program.Run(); }, [&] { program.Close(); });
    ASSERT_TRUE(WaitUntil([&] { return Starts().size() == 1; }));
    EXPECT_TRUE(WaitUntil([&] { return program.TargetProcessId() == Starts()[0]; }));
    EXPECT_TRUE(platform::NamedMutex("Launcher").AlreadyExisted());

    program.Close();
    ASSERT_TRUE(run.Finish());
    EXPECT_EQ(result, 0);
    // The target outlives the Launcher; the name is free for the next one.
    EXPECT_EQ(platform::FindProcessByName(target_), Starts()[0]);
    EXPECT_TRUE(platform::NamedMutex("Launcher").Held());
}

TEST_F(LauncherRunTest, CloseBeforeTheLoopStartsStillEndsRun) {
    launcher::Launcher program(RunSettings());
    program.Close();
    std::atomic<int> result{1};
    Worker run([&] { result = program.Run(); }, [&] { program.Close(); });
    ASSERT_TRUE(run.Finish());
    EXPECT_EQ(result, 0);
}

}  // namespace
