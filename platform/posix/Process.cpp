#include "platform/Process.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <sstream>
#include <utility>

#include "PollRetrying.h"
#include "ProcessHandle.h"

extern char** environ;

namespace platform {

namespace {

bool IsExecutableFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// A pidfd is close-on-exec from the start: started programs never get it.
int OpenPidfd(pid_t pid) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); }

}  // namespace

Process::Handle::~Handle() {
    if (pidfd >= 0) ::close(pidfd);
    // A child that has already ended is reaped on the way out; one still
    // running is left as it is (the system reaps it when this process ends).
    if (child && !ended) {
        int status = 0;
        ::waitpid(pid, &status, WNOHANG);
    }
}

ProcessWaitResult Process::Handle::Finish() {
    if (child) {
        int status = 0;
        pid_t r;
        do {
            r = ::waitpid(pid, &status, 0);
        } while (r < 0 && errno == EINTR);
        // ECHILD: reaped elsewhere; it has ended all the same, code unknown.
        if (r == pid && WIFEXITED(status)) exitCode = WEXITSTATUS(status);
    }
    ended = true;
    return ProcessWaitResult::Ended;
}

Process::Process() noexcept = default;
Process::Process(std::unique_ptr<Handle> handle) noexcept : handle_(std::move(handle)) {}
Process::~Process() = default;
Process::Process(Process&& other) noexcept = default;
Process& Process::operator=(Process&& other) noexcept = default;

Process Process::Open(ProcessId id) {
    if (id == kNoProcess || id > 0x7fffffffu) return {};
    auto handle = std::make_unique<Handle>();
    handle->pid = static_cast<pid_t>(id);
    handle->pidfd = OpenPidfd(handle->pid);
    if (handle->pidfd < 0) return {};
    return Process(std::move(handle));
}

ProcessId Process::Id() const { return handle_ ? static_cast<ProcessId>(handle_->pid) : kNoProcess; }

std::optional<int> Process::ExitCode() const { return handle_ ? handle_->exitCode : std::nullopt; }

ProcessWaitResult Process::Wait(int timeoutMs) {
    if (!handle_) return ProcessWaitResult::Failed;
    if (handle_->ended) return ProcessWaitResult::Ended;
    if (handle_->pidfd < 0) {
        // Without a pidfd only waitpid is left, and it has no time limit.
        if (!handle_->child || timeoutMs >= 0) return ProcessWaitResult::Failed;
        return handle_->Finish();
    }
    pollfd p{handle_->pidfd, POLLIN, 0};
    int r = posix::PollRetrying(&p, 1, timeoutMs);
    if (r < 0) return ProcessWaitResult::Failed;
    if (r == 0) return ProcessWaitResult::TimedOut;
    return handle_->Finish();
}

std::string FindProgram(const std::string& name) {
    if (name.empty()) return {};
    if (name.find('/') != std::string::npos) return name;
    if (IsExecutableFile("./" + name)) return "./" + name;
    const char* path = std::getenv("PATH");
    if (!path) return {};
    std::stringstream dirs(path);
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        if (dir.empty()) continue;
        std::string candidate = dir + "/" + name;
        if (IsExecutableFile(candidate)) return candidate;
    }
    return {};
}

Process StartProgram(const std::string& program, const std::vector<std::string>& arguments, ShowWindow show,
                     const std::string& workingFolder) {
    (void)show;  // no windows to show or hide
    std::string path = FindProgram(program);
    if (path.empty()) return {};
    // The child changes folder before it runs the program: a path found
    // relative to our folder must not be looked up again in its folder.
    if (!workingFolder.empty() && path.front() != '/') {
        char here[4096];
        if (!::getcwd(here, sizeof here)) return {};
        path = std::string(here) + "/" + path;
    }
    std::vector<std::string> args{program};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!workingFolder.empty()) posix_spawn_file_actions_addchdir_np(&actions, workingFolder.c_str());
    // The child starts with default signal handling and an empty mask, whatever
    // this process blocks or ignores.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = 0;
    int rc = ::posix_spawn(&pid, path.c_str(), &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) return {};
    auto handle = std::make_unique<Process::Handle>();
    handle->pid = pid;
    handle->child = true;
    // Our unreaped child cannot be replaced by another process with its id,
    // so opening the pidfd after the spawn is safe.
    handle->pidfd = OpenPidfd(pid);
    return Process(std::move(handle));
}

bool TakeOwnConsole() { return true; }

Process StartConsoleProgram(const std::string& program, const std::vector<std::string>& arguments,
                            const std::string& workingFolder) {
    return StartProgram(program, arguments, ShowWindow::Hidden, workingFolder);
}

bool SendInterrupt(const Process& process) {
    return process && process.Id() != kNoProcess && ::kill(static_cast<pid_t>(process.Id()), SIGINT) == 0;
}

}  // namespace platform
