#include "ProxyProcess.h"

#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "Browser.h"
#include "support/LoopbackClient.h"

extern char** environ;

namespace fs = std::filesystem;

namespace e2e {

int ScaledCount(const char* variable, int plain, int sanitized) {
    if (const char* value = std::getenv(variable)) {
        int n = std::atoi(value);
        if (n > 0) return n;
    }
    return kSanitizedBuild ? sanitized : plain;
}

long RaiseOpenFileLimit(long wanted) {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return -1;
    rlim_t target = static_cast<rlim_t>(wanted);
    if (limit.rlim_max != RLIM_INFINITY && target > limit.rlim_max) target = limit.rlim_max;
    if (limit.rlim_cur < target) {
        limit.rlim_cur = target;
        ::setrlimit(RLIMIT_NOFILE, &limit);
        ::getrlimit(RLIMIT_NOFILE, &limit);
    }
    return static_cast<long>(limit.rlim_cur);
}

ProxyProcess::ProxyProcess() {
    fs::copy_file(PROXY_PROGRAM, folder_ / "Proxy");
    fs::permissions(folder_ / "Proxy", fs::perms::owner_all);
    fs::copy(fs::path(MORVANE_DATA_DIR) / "Data", folder_ / "Data", fs::copy_options::recursive);
    fs::copy(fs::path(MORVANE_DATA_DIR) / "www", folder_ / "www", fs::copy_options::recursive);
    folder_.Write("Data/Inject.zelk", "");
    folder_.Write("Data/easylistchina.txt", "[Adblock Plus 2.0]\n/adbanner/\n");
    port_ = testsupport::FreeLoopbackPort();
    do webPort_ = testsupport::FreeLoopbackPort();
    while (webPort_ == port_);
    WriteConfig();
}

ProxyProcess::~ProxyProcess() {
    if (pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
}

void ProxyProcess::WriteConfig(const std::map<std::string, std::string>& overrides) {
    std::map<std::string, std::string> keys = {
        {"showControl", "0"},       {"wordFilter", "1"},         {"imageMode", "0"},
        {"whiteListOnly", "0"},     {"wordListMode", "1"},       {"adBlock", "1"},
        {"blockUnlistedHttp", "0"}, {"blockUnlistedHttps", "0"}, {"intelligentMode", "0"},
        {"jieseTips", "0"},         {"xiuShenTips", "0"},        {"intelligentTipPage", "1"},
        {"whiteListLock", "0"},     {"blockVideo", "0"},         {"addressFilterPage", "1"},
        {"intelligentValue", "30"}, {"listenAddress", "127.0.0.1"},
    };
    keys["proxyPort"] = std::to_string(port_);
    keys["webPort"] = std::to_string(webPort_);
    for (const auto& [k, v] : overrides) keys[k] = v;
    std::string text = "[Proxy]\n";
    for (const auto& [k, v] : keys) text += k + "=" + v + "\n";
    folder_.Write("Data/config.ini.next", text);
    fs::rename(folder_ / "Data/config.ini.next", folder_ / "Data/config.ini");
}

bool ProxyProcess::Start(int timeoutMs) {
    std::string program = folder_ / "Proxy";
    char* argv[] = {const_cast<char*>("Proxy"), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, "/");  // the program must find its folder itself
    int rc = ::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        pid_ = -1;
        return false;
    }
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
        testsupport::LoopbackClient probe;
        if (probe.Connect(port_)) return true;
        if (!Running()) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

bool ProxyProcess::Running() { return pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == 0; }

int ProxyProcess::Stop(int timeoutMs, double* seconds) {
    if (pid_ <= 0) return -2;
    auto start = std::chrono::steady_clock::now();
    ::kill(pid_, SIGTERM);
    auto end = start + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    int code = -2;
    while (std::chrono::steady_clock::now() < end) {
        pid_t r = ::waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            pid_ = -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (seconds) *seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return code;
}

long ProxyProcess::StatusField(const char* name) const {
    if (pid_ <= 0) return -1;
    std::ifstream in("/proc/" + std::to_string(pid_) + "/status");
    std::string line;
    size_t len = std::strlen(name);
    while (std::getline(in, line))
        if (line.compare(0, len, name) == 0 && line.size() > len && line[len] == ':')
            return std::strtol(line.c_str() + len + 1, nullptr, 10);
    return -1;
}

long ProxyProcess::ResidentKb() const { return StatusField("VmRSS"); }
long ProxyProcess::Threads() const { return StatusField("Threads"); }

long ProxyProcess::ServingThreads() const {
    if (pid_ <= 0) return -1;
    std::error_code ec;
    long count = 0;
    const fs::path tasks = "/proc/" + std::to_string(pid_) + "/task";
    for (fs::directory_iterator it(tasks, ec), end; !ec && it != end; it.increment(ec)) {
        std::ifstream in(it->path() / "wchan");
        std::string where;
        std::getline(in, where);
        if (where.compare(0, 5, "futex") != 0) ++count;  // a thread that ended meanwhile counts too
    }
    return ec ? -1 : count;
}

long ProxyProcess::OpenFiles() const {
    if (pid_ <= 0) return -1;
    std::error_code ec;
    long count = 0;
    for (fs::directory_iterator it("/proc/" + std::to_string(pid_) + "/fd", ec), end; !ec && it != end; it.increment(ec))
        ++count;
    return ec ? -1 : count;
}

bool ProxyProcess::SendReload(int timeoutMs) const {
    Connection c;
    if (!c.Open(port_)) return false;
    if (!c.Send("ZELK_UPDATE")) return false;
    return c.ReadAll(timeoutMs).closed;
}

}  // namespace e2e
