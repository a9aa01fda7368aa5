// The program as a Windows service, end to end through the service control
// manager: installed with its switch, started and stopped by the manager,
// serving in between from its own folder, and removed with its switch while
// it runs. The manager's own tools (net, sc, reg) start it and show what it
// holds. There is one service "Proxy" per machine (per Wine prefix), so the
// test refuses to run beside an installed one.
#include <gtest/gtest.h>

#include <platform/Service.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/LoopbackClient.h"
#include "support/TempFolder.h"

namespace fs = std::filesystem;
using testsupport::LoopbackClient;
using testsupport::WaitFor;

namespace {

constexpr char kService[] = "Proxy";

// A command line for cmd.exe; the outer quotes keep the inner ones.
int RunCommand(const std::string& command) { return std::system(("\"" + command + "\"").c_str()); }

std::string Quoted(const fs::path& path) { return "\"" + path.string() + "\""; }

// What a command of the manager's tools prints.
std::string Output(const std::string& command, const fs::path& scratch) {
    RunCommand(command + " > " + Quoted(scratch));
    std::ifstream in(scratch, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool Installed() {
    auto manager = platform::OpenServiceManager();
    return manager && manager->OpenService(kService, platform::ServiceAccess::QueryConfig) != nullptr;
}

bool Accepts(uint16_t port) {
    LoopbackClient probe;
    return probe.Connect(port);
}

// Stops and removes the service if the test leaves early.
struct ServiceGuard {
    ~ServiceGuard() {
        auto manager = platform::OpenServiceManager();
        if (!manager) return;
        if (auto service = manager->OpenService(kService, platform::ServiceAccess::StopAndDelete)) {
            service->ControlStop();
            service->Delete();
        }
    }
};

}  // namespace

TEST(ServiceControlManagerTest, InstalledServiceRunsFromItsFolderUntilStoppedAndIsRemovedWhileRunning) {
    auto manager = platform::OpenServiceManager();
    ASSERT_TRUE(manager) << "no service control manager";
    ASSERT_FALSE(Installed()) << "a service named Proxy is installed already";

    // A program folder whose name holds a blank, as under "Program Files".
    testsupport::TempFolder top;
    const fs::path folder = fs::path(top.path()).make_preferred() / "Morvane Proxy";
    fs::create_directories(folder / "Data");
    fs::create_directories(folder / "www");
    // The build names the program by its path on the build machine, which
    // the emulator reaches on the current drive.
    fs::copy_file(fs::absolute(PROXY_PROGRAM), folder / "Proxy.exe");
    const uint16_t port = testsupport::FreeLoopbackPort();
    const uint16_t webPort = testsupport::FreeLoopbackPort();
    std::ofstream(folder / "Data" / "config.ini") << "[Proxy]\nproxyPort=" << port << "\nwebPort=" << webPort
                                                  << "\nadBlock=0\n";
    std::ofstream(folder / "www" / "hello.html") << "<p>hello</p>";
    const fs::path scratch = fs::path(top.path()) / "out.txt";
    const std::string program = Quoted(folder / "Proxy.exe");

    ServiceGuard guard;
    EXPECT_EQ(RunCommand(program + " -install"), 0);
    ASSERT_TRUE(Installed());
    std::string stored = Output("reg query \"HKLM\\System\\CurrentControlSet\\Services\\Proxy\"", scratch);
    EXPECT_NE(stored.find("Local proxy service."), std::string::npos) << stored;
    EXPECT_NE(stored.find("\"" + (folder / "Proxy.exe").string() + "\""), std::string::npos)
        << "the binary path must be quoted: " << stored;
    EXPECT_FALSE(Accepts(port)) << "installing must not start the service";
    EXPECT_EQ(RunCommand(program + " -INSTALL"), 0) << "installing again succeeds";

    // Started by the manager: it serves, and reports running.
    ASSERT_EQ(RunCommand("net start Proxy > nul"), 0);
    ASSERT_TRUE(WaitFor([&] { return Accepts(port); }, 10000)) << "the service does not listen";
    EXPECT_NE(Output("sc query Proxy", scratch).find("RUNNING"), std::string::npos);
    LoopbackClient page;
    ASSERT_TRUE(WaitFor([&] { return page.Connect(webPort); }, 5000));
    page.SendAll("GET /hello.html HTTP/1.1\r\n\r\n");
    EXPECT_NE(page.ReadUntilClosed(3000).find("<p>hello</p>"), std::string::npos)
        << "the pages are not read from the program's folder";

    // A stop from the manager closes what is open and ends the service.
    LoopbackClient idle;
    ASSERT_TRUE(idle.Connect(port));
    EXPECT_EQ(RunCommand("sc stop Proxy > nul"), 0);
    EXPECT_TRUE(idle.WaitClosed(5000)) << "an idle browser was left open";
    EXPECT_TRUE(WaitFor([&] { return Output("sc query Proxy", scratch).find("STOPPED") != std::string::npos; }, 5000));
    EXPECT_FALSE(Accepts(port));
    EXPECT_TRUE(fs::exists(folder / "host.dat")) << "the host cache was not written beside the program";

    // Removed while it runs: it is stopped, and gone once it has ended.
    ASSERT_EQ(RunCommand("net start Proxy > nul"), 0);
    ASSERT_TRUE(WaitFor([&] { return Accepts(port); }, 10000));
    LoopbackClient other;
    ASSERT_TRUE(other.Connect(port));
    EXPECT_EQ(RunCommand(program + " -uninstall"), 0);
    EXPECT_TRUE(other.WaitClosed(5000));
    EXPECT_TRUE(WaitFor([] { return !Installed(); }, 5000)) << "the service was not removed";
    EXPECT_FALSE(Accepts(port));
    EXPECT_EQ(RunCommand(program + " -uninstall"), 0) << "removing a missing service succeeds";
}
