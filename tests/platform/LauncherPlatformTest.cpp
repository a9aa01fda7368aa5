// The platform facilities the Launcher relies on, as both systems give them:
// starting a program and waiting for its exit code, finding a process by its
// executable name, waits that a stop event cuts short, the named mutex, the
// registry, the system's version and folder, and the hidden window's life.
// The fake programs are copies of one test program that report to the test
// and end when it says so. The POSIX stand-ins' own rules are tested in
// posix/, Windows' in win32/.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "platform/File.h"
#include "platform/HiddenWindow.h"
#include "platform/NamedMutex.h"
#include "platform/Process.h"
#include "platform/ProcessSnapshot.h"
#include "platform/Registry.h"
#include "platform/SystemInfo.h"
#include "platform/WaitEvent.h"
#include "support/FakeProgram.h"
#include "support/LoopbackClient.h"
#include "support/RuntimeFolder.h"
#include "support/TempFolder.h"
#include "support/TestKeys.h"

namespace {

using namespace std::chrono_literals;
using platform::kNoProcess;
using platform::ProcessId;
using platform::ProcessWaitResult;
using platform::ShowWindow;

std::string UniqueName(const std::string& prefix, const std::string& suffix = ".exe") {
    return prefix + std::to_string(platform::CurrentProcessNumber()) + suffix;
}

bool SameFolder(const std::string& a, const std::string& b) {
    std::error_code ec;
    return std::filesystem::equivalent(a, b, ec);
}

// A test in a folder of its own, where bare program names are found first,
// with fake programs to start.
class ProcessTest : public ::testing::Test {
protected:
    testsupport::TempFolder folder_{true};
    testsupport::FakePrograms fakes_;

    std::string Install(const std::string& name) {
        fakes_.Install(folder_ / name);
        return name;
    }
    // Starts a fake and waits for its report.
    platform::Process StartFake(const std::string& name, const std::vector<std::string>& arguments = {}) {
        const std::size_t before = fakes_.Starts().size();
        platform::Process process = platform::StartProgram(name, arguments, ShowWindow::Hidden);
        EXPECT_TRUE(process) << name;
        EXPECT_TRUE(fakes_.WaitForStarts(before + 1)) << name << " did not report";
        return process;
    }
};

// ---- Starting and waiting ------------------------------------------------

TEST_F(ProcessTest, StartedProgramGetsEachArgumentWholeAndItsExitCodeIsKnown) {
    const std::string name = Install(UniqueName("Zs"));
    // Blanks, quotes, backslashes before a quote and at the end, an empty one,
    // a wildcard: each must arrive as it was given.
    const std::vector<std::string> arguments{"two words", "quote\"inside", "back\\\"slash", "trailing\\",
                                             "",          "*",             "-oData"};
    platform::Process process = StartFake(name, arguments);
    ASSERT_TRUE(process);
    ASSERT_EQ(fakes_.Starts().size(), 1u);
    const auto start = fakes_.Starts()[0];
    EXPECT_EQ(start.arguments, arguments);
    EXPECT_EQ(start.id, process.Id());
    EXPECT_TRUE(SameFolder(start.folder, folder_.path()));

    EXPECT_EQ(process.Wait(50), ProcessWaitResult::TimedOut);
    EXPECT_EQ(process.ExitCode(), std::nullopt);
    ASSERT_TRUE(fakes_.End(process.Id(), 7));
    EXPECT_EQ(process.Wait(), ProcessWaitResult::Ended);
    EXPECT_EQ(process.ExitCode(), 7);
    // Ended stays ended.
    EXPECT_EQ(process.Wait(0), ProcessWaitResult::Ended);

    platform::Process missing = platform::StartProgram(UniqueName("Missing"), {}, ShowWindow::Hidden);
    EXPECT_FALSE(missing);
    EXPECT_EQ(missing.Id(), kNoProcess);
    EXPECT_EQ(missing.Wait(), ProcessWaitResult::Failed);
}

TEST(StartProgramTest, BareNameFoundHereStartsEvenWhenTheChildWorksElsewhere) {
    testsupport::TempFolder here(true);
    testsupport::TempFolder elsewhere;
    testsupport::FakePrograms fakes;
    fakes.Install(here / "Tool.exe");
    fakes.Serve(elsewhere.path());
    fakes.SetReply([](const testsupport::FakePrograms::Start&) { return 0; });

    EXPECT_TRUE(SameFolder(platform::FindProgram("Tool.exe"), here / "Tool.exe"));
    EXPECT_EQ(platform::FindProgram(UniqueName("Missing")), "");
    platform::Process tool = platform::StartProgram("Tool.exe", {}, ShowWindow::Hidden, elsewhere.path());
    ASSERT_TRUE(tool);
    EXPECT_EQ(tool.Wait(10000), ProcessWaitResult::Ended);
    EXPECT_EQ(tool.ExitCode(), 0);
    ASSERT_EQ(fakes.Starts().size(), 1u);
    EXPECT_TRUE(SameFolder(fakes.Starts()[0].folder, elsewhere.path()));
}

TEST_F(ProcessTest, AProcessOpenedByIdIsWaitedOnWithoutTakingTheStartersExitCode) {
    platform::Process started = StartFake(Install(UniqueName("Zo")));
    ASSERT_TRUE(started);
    const ProcessId id = started.Id();
    platform::Process opened = platform::Process::Open(id);
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened.Id(), id);
    EXPECT_EQ(opened.Wait(30), ProcessWaitResult::TimedOut);

    ASSERT_TRUE(fakes_.End(id, 5));
    EXPECT_EQ(opened.Wait(10000), ProcessWaitResult::Ended);
    // The one who started it still learns how it ended.
    platform::Process moved = std::move(started);
    EXPECT_FALSE(started);
    EXPECT_EQ(moved.Wait(), ProcessWaitResult::Ended);
    EXPECT_EQ(moved.ExitCode(), 5);

    // With every handle closed the id soon names nothing to open (on Windows
    // the system may hold the ended process a moment longer).
    moved = {};
    opened = {};
    EXPECT_TRUE(testsupport::WaitFor([id] { return !platform::Process::Open(id); }, 10000));
    EXPECT_FALSE(platform::Process::Open(kNoProcess));
}

// ---- Process snapshot ----------------------------------------------------

TEST_F(ProcessTest, SnapshotFindsAStartedProgramByItsExactNameOnly) {
    const std::string name = Install(UniqueName("Zp"));
    platform::Process process = StartFake(name);
    ASSERT_TRUE(process);

    EXPECT_EQ(platform::FindProcessByName(name), process.Id());
    EXPECT_EQ(platform::ExecutableName(process.Id()), name);
    std::string lower = name;
    lower[0] = 'z';
    EXPECT_EQ(platform::FindProcessByName(lower), kNoProcess);
    EXPECT_EQ(platform::FindProcessByName(name.substr(0, name.size() - 1)), kNoProcess);
    EXPECT_EQ(platform::FindProcessByName(name + "x"), kNoProcess);
    EXPECT_EQ(platform::FindProcessByName(""), kNoProcess);

    // Ended, though a handle on it is still open: no longer listed.
    ASSERT_TRUE(fakes_.End(process.Id()));
    ASSERT_EQ(process.Wait(), ProcessWaitResult::Ended);
    EXPECT_EQ(platform::FindProcessByName(name), kNoProcess);
    EXPECT_EQ(platform::ExecutableName(process.Id()), "");
}

// ---- Waits with a stop event ---------------------------------------------

TEST(WaitEventConcurrencyTest, SetWakesWaitersAndStaysSet) {
    platform::WaitEvent event;
    EXPECT_FALSE(event.IsSet());
    EXPECT_FALSE(event.Wait(20));

    std::atomic<bool> woke{false};
    std::thread waiter([&] { woke = event.Wait(-1); });
    std::thread setter([&] { event.Set(); });
    setter.join();
    waiter.join();
    EXPECT_TRUE(woke);
    // Manual reset: every later wait sees it at once.
    EXPECT_TRUE(event.IsSet());
    EXPECT_TRUE(event.Wait(-1));
    event.Set();
    EXPECT_TRUE(event.IsSet());
}

class WaitEventConcurrencyProcessTest : public ProcessTest {};

TEST_F(WaitEventConcurrencyProcessTest, ProcessWaitEndsOnExitOnEventOrOnTimeOut) {
    platform::Process process = StartFake(Install(UniqueName("Zw")));
    ASSERT_TRUE(process);
    platform::WaitEvent event;

    EXPECT_EQ(platform::WaitForProcessOrEvent(process, event, 30), ProcessWaitResult::TimedOut);

    std::thread setter([&] {
        std::this_thread::sleep_for(20ms);
        event.Set();
    });
    EXPECT_EQ(platform::WaitForProcessOrEvent(process, event), ProcessWaitResult::EventSet);
    setter.join();

    // With the event already set, a process that has ended is still reported
    // as ended, with its exit code.
    ASSERT_TRUE(fakes_.End(process.Id(), 3));
    EXPECT_EQ(platform::WaitForProcessOrEvent(process, event), ProcessWaitResult::Ended);
    EXPECT_EQ(process.ExitCode(), 3);
    platform::WaitEvent unset;
    EXPECT_EQ(platform::WaitForProcessOrEvent(process, unset, 1000), ProcessWaitResult::Ended);
    platform::Process none;
    EXPECT_EQ(platform::WaitForProcessOrEvent(none, unset), ProcessWaitResult::Failed);
}

TEST_F(WaitEventConcurrencyProcessTest, ProcessEndingWakesAWaitWithoutLimit) {
    platform::Process process = StartFake(Install(UniqueName("Zx")));
    ASSERT_TRUE(process);
    platform::WaitEvent event;
    const ProcessId id = process.Id();
    std::thread ender([&, id] {
        std::this_thread::sleep_for(20ms);
        fakes_.End(id);
    });
    EXPECT_EQ(platform::WaitForProcessOrEvent(process, event), ProcessWaitResult::Ended);
    ender.join();
    EXPECT_EQ(process.ExitCode(), 0);
}

// ---- Named mutex ---------------------------------------------------------

class NamedMutexProcessTest : public ProcessTest {
protected:
    testsupport::PrivateRuntimeFolder runtime_;
    const std::string name_ = UniqueName("MorvaneTestMutex-", "");

    // What a fake that tries to take the name says about it.
    std::string NoteOfAFakeTaking(const std::string& holder, platform::Process* keep = nullptr) {
        platform::Process fake = StartFake(holder, {"--hold-mutex", name_});
        const auto starts = fakes_.Starts();
        if (starts.empty()) return {};
        if (keep) *keep = std::move(fake);
        return starts.back().note;
    }
};

TEST_F(NamedMutexProcessTest, OneHolderAtATimeInThisProcessAndInAnother) {
    const std::string holder = Install(UniqueName("Zm"));
    {
        platform::NamedMutex first(name_);
        ASSERT_TRUE(first.Held());
        EXPECT_FALSE(first.AlreadyExisted());
        platform::NamedMutex second(name_);
        EXPECT_TRUE(second.AlreadyExisted());
        EXPECT_FALSE(second.Held());
        platform::NamedMutex other(name_ + "-other");
        EXPECT_TRUE(other.Held());

        platform::Process fake;
        EXPECT_EQ(NoteOfAFakeTaking(holder, &fake), "existed");
        ASSERT_TRUE(fakes_.End(fake.Id()));
    }
    // Free again once its holder has gone; then another process holds it.
    platform::Process fake;
    ASSERT_EQ(NoteOfAFakeTaking(holder, &fake), "held");
    EXPECT_TRUE(platform::NamedMutex(name_).AlreadyExisted());
    // However a holder ends, the name is free again.
    ASSERT_TRUE(fakes_.End(fake.Id(), 9));
    platform::NamedMutex again(name_);
    EXPECT_TRUE(again.Held());
    EXPECT_FALSE(again.AlreadyExisted());
}

TEST_F(NamedMutexProcessTest, StartedProgramsDoNotInheritTheName) {
    const std::string child = Install(UniqueName("Zc"));
    platform::Process running;
    {
        platform::NamedMutex mutex(name_);
        ASSERT_TRUE(mutex.Held());
        running = StartFake(child);
        ASSERT_TRUE(running);
    }
    // The child still runs; had it inherited the name, the name would stay taken.
    EXPECT_EQ(running.Wait(0), ProcessWaitResult::TimedOut);
    platform::NamedMutex next(name_);
    EXPECT_TRUE(next.Held());
    EXPECT_FALSE(next.AlreadyExisted());
}

// ---- Registry --------------------------------------------------------------

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
    return text;
}

TEST(RegistryKeyTest, SubKeysComeInRegistryOrderAndNamesIgnoreCase) {
    testsupport::TestKeys keys;
    ASSERT_TRUE(keys.Create("Apps\\beta"));
    ASSERT_TRUE(keys.Create("Apps\\Alpha"));
    ASSERT_TRUE(keys.Create("Apps\\gamma\\nested"));
    ASSERT_TRUE(keys.SetString("Apps", "Version", "3"));  // a value, not a key
    ASSERT_TRUE(keys.SetString("Apps\\Alpha", "", "unnamed"));
    using platform::RegistryKey;
    using platform::RegistryRoot;

    auto apps = RegistryKey::Open(RegistryRoot::CurrentUser, keys.Root() + "\\Apps");
    ASSERT_TRUE(apps.has_value());
    EXPECT_EQ(apps->SubKeyCount(), 3u);
    EXPECT_EQ(apps->SubKeyNames(), (std::vector<std::string>{"Alpha", "beta", "gamma"}));
    EXPECT_EQ(apps->SubKeyName(1), "beta");
    EXPECT_EQ(apps->SubKeyName(3), std::nullopt);
    EXPECT_EQ(apps->ReadString("Version"), "3");
    EXPECT_EQ(apps->ReadString("Absent"), std::nullopt);

    auto alpha = RegistryKey::Open(RegistryRoot::CurrentUser, Upper(keys.Root()) + "\\APPS\\alpha");
    ASSERT_TRUE(alpha.has_value());
    EXPECT_EQ(alpha->ReadString(""), "unnamed");
    EXPECT_EQ(alpha->SubKeyCount(), 0u);
    EXPECT_TRUE(alpha->SubKeyNames().empty());

    auto gamma = RegistryKey::Open(RegistryRoot::CurrentUser, keys.Root() + "\\Apps/gamma");
    ASSERT_TRUE(gamma.has_value());
    EXPECT_EQ(gamma->SubKeyNames(), (std::vector<std::string>{"nested"}));
    EXPECT_FALSE(RegistryKey::Open(RegistryRoot::CurrentUser, keys.Root() + "\\Absent"));
    EXPECT_FALSE(RegistryKey::Open(RegistryRoot::LocalMachine, keys.Root() + "\\Apps"));
}

// ---- Version and system folder -------------------------------------------

TEST(SystemInfoTest, TheReportedVersionLetsTheLoopbackExemptionRunAndTheSystemFolderExists) {
    // Programs gate the exemption on major >= 6 and minor >= 1 separately.
    const auto version = platform::SystemVersion();
    EXPECT_GE(version.major, 6u);
    EXPECT_GE(version.minor, 1u);
    const std::string folder = platform::SystemFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    EXPECT_NE(folder.back(), '/');
    EXPECT_NE(folder.back(), '\\');
}

// ---- Hidden window -------------------------------------------------------

TEST(HiddenWindowStopTest, DestroyFromAnotherThreadEndsTheMessageLoop) {
    auto window = platform::HiddenWindow::Create("LAUNCHER", "Launcher");
    ASSERT_TRUE(window);
    EXPECT_EQ(window->Title(), "Launcher");
    std::thread closer([&] {
        std::this_thread::sleep_for(20ms);
        window->Destroy();
    });
    EXPECT_EQ(window->RunMessageLoop(), 0);
    closer.join();
    // Destroyed once, destroyed for good.
    EXPECT_EQ(window->RunMessageLoop(), 0);
}

TEST(HiddenWindowStopTest, DestroyBeforeTheLoopRunsEndsItAtOnce) {
    auto window = platform::HiddenWindow::Create("LAUNCHER", "Launcher");
    ASSERT_TRUE(window);
    window->Destroy();
    EXPECT_EQ(window->RunMessageLoop(), 0);
    // A window that goes without its loop ever running leaves nothing that
    // would end the next window's loop early.
    platform::HiddenWindow::Create("LAUNCHER", "Other").reset();
    auto next = platform::HiddenWindow::Create("LAUNCHER", "Next");
    ASSERT_TRUE(next);
    std::atomic<bool> ended{false};
    std::thread closer([&] {
        std::this_thread::sleep_for(50ms);
        EXPECT_FALSE(ended.load());
        next->Destroy();
    });
    EXPECT_EQ(next->RunMessageLoop(), 0);
    ended = true;
    closer.join();
}

}  // namespace
