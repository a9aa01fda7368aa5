// "Proxy -https-on" and "-https-off" as a user runs them: from another
// folder, with trust stores of the test's own named in the environment; the
// outcome as one line, the exit status, and the reload message to the
// running proxy.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include <platform/Socket.h>

#include "support/TempFolder.h"

namespace fs = std::filesystem;

namespace {

struct ProgramRun {
    int exitCode = -2;  // -2: did not end in time
    std::string output;
};

// Runs the copied program with one switch; its stderr goes to a file.
ProgramRun RunProxy(const testsupport::TempFolder& folder, const std::string& option,
             const std::vector<std::pair<std::string, std::string>>& environment) {
    const std::string out = folder / "out.txt";
    pid_t pid = ::fork();
    if (pid == 0) {
        for (const auto& [name, value] : environment) ::setenv(name.c_str(), value.c_str(), 1);
        FILE* f = std::freopen(out.c_str(), "w", stderr);
        (void)f;
        ::chdir("/");  // the program must find its folder itself
        ::execl((folder / "Proxy").c_str(), "Proxy", option.c_str(), nullptr);
        ::_exit(127);
    }
    ProgramRun run;
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    int status = 0;
    while (std::chrono::steady_clock::now() < end) {
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (run.exitCode == -2) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    run.output = folder.Exists("out.txt") ? folder.Read("out.txt") : "";
    return run;
}

// What a proxy listening on the configured port receives on its next
// connection, within the deadline.
std::string NextMessage(platform::Socket listener) {
    if (platform::WaitReadable(listener, 5000).rc != 1) return "(nothing)";
    platform::Socket s = platform::AcceptOn(listener).rc;
    std::string got;
    char buffer[64];
    while (platform::WaitReadable(s, 5000).rc == 1) {
        int n = platform::RecvSome(s, buffer, sizeof buffer).rc;
        if (n <= 0) break;
        got.append(buffer, static_cast<size_t>(n));
    }
    platform::CloseSocket(s);
    return got;
}

}  // namespace

TEST(HttpsCommand, SwitchesOnAndOffFromTheCommandLineAndTellsTheRunningProxy) {
    testsupport::TempFolder folder, stores;
    fs::copy_file(PROXY_PROGRAM, folder / "Proxy");
    fs::permissions(folder / "Proxy", fs::perms::owner_all);
    // The "running proxy": a listener on the configured port.
    platform::Socket listener = platform::CreateTcpSocket().rc;
    ASSERT_EQ(platform::BindIPv4(listener, "127.0.0.1", 0).rc, 0);
    ASSERT_EQ(platform::ListenOn(listener, 4).rc, 0);
    folder.Write("Data/config.ini", "[Proxy]\nproxyPort=" + std::to_string(platform::LocalPort(listener)) + "\n");
    const std::vector<std::pair<std::string, std::string>> environment{
        {"MORVANE_TRUST_DIR", stores / "local"}, {"MORVANE_TRUST_UPDATE", "true"}, {"MORVANE_NSSDB", stores / "nssdb"}};

    ProgramRun on = RunProxy(folder, "-https-on", environment);
    EXPECT_EQ(on.exitCode, 0) << on.output;
    EXPECT_EQ(on.output.rfind("Proxy: HTTPS filtering is on. The local CA \"Morvane local CA ", 0), 0u) << on.output;
    EXPECT_EQ(std::count(on.output.begin(), on.output.end(), '\n'), 1) << on.output;
    EXPECT_NE(folder.Read("Data/config.ini").find("httpsFilter=1"), std::string::npos);
    EXPECT_EQ(fs::status(folder / "Data/https_ca.key").permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(stores.Read("local/morvane-local-ca.crt"), folder.Read("Data/https_ca.crt"));
    EXPECT_EQ(std::system(("certutil -L -d 'sql:" + stores / "nssdb" + "' -n morvane-local-ca > /dev/null 2>&1").c_str()), 0);
    EXPECT_EQ(NextMessage(listener), "ZELK_UPDATE");

    ProgramRun off = RunProxy(folder, "-HTTPS-OFF", environment);  // any letter case
    EXPECT_EQ(off.exitCode, 0) << off.output;
    EXPECT_EQ(off.output, "Proxy: HTTPS filtering is off. The local CA and its key are deleted and no longer trusted.\n");
    EXPECT_NE(folder.Read("Data/config.ini").find("httpsFilter=0"), std::string::npos);
    EXPECT_FALSE(folder.Exists("Data/https_ca.key"));
    EXPECT_FALSE(folder.Exists("Data/https_ca.crt"));
    EXPECT_FALSE(stores.Exists("local/morvane-local-ca.crt"));
    EXPECT_NE(std::system(("certutil -L -d 'sql:" + stores / "nssdb" + "' -n morvane-local-ca > /dev/null 2>&1").c_str()), 0);
    EXPECT_EQ(NextMessage(listener), "ZELK_UPDATE");

    // A store that cannot be changed: status 1 and why, nothing switched on.
    ProgramRun refused = RunProxy(folder, "-https-on", {{"MORVANE_TRUST_DIR", stores / "local"}, {"MORVANE_TRUST_UPDATE", "false"},
                                                 {"MORVANE_NSSDB", stores / "nssdb"}});
    EXPECT_EQ(refused.exitCode, 1) << refused.output;
    EXPECT_EQ(refused.output.rfind("Proxy: HTTPS filtering stays off: the local CA could not be added to the system's "
                                   "certificate store (" + stores / "local" + ") (false failed).", 0),
              0u)
        << refused.output;
    EXPECT_NE(folder.Read("Data/config.ini").find("httpsFilter=0"), std::string::npos);
    EXPECT_FALSE(folder.Exists("Data/https_ca.key"));
    platform::CloseSocket(listener);
}
