// The service host in this process: the command-line switches, the service
// state sequence, and stops that come early or while the port is taken.
// It needs the POSIX stand-ins: a dispatcher that runs the service in the
// calling process, and the systemd unit (on Windows the service runs under
// the service control manager, ServiceControlManagerTest).
#include <gtest/gtest.h>

#include <algorithm>

#include <platform/ProgramPath.h>
#include <platform/Service.h>
#include <platform/Socket.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>

#include "service/ServiceHost.h"
#include "support/LoopbackClient.h"
#include "support/TempFolder.h"

namespace fs = std::filesystem;
using platform::ServiceState;
using testsupport::LoopbackClient;

namespace {

// The service makes its program's folder the working directory and reads
// Data/ there: for these tests that is the test program's own folder.
class ServiceHostTest : public ::testing::Test {
protected:
    void SetUp() override {
        proxyPort_ = testsupport::FreeLoopbackPort();
        fs::path data = fs::path(platform::ProgramFolder()) / "Data";
        fs::create_directories(data);
        std::ofstream(data / "config.ini") << "[Proxy]\nproxyPort=" << proxyPort_ << "\nwebPort="
                                           << testsupport::FreeLoopbackPort() << "\nadBlock=0\n";
        platform::ClearReportedServiceStates();
        unitDir_ = std::make_unique<testsupport::TempFolder>();
        ::setenv("PROXY_UNIT_DIR", unitDir_->path().c_str(), 1);
    }
    void TearDown() override { ::unsetenv("PROXY_UNIT_DIR"); }

    // Runs the entry on a thread of its own, as the dispatcher's caller.
    std::future<int> RunEntry(const std::string& commandLine) {
        return std::async(std::launch::async, [commandLine] { return ProxyEntry(commandLine); });
    }

    bool ProxyAccepts() {
        LoopbackClient c;
        return c.Connect(proxyPort_);
    }

    uint16_t proxyPort_ = 0;
    std::unique_ptr<testsupport::TempFolder> unitDir_;
};

}  // namespace

TEST_F(ServiceHostTest, StopControlRunsTheStatesInOrderAndClosesConnections) {
    auto entry = RunEntry("");
    ASSERT_TRUE(testsupport::WaitFor([&] { return ProxyAccepts(); }, 5000));
    // The port accepts from the listen on, a moment before Running is reported.
    ASSERT_TRUE(testsupport::WaitFor(
        [] {
            const std::vector<ServiceState> states = platform::ReportedServiceStates();
            return std::find(states.begin(), states.end(), ServiceState::Running) != states.end();
        },
        5000));
    LoopbackClient browser;
    ASSERT_TRUE(browser.Connect(proxyPort_));

    platform::PostServiceControl(platform::kServiceControlStop);
    ASSERT_EQ(entry.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(entry.get(), 0);
    EXPECT_TRUE(browser.WaitClosed(1000));
    EXPECT_EQ(platform::ReportedServiceStates(),
              (std::vector<ServiceState>{ServiceState::StartPending, ServiceState::Running,
                                         ServiceState::StopPending, ServiceState::Stopped}));
    EXPECT_FALSE(ProxyAccepts());
}

TEST_F(ServiceHostTest, ShutdownControlStopsWithoutTheStopPendingReport) {
    auto entry = RunEntry("");
    ASSERT_TRUE(testsupport::WaitFor([&] { return ProxyAccepts(); }, 5000));
    platform::PostServiceControl(platform::kServiceControlShutdown);
    ASSERT_EQ(entry.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(platform::ReportedServiceStates(),
              (std::vector<ServiceState>{ServiceState::StartPending, ServiceState::Running, ServiceState::Stopped}));
}

TEST_F(ServiceHostTest, PauseContinueInterrogateAndUnknownCodesDoNotStop) {
    auto entry = RunEntry("");
    ASSERT_TRUE(testsupport::WaitFor([&] { return ProxyAccepts(); }, 5000));
    for (unsigned code : {2u, 3u, 4u, 77u}) platform::PostServiceControl(code);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_TRUE(ProxyAccepts());
    EXPECT_EQ(entry.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);
    platform::PostServiceControl(platform::kServiceControlStop);
    ASSERT_EQ(entry.wait_for(std::chrono::seconds(5)), std::future_status::ready);
}

// A port that cannot be had ends the start before the service reports
// running, and the entry says so in its result; so does the web server's.
TEST_F(ServiceHostTest, TakenPortEndsTheStartWithoutRunning) {
    for (bool webPort : {false, true}) {
        SCOPED_TRACE(webPort ? "web port" : "proxy port");
        uint16_t taken = proxyPort_;
        if (webPort) {
            taken = testsupport::FreeLoopbackPort();
            std::ofstream(fs::path(platform::ProgramFolder()) / "Data" / "config.ini")
                << "[Proxy]\nproxyPort=" << proxyPort_ << "\nwebPort=" << taken << "\nadBlock=0\n";
        }
        platform::ClearReportedServiceStates();
        platform::Socket blocker = platform::CreateTcpSocket().rc;
        ASSERT_EQ(platform::BindIPv4(blocker, "127.0.0.1", taken).rc, 0);
        ASSERT_EQ(platform::ListenOn(blocker, 1).rc, 0);

        auto entry = RunEntry("");
        ASSERT_EQ(entry.wait_for(std::chrono::seconds(5)), std::future_status::ready) << "the service did not end";
        EXPECT_EQ(entry.get(), 1);
        platform::CloseSocket(blocker);
        EXPECT_EQ(platform::ReportedServiceStates(),
                  (std::vector<ServiceState>{ServiceState::StartPending, ServiceState::Stopped}));
        EXPECT_FALSE(ProxyAccepts()) << "the proxy kept serving";
    }
}

TEST_F(ServiceHostTest, StopBeforeTheServersExistIsHonouredWhenTheyDo) {
    StopServers();  // nothing published yet: remembered
    auto entry = RunEntry("");
    ASSERT_EQ(entry.wait_for(std::chrono::seconds(5)), std::future_status::ready) << "an early stop was lost";
    EXPECT_FALSE(ProxyAccepts());
    EXPECT_EQ(platform::ReportedServiceStates().back(), ServiceState::Stopped);
}

TEST_F(ServiceHostTest, SwitchesInstallAndUninstallInAnyLetterCase) {
    std::string unit = *unitDir_ / "Proxy.service";
    EXPECT_EQ(ProxyEntry("-INSTALL"), 0);
    ASSERT_TRUE(fs::exists(unit));
    std::ifstream in(unit);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    EXPECT_NE(text.find("ExecStart=" + platform::ProgramPath() + "\n"), std::string::npos) << text;
    EXPECT_NE(text.find("WorkingDirectory=" + platform::ProgramFolder() + "\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Description=Local proxy service.\n"), std::string::npos) << text;
    EXPECT_TRUE(fs::is_symlink(*unitDir_ / "multi-user.target.wants/Proxy.service"));

    EXPECT_EQ(ProxyEntry("-UnInstall"), 0);
    EXPECT_FALSE(fs::exists(unit));
    EXPECT_FALSE(fs::exists(fs::symlink_status(*unitDir_ / "multi-user.target.wants/Proxy.service")));
}

TEST_F(ServiceHostTest, InstallingAnExistingServiceLeavesItUntouched) {
    unitDir_->Write("Proxy.service", "[Service]\nExecStart=/somewhere/else\n");
    EXPECT_EQ(InstallService(), 1);
    EXPECT_EQ(unitDir_->Read("Proxy.service"), "[Service]\nExecStart=/somewhere/else\n");
}

TEST_F(ServiceHostTest, UninstallingAMissingServiceSucceedsSilently) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(UninstallService(), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(ServiceHostTest, InstallWithoutAServiceManagerShowsTheMessage) {
    ::setenv("PROXY_UNIT_DIR", (*unitDir_ / "missing").c_str(), 1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(InstallService(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Proxy: Couldn't open service manager\n");
}

TEST_F(ServiceHostTest, ACommandLineWithMoreThanTheSwitchRunsTheService) {
    for (const char* line : {"-install now", "/install"}) {
        platform::ClearReportedServiceStates();
        auto entry = RunEntry(line);
        ASSERT_TRUE(testsupport::WaitFor([&] { return ProxyAccepts(); }, 5000)) << line;
        platform::PostServiceControl(platform::kServiceControlStop);
        ASSERT_EQ(entry.wait_for(std::chrono::seconds(5)), std::future_status::ready);
        EXPECT_FALSE(unitDir_->Exists("Proxy.service")) << line;
    }
}
