// The development switch -console: the installed program runs its servers in
// the foreground of a console, from its own folder whatever the working
// folder, until Ctrl-C; then it closes what is open, writes its host cache
// and ends with status 0.
#include <gtest/gtest.h>

#include <platform/Process.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "support/LoopbackClient.h"
#include "support/TempFolder.h"

namespace fs = std::filesystem;
using testsupport::LoopbackClient;
using testsupport::WaitFor;

namespace {

bool Accepts(uint16_t port) {
    LoopbackClient probe;
    return probe.Connect(port);
}

// Stops the program with Ctrl-C if a failed assertion leaves the test early.
struct InterruptGuard {
    platform::Process& program;
    ~InterruptGuard() {
        if (program && program.Wait(0) == platform::ProcessWaitResult::TimedOut) {
            platform::SendInterrupt(program);
            program.Wait(10000);
        }
    }
};

}  // namespace

TEST(ConsoleRunTest, ServesFromItsFolderUntilCtrlCThenClosesEverythingAndEnds) {
    ASSERT_TRUE(platform::TakeOwnConsole());
    testsupport::TempFolder top;
    const fs::path folder = fs::path(top.path()) / "Morvane Proxy";
    fs::create_directories(folder / "Data");
    fs::create_directories(folder / "www");
    const fs::path program = folder / fs::path(PROXY_PROGRAM).filename();
    fs::copy_file(fs::absolute(PROXY_PROGRAM), program);
    const uint16_t port = testsupport::FreeLoopbackPort();
    const uint16_t webPort = testsupport::FreeLoopbackPort();
    std::ofstream(folder / "Data" / "config.ini") << "[Proxy]\nproxyPort=" << port << "\nwebPort=" << webPort
                                                  << "\nadBlock=0\n";
    std::ofstream(folder / "www" / "hello.html") << "<p>hello</p>";

    // Started from another folder, with the switch in capitals.
    platform::Process proxy = platform::StartConsoleProgram(program.string(), {"-CONSOLE"}, top.path());
    ASSERT_TRUE(proxy) << "the program did not start";
    InterruptGuard guard{proxy};
    ASSERT_TRUE(WaitFor([&] { return Accepts(port); }, 15000)) << "the proxy does not listen";
    LoopbackClient page;
    ASSERT_TRUE(WaitFor([&] { return page.Connect(webPort); }, 5000)) << "the web server does not listen";
    page.SendAll("GET /hello.html HTTP/1.1\r\n\r\n");
    EXPECT_NE(page.ReadUntilClosed(5000).find("<p>hello</p>"), std::string::npos)
        << "the pages are not read from the program's folder";
    EXPECT_EQ(proxy.Wait(0), platform::ProcessWaitResult::TimedOut) << "the foreground run ended by itself";

    // An idle browser, then Ctrl-C.
    LoopbackClient idle;
    ASSERT_TRUE(idle.Connect(port));
    ASSERT_TRUE(platform::SendInterrupt(proxy));
    EXPECT_TRUE(idle.WaitClosed(5000)) << "an idle browser was left open";
    ASSERT_EQ(proxy.Wait(5000), platform::ProcessWaitResult::Ended) << "the program runs on after Ctrl-C";
    EXPECT_EQ(proxy.ExitCode(), 0);
    EXPECT_FALSE(Accepts(port));
    EXPECT_FALSE(Accepts(webPort));
    EXPECT_TRUE(fs::exists(folder / "host.dat")) << "the host cache was not written beside the program";
}
