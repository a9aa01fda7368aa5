// The Launcher's logic with fake programs: a fake main program and a fake
// exemption tool (copies of the test program of support/FakeProgram.h, which
// report each start and end when told), registry keys of the test's own, and
// short waits.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/Launcher.h"
#include "platform/File.h"
#include "platform/NamedMutex.h"
#include "platform/Process.h"
#include "platform/ProcessSnapshot.h"
#include "support/FakeProgram.h"
#include "support/LoopbackClient.h"
#include "support/RuntimeFolder.h"
#include "support/TempFolder.h"
#include "support/TestKeys.h"

namespace {

using namespace std::chrono_literals;
using platform::kNoProcess;
using platform::ProcessId;
using testsupport::FakePrograms;

bool WaitUntil(const std::function<bool()>& condition) { return testsupport::WaitFor(condition, 10000); }

std::string UniqueName(const std::string& prefix, const std::string& suffix = ".exe") {
    return prefix + std::to_string(platform::CurrentProcessNumber()) + suffix;
}

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
    // Ends every fake still running when the test is over.
    FakePrograms fakes_;
    // Unique per test program, so parallel tests never see each other's target.
    const std::string target_ = UniqueName("Zk");
    platform::WaitEvent stop_;
    std::atomic<ProcessId> targetId_{kNoProcess};

    void SetUp() override { fakes_.Install(folder_ / target_); }

    // The ids of the target's copies in the order they started.
    std::vector<ProcessId> Starts() const {
        std::vector<ProcessId> ids;
        for (const auto& start : fakes_.Starts(target_)) ids.push_back(start.id);
        return ids;
    }
    bool WaitForStarts(std::size_t count) const { return fakes_.WaitForStarts(count, target_); }

    launcher::LauncherSettings Settings(bool privilege = true) const {
        launcher::LauncherSettings settings;
        settings.targetProgram = target_;
        settings.debugPrivilege = privilege;
        return settings;
    }
};

TEST_F(KeepAliveTest, StartsTheTargetAndRestartsItAtOnceWhenKilled) {
    const auto settings = Settings();
    Worker keepAlive([&] { launcher::KeepTargetAlive(settings, stop_, targetId_); }, [&] { stop_.Set(); });

    ASSERT_TRUE(WaitForStarts(1));
    const ProcessId first = Starts()[0];
    EXPECT_TRUE(WaitUntil([&] { return targetId_ == first; }));

    ASSERT_TRUE(fakes_.End(first, 9));
    ASSERT_TRUE(WaitForStarts(2));
    const ProcessId second = Starts()[1];
    EXPECT_NE(second, first);
    EXPECT_TRUE(WaitUntil([&] { return targetId_ == second; }));
    // The ended one was let go of (reaped, its handle closed): soon nothing
    // is left to open by its id.
    EXPECT_TRUE(WaitUntil([&] { return !platform::Process::Open(first); }));

    // A target that ends by itself is restarted too.
    ASSERT_TRUE(fakes_.End(second, 0));
    ASSERT_TRUE(WaitForStarts(3));

    stop_.Set();
    EXPECT_TRUE(keepAlive.Finish());
    EXPECT_EQ(Starts().size(), 3u);
}

TEST_F(KeepAliveTest, WaitsForACopyAlreadyRunningAndStartsOneWhenItEnds) {
    platform::Process existing = platform::StartProgram(target_, {}, platform::ShowWindow::Hidden);
    ASSERT_TRUE(existing);
    ASSERT_TRUE(WaitForStarts(1));

    const auto settings = Settings();
    Worker keepAlive([&] { launcher::KeepTargetAlive(settings, stop_, targetId_); }, [&] { stop_.Set(); });
    ASSERT_TRUE(WaitUntil([&] { return targetId_ == existing.Id(); }));
    // Found and waited on: nothing new is started while it runs.
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(Starts().size(), 1u);

    ASSERT_TRUE(fakes_.End(existing.Id()));
    ASSERT_TRUE(WaitForStarts(2));
    EXPECT_NE(Starts()[1], existing.Id());
    EXPECT_TRUE(WaitUntil([&] { return targetId_ == Starts()[1]; }));
    stop_.Set();
    EXPECT_TRUE(keepAlive.Finish());
}

TEST_F(KeepAliveTest, ACopyWhoseNameDiffersOnlyInLetterCaseIsNotTheTarget) {
    std::string other = target_;
    other[0] = 'z';
    // In a folder of its own: on Windows the two names are one file.
    const std::string otherPath = folder_ / ("lookalike/" + other);
    fakes_.Install(otherPath);
    platform::Process lookalike = platform::StartProgram(otherPath, {}, platform::ShowWindow::Hidden);
    ASSERT_TRUE(lookalike);
    ASSERT_TRUE(fakes_.WaitForStarts(1, other));
    ASSERT_EQ(platform::FindProcessByName(other), lookalike.Id());

    const auto settings = Settings();
    Worker keepAlive([&] { launcher::KeepTargetAlive(settings, stop_, targetId_); }, [&] { stop_.Set(); });
    ASSERT_TRUE(WaitForStarts(1));
    EXPECT_NE(Starts()[0], lookalike.Id());
    EXPECT_EQ(platform::ExecutableName(Starts()[0]), target_);
    EXPECT_TRUE(WaitUntil([&] { return targetId_ == Starts()[0]; }));
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
    settings.targetProgram = UniqueName("Missing");
    Worker keepAlive([&] { launcher::KeepTargetAlive(settings, stop_, targetId_); }, [&] { stop_.Set(); });
    EXPECT_TRUE(keepAlive.Finish());
    EXPECT_EQ(targetId_, kNoProcess);
}

TEST_F(KeepAliveTest, StopEndsTheWaitAndLeavesTheTargetRunning) {
    const auto settings = Settings();
    Worker keepAlive([&] { launcher::KeepTargetAlive(settings, stop_, targetId_); }, [&] { stop_.Set(); });
    ASSERT_TRUE(WaitForStarts(1));
    stop_.Set();
    EXPECT_TRUE(keepAlive.Finish());
    EXPECT_EQ(platform::FindProcessByName(target_), Starts()[0]);
    EXPECT_EQ(Starts().size(), 1u);
}

// ---- Loopback exemption ------------------------------------------------------

class LoopbackExemptionTest : public ::testing::Test {
protected:
    testsupport::TempFolder folder_{true};
    testsupport::TestKeys keys_;
    FakePrograms fakes_;
    platform::WaitEvent stop_;

    void SetUp() override {
        // The clearing command finds the tool by bare name (the working folder
        // here); the add commands take it from the system folder. Each run
        // ends at once unless a test says otherwise.
        fakes_.Install(folder_ / "CheckNetIsolation.exe");
        fakes_.Install(folder_ / "system/CheckNetIsolation.exe");
        fakes_.SetReply([](const FakePrograms::Start&) { return 0; });
    }

    launcher::LauncherSettings Settings(platform::SystemVersionNumber version = {6, 2}) const {
        launcher::LauncherSettings settings;
        settings.exemptionTool = "CheckNetIsolation.exe";
        settings.systemFolder = folder_ / "system";
        settings.exemptionDelayMs = 0;
        settings.exemptionPauseMs = 50;
        settings.version = version;
        settings.mappingsKey = keys_.Root() + "\\Mappings";
        return settings;
    }

    struct Call {
        std::string where;  // "system" for the system folder's copy, else "search"
        std::string arguments;
        std::chrono::steady_clock::time_point at;
        ProcessId id;
    };

    std::vector<Call> Calls() const {
        std::vector<Call> calls;
        for (const auto& start : fakes_.Starts("CheckNetIsolation.exe")) {
            const std::string& program = start.program;
            const std::size_t slash = program.find_last_of("/\\");
            const std::string folder = slash == std::string::npos ? "" : program.substr(0, slash);
            Call call{testsupport::FileNameOf(folder) == "system" ? "system" : "search", "", start.at, start.id};
            for (const auto& argument : start.arguments)
                call.arguments += (call.arguments.empty() ? "" : " ") + argument;
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

TEST_F(LoopbackExemptionTest, ClearsThenAddsOneExemptionPerMappingSubKey) {
    ASSERT_TRUE(keys_.Create("Mappings\\S-1-15-2-222"));
    ASSERT_TRUE(keys_.Create("Mappings\\S-1-15-2-111\\Children"));
    ASSERT_TRUE(keys_.SetString("Mappings\\S-1-15-2-111", "DisplayName", "Store app"));
    ASSERT_TRUE(keys_.SetString("Mappings", "NotAKey", "a value beside the sub-keys"));

    auto settings = Settings();
    settings.exemptionDelayMs = 150;
    const auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(RunToEnd(settings));

    EXPECT_EQ(CallTexts(), (std::vector<std::string>{
                               "search LoopbackExempt -c",
                               "system LoopbackExempt -a -p=S-1-15-2-111",
                               "system LoopbackExempt -a -p=S-1-15-2-222",
                           }));
    const auto calls = Calls();
    ASSERT_EQ(calls.size(), 3u);
    // Lower bounds only: the start-up pause and the pause between adds.
    EXPECT_GE(calls[0].at - started, 150ms);
    EXPECT_GE(calls[2].at - calls[1].at, 50ms);
}

TEST_F(LoopbackExemptionTest, WithoutTheMappingsKeyOnlyTheClearingCommandRuns) {
    ASSERT_TRUE(RunToEnd(Settings()));
    EXPECT_EQ(CallTexts(), (std::vector<std::string>{"search LoopbackExempt -c"}));
}

TEST_F(LoopbackExemptionTest, AnEmptyMappingsKeyAlsoOnlyClears) {
    ASSERT_TRUE(keys_.Create("Mappings"));
    ASSERT_TRUE(RunToEnd(Settings({6, 1})));
    EXPECT_EQ(CallTexts(), (std::vector<std::string>{"search LoopbackExempt -c"}));
}

TEST_F(LoopbackExemptionTest, NoCommandRunsOnAVersionWithMinorNumberZeroOrBeforeSix) {
    ASSERT_TRUE(keys_.Create("Mappings\\S-1-15-2-111"));
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
    fakes_.SetReply([](const FakePrograms::Start& start) -> std::optional<int> {
        if (start.arguments == std::vector<std::string>{"LoopbackExempt", "-c"}) return std::nullopt;
        return 0;
    });
    ASSERT_TRUE(keys_.Create("Mappings\\S-1-15-2-111"));
    auto settings = Settings();
    settings.exemptionCommandLimitMs = 100;
    Worker worker([&] { launcher::ExemptStoreApps(settings, stop_); }, [&] { stop_.Set(); });
    ASSERT_TRUE(fakes_.WaitForStarts(2, "CheckNetIsolation.exe"));
    // Under load the hung command may report after the add has run.
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
    // Still running, and left so: ending it now succeeds.
    EXPECT_TRUE(fakes_.End(search.id));
}

// ---- The program as a whole --------------------------------------------------

class LauncherRunTest : public KeepAliveTest {
protected:
    testsupport::PrivateRuntimeFolder runtime_;
    const std::string mutexName_ = UniqueName("Launcher-", "");

    launcher::LauncherSettings RunSettings() const {
        auto settings = Settings();
        settings.exemptionTool = "CheckNetIsolation.exe";
        settings.systemFolder = folder_.path();
        settings.exemptionDelayMs = 60000;
        settings.version = {6, 2};
        settings.mutexName = mutexName_;
        settings.mappingsKey = "Software\\" + UniqueName("MorvaneAbsent-", "");
        return settings;
    }
};

TEST_F(LauncherRunTest, ASecondInstanceReturnsMinusOneAtOnceAndStartsNothing) {
    platform::NamedMutex firstInstance(mutexName_);
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
    ASSERT_TRUE(WaitForStarts(1));
    EXPECT_TRUE(WaitUntil([&] { return program.TargetProcessId() == Starts()[0]; }));
    EXPECT_TRUE(platform::NamedMutex(mutexName_).AlreadyExisted());

    program.Close();
    ASSERT_TRUE(run.Finish());
    EXPECT_EQ(result, 0);
    // The target outlives the Launcher; the name is free for the next one.
    EXPECT_EQ(platform::FindProcessByName(target_), Starts()[0]);
    EXPECT_TRUE(platform::NamedMutex(mutexName_).Held());
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
