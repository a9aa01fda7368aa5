#include "TrustTools.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

extern char** environ;

namespace platform::trust {

namespace {

// update-ca-certificates rehashes every certificate of the system, which
// takes a few seconds; a tool that needs more than this is killed.
constexpr int kToolTimeoutMs = 120000;
// What is kept of a tool's output for the failure message.
constexpr size_t kOutputKept = 4096;

// The last non-empty line of a tool's output, for a message.
std::string LastLine(const std::string& output) {
    size_t end = output.find_last_not_of("\r\n \t");
    if (end == std::string::npos) return {};
    size_t begin = output.rfind('\n', end);
    begin = begin == std::string::npos ? 0 : begin + 1;
    return output.substr(begin, end - begin + 1);
}

}  // namespace

std::string ErrorText(int error) { return std::strerror(error); }

ToolRun RunTool(const std::vector<std::string>& argv) {
    ToolRun run;
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        run.startError = errno;
        return run;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    std::vector<char*> args;
    std::vector<std::string> copy = argv;
    for (auto& a : copy) args.push_back(a.data());
    args.push_back(nullptr);
    pid_t pid = -1;
    int rc = ::posix_spawnp(&pid, copy[0].c_str(), &actions, &attr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    ::close(pipeFds[1]);
    if (rc != 0) {
        ::close(pipeFds[0]);
        run.startError = rc;
        return run;
    }
    // The tool's end is seen through a pidfd, so a tool that hands its output
    // to a process that lives on cannot hold us past the deadline either.
    const int pidFd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kToolTimeoutMs);
    bool pipeOpen = true, ended = pidFd < 0;  // without a pidfd: read to the end of the output, then wait
    char buffer[1024];
    while (pipeOpen || !ended) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            run.timedOut = true;
            break;
        }
        pollfd p[2];
        nfds_t n = 0;
        if (pipeOpen) p[n++] = {pipeFds[0], POLLIN, 0};
        if (!ended) p[n++] = {pidFd, POLLIN, 0};
        // Once the tool has ended, only what is already in the pipe is read.
        int ready = ::poll(p, n, ended ? 0 : static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) break;
        if (ready == 0) {
            if (ended) break;
            continue;
        }
        for (nfds_t i = 0; i < n; ++i) {
            if (!p[i].revents) continue;
            if (p[i].fd == pidFd) {
                ended = true;
                continue;
            }
            ssize_t got = ::read(pipeFds[0], buffer, sizeof buffer);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) {
                pipeOpen = false;
                continue;
            }
            run.output.append(buffer, static_cast<size_t>(got));
            if (run.output.size() > kOutputKept) run.output.erase(0, run.output.size() - kOutputKept);
        }
    }
    ::close(pipeFds[0]);
    if (pidFd >= 0) ::close(pidFd);
    if (run.timedOut) ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!run.timedOut && WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
    return run;
}

std::string ToolFailure(const std::string& tool, const ToolRun& run, const char* package) {
    if (run.startError == ENOENT) return tool + " was not found (it comes with the package " + package + ")";
    if (run.startError != 0) return tool + " could not be started: " + ErrorText(run.startError);
    if (run.timedOut) return tool + " did not finish in time";
    if (run.exitCode == 0) return {};
    std::string last = LastLine(run.output);
    return tool + " failed" + (last.empty() ? std::string() : ": " + last);
}

bool WriteWholeFile(const std::string& path, const std::string& bytes, std::string& failure) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        failure = path + ": " + ErrorText(errno);
        return false;
    }
    for (size_t done = 0; done < bytes.size();) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            failure = path + ": " + ErrorText(n < 0 ? errno : EIO);
            ::close(fd);
            ::unlink(path.c_str());
            return false;
        }
        done += static_cast<size_t>(n);
    }
    if (::close(fd) != 0) {
        failure = path + ": " + ErrorText(errno);
        ::unlink(path.c_str());
        return false;
    }
    return true;
}

}  // namespace platform::trust
