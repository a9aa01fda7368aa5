// Service control manager stand-in: a systemd unit for install/uninstall, and
// a dispatcher that runs the service in this process and turns signals into
// controls.
#include "platform/Service.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>
#include <utility>

extern char** environ;

namespace platform {

namespace {

std::string UnitFolder() {
    const char* dir = std::getenv("PROXY_UNIT_DIR");
    return dir && *dir ? std::string(dir) : std::string("/etc/systemd/system");
}

std::string UnitPath(const std::string& name) { return UnitFolder() + "/" + name + ".service"; }
std::string EnableLinkPath(const std::string& name) {
    return UnitFolder() + "/multi-user.target.wants/" + name + ".service";
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

bool CommandOnPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    if (!path) return false;
    std::stringstream dirs(path);
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        if (!dir.empty() && ::access((dir + "/" + name).c_str(), X_OK) == 0) return true;
    }
    return false;
}

// Runs a program with arguments (no shell) and waits for it.
int RunAndWait(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    // Its output is of no use to our caller, whose result is ignored anyway.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid;
    int rc = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return -1;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string QuoteForUnit(const std::string& path) {
    if (path.find_first_of(" \t\"\\") == std::string::npos) return path;
    std::string out = "\"";
    for (char c : path) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

class UnitHandle : public ServiceHandle {
public:
    explicit UnitHandle(std::string name) : name_(std::move(name)) {}

    bool SetDescription(const std::string& text) override {
        std::ifstream in(UnitPath(name_));
        if (!in) return false;
        std::stringstream out;
        std::string line;
        while (std::getline(in, line)) {
            if (line.rfind("Description=", 0) == 0) line = "Description=" + text;
            out << line << "\n";
        }
        in.close();
        return WriteUnit(name_, out.str());
    }

    bool ControlStop() override {
        if (CommandOnPath("systemctl")) RunAndWait({"systemctl", "stop", name_});
        return true;
    }

    bool Delete() override {
        ::unlink(EnableLinkPath(name_).c_str());
        return ::unlink(UnitPath(name_).c_str()) == 0;
    }

    static bool WriteUnit(const std::string& name, const std::string& text) {
        std::string path = UnitPath(name);
        std::string tmp = path + ".tmp";
        {
            std::ofstream out(tmp, std::ios::trunc);
            if (!out) return false;
            out << text;
            if (!out.flush()) return false;
        }
        return ::rename(tmp.c_str(), path.c_str()) == 0;
    }

private:
    std::string name_;
};

class UnitManager : public ServiceManager {
public:
    std::unique_ptr<ServiceHandle> OpenService(const std::string& name, ServiceAccess) override {
        if (!FileExists(UnitPath(name))) return nullptr;
        return std::make_unique<UnitHandle>(name);
    }

    std::unique_ptr<ServiceHandle> CreateService(const std::string& name, const std::string& displayName,
                                                 const std::string& binaryPath) override {
        if (FileExists(UnitPath(name))) return nullptr;  // the manager refuses a duplicate
        std::string folder = binaryPath.substr(0, binaryPath.rfind('/'));
        std::ostringstream unit;
        unit << "[Unit]\nDescription=" << displayName << "\n\n"
             << "[Service]\nType=simple\nExecStart=" << QuoteForUnit(binaryPath) << "\n"
             << "WorkingDirectory=" << QuoteForUnit(folder.empty() ? "/" : folder) << "\n\n"
             << "[Install]\nWantedBy=multi-user.target\n";
        if (!UnitHandle::WriteUnit(name, unit.str())) return nullptr;
        // Enabled for the next system start, not started now.
        std::string wants = UnitFolder() + "/multi-user.target.wants";
        ::mkdir(wants.c_str(), 0755);
        ::unlink(EnableLinkPath(name).c_str());
        if (::symlink(UnitPath(name).c_str(), EnableLinkPath(name).c_str()) != 0) {
            ::unlink(UnitPath(name).c_str());
            return nullptr;
        }
        return std::make_unique<UnitHandle>(name);
    }
};

// Dispatcher state: one service per process.
struct DispatcherState {
    std::mutex lock;
    ServiceControlHandler handler;
    std::deque<unsigned> posted;
    std::deque<ServiceState> reported;
};

DispatcherState& State() {
    static DispatcherState state;
    return state;
}

// Hands queued controls to the handler; a control that comes before the
// service has registered its handler waits in the queue for it.
void DeliverQueued() {
    for (;;) {
        ServiceControlHandler handler;
        unsigned code;
        {
            std::lock_guard<std::mutex> g(State().lock);
            if (!State().handler || State().posted.empty()) return;
            handler = State().handler;
            code = State().posted.front();
            State().posted.pop_front();
        }
        handler(code);
    }
}

}  // namespace

std::unique_ptr<ServiceManager> OpenServiceManager() {
    std::string dir = UnitFolder();
    if (::access(dir.c_str(), W_OK) != 0) return nullptr;
    return std::make_unique<UnitManager>();
}

bool StartServiceDispatcher(const std::string&, ServiceMainFunction serviceMain) {
    // Stop signals are taken by this thread only: block them here before the
    // service thread starts, so every thread created later inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGPWR);
    sigset_t previous;
    if (::pthread_sigmask(SIG_BLOCK, &stopSignals, &previous) != 0) return false;
    ::signal(SIGPIPE, SIG_IGN);

    std::atomic<bool> done{false};
    std::thread service([&] {
        serviceMain();
        done = true;
    });
    const timespec pollInterval{0, 20 * 1000 * 1000};
    while (!done) {
        int sig = ::sigtimedwait(&stopSignals, nullptr, &pollInterval);
        if (sig == SIGTERM || sig == SIGINT) PostServiceControl(kServiceControlStop);
        if (sig == SIGPWR) PostServiceControl(kServiceControlShutdown);
        DeliverQueued();
    }
    service.join();
    {
        std::lock_guard<std::mutex> g(State().lock);
        State().handler = nullptr;
        State().posted.clear();
    }
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return true;
}

// The dispatcher already runs the service in the foreground.
bool RunServiceInForeground(const std::string& serviceName, ServiceMainFunction serviceMain) {
    return StartServiceDispatcher(serviceName, std::move(serviceMain));
}

bool RegisterServiceControlHandler(const std::string&, ServiceControlHandler handler) {
    std::lock_guard<std::mutex> g(State().lock);
    State().handler = std::move(handler);
    return true;
}

bool ReportServiceStatus(const ServiceStatus& status) {
    {
        std::lock_guard<std::mutex> g(State().lock);
        State().reported.push_back(status.currentState);
        if (State().reported.size() > 512) State().reported.pop_front();
    }
    ::syslog(LOG_DAEMON | LOG_DEBUG, "service state %u", static_cast<unsigned>(status.currentState));
    return true;
}

std::vector<ServiceState> ReportedServiceStates() {
    std::lock_guard<std::mutex> g(State().lock);
    return {State().reported.begin(), State().reported.end()};
}

void ClearReportedServiceStates() {
    std::lock_guard<std::mutex> g(State().lock);
    State().reported.clear();
}

void PostServiceControl(unsigned controlCode) {
    std::lock_guard<std::mutex> g(State().lock);
    State().posted.push_back(controlCode);
}

}  // namespace platform
