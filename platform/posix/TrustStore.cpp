#include "platform/TrustStore.h"

#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

extern char** environ;

// Linux keeps two stores: the system's bundle, built by update-ca-certificates
// from the certificates in /usr/local/share/ca-certificates (curl, OpenSSL
// programs, Firefox with its system-roots option), and the NSS database in the
// user's ~/.pki/nssdb that Chromium reads, changed with certutil.

namespace platform {

namespace {

namespace fs = std::filesystem;

constexpr const char* kSystemFolder = "/usr/local/share/ca-certificates";
constexpr const char* kSystemUpdate = "update-ca-certificates";
constexpr const char* kCertutil = "certutil";
// A tool that does not finish in this time is killed: update-ca-certificates
// rehashes every certificate of the system, which takes a few seconds.
constexpr int kToolTimeoutMs = 120000;
// What is kept of a tool's output for the failure message.
constexpr size_t kOutputKept = 4096;
// certutil lists one certificate per call; a few entries of one name at most.
constexpr int kMaxEntriesOfOneName = 16;

std::string ErrorText(int error) { return std::strerror(error); }

// The last non-empty line of a tool's output, for a message.
std::string LastLine(const std::string& output) {
    size_t end = output.find_last_not_of("\r\n \t");
    if (end == std::string::npos) return {};
    size_t begin = output.rfind('\n', end);
    begin = begin == std::string::npos ? 0 : begin + 1;
    return output.substr(begin, end - begin + 1);
}

struct ToolRun {
    int exitCode = -1;  // -1: not started, killed or ended by a signal
    int startError = 0;  // errno of the start, 0 when it started
    bool timedOut = false;
    std::string output;  // stdout and stderr, the last kOutputKept bytes
};

// Runs a program found on PATH with stdin from /dev/null and its output
// collected, within kToolTimeoutMs.
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

// Why a tool run failed, for a message; empty when it succeeded.
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

// --- the system's store ---

std::string SystemFolder(const TrustStoreSettings& s) { return s.systemFolder.empty() ? kSystemFolder : s.systemFolder; }
std::string SystemUpdate(const TrustStoreSettings& s) { return s.systemUpdate.empty() ? kSystemUpdate : s.systemUpdate; }
// update-ca-certificates takes only files named *.crt.
std::string SystemFile(const TrustStoreSettings& s, const std::string& name) { return SystemFolder(s) + "/" + name + ".crt"; }

bool AddSystemRoot(const TrustStoreSettings& s, const std::string& name, const std::string& pem, std::string& failure) {
    std::error_code ec;
    fs::create_directories(SystemFolder(s), ec);
    if (ec) {
        failure = SystemFolder(s) + ": " + ec.message();
        return false;
    }
    const std::string file = SystemFile(s, name);
    if (!WriteWholeFile(file, pem, failure)) return false;
    std::string why = ToolFailure(SystemUpdate(s), RunTool({SystemUpdate(s)}), "ca-certificates");
    if (why.empty()) return true;
    failure = why;
    ::unlink(file.c_str());
    RunTool({SystemUpdate(s), "--fresh"});  // the bundle as it was
    return false;
}

bool RemoveSystemRoot(const TrustStoreSettings& s, const std::string& name, std::string& failure) {
    const std::string file = SystemFile(s, name);
    if (::unlink(file.c_str()) != 0 && errno != ENOENT) {
        failure = file + ": " + ErrorText(errno);
        return false;
    }
    // Also when the file was already gone: an earlier removal whose update
    // failed left the certificate in the bundle. --fresh drops the links to
    // files that are gone.
    failure = ToolFailure(SystemUpdate(s), RunTool({SystemUpdate(s), "--fresh"}), "ca-certificates");
    return failure.empty();
}

// --- the user's NSS database ---

// The home of the user whose browser is meant: under sudo the user who ran
// sudo, not root.
std::string UserHome() {
    const char* sudoUser = std::getenv("SUDO_USER");
    if (::geteuid() == 0 && sudoUser && *sudoUser && std::strcmp(sudoUser, "root") != 0) {
        if (const passwd* pw = ::getpwnam(sudoUser)) return pw->pw_dir;
    }
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* pw = ::getpwuid(::geteuid())) return pw->pw_dir;
    return {};
}

std::string BrowserDatabase(const TrustStoreSettings& s) {
    if (!s.browserDatabase.empty()) return s.browserDatabase;
    std::string home = UserHome();
    return home.empty() ? std::string() : home + "/.pki/nssdb";
}

std::string Certutil(const TrustStoreSettings& s) { return s.certutil.empty() ? kCertutil : s.certutil; }

// The folder whose owner the database belongs to: the user's home for the
// default place, else the folder that holds the database.
std::string DatabaseAnchor(const TrustStoreSettings& s, const std::string& database) {
    if (s.browserDatabase.empty()) return UserHome();
    return std::filesystem::path(database).parent_path().string();
}

// Run as root for another user's database (sudo), the files certutil makes
// would belong to root and the user's browser could not open them: the
// database and the folders made for it are handed to the anchor's owner.
void KeepOwner(const std::string& database, const std::string& anchor) {
    if (::geteuid() != 0 || anchor.empty()) return;
    struct stat owner {};
    if (::stat(anchor.c_str(), &owner) != 0 || owner.st_uid == 0) return;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(database, ec))
        (void)::lchown(entry.path().c_str(), owner.st_uid, owner.st_gid);
    // The folders from the anchor down to the database, never above it.
    const fs::path top = fs::path(anchor + "/").lexically_normal();
    const fs::path inside = fs::path(database).lexically_normal().lexically_relative(top);
    if (inside.empty() || *inside.begin() == ".." || *inside.begin() == ".") return;
    fs::path p = top;
    for (const auto& part : inside) {
        p /= part;
        (void)::lchown(p.c_str(), owner.st_uid, owner.st_gid);
    }
}

std::vector<std::string> CertutilArgs(const TrustStoreSettings& s, const std::string& database,
                                      std::initializer_list<std::string> rest) {
    // -f /dev/null: an empty password; a database with a password then fails
    // instead of waiting for one on the terminal.
    std::vector<std::string> args{Certutil(s), "-d", "sql:" + database, "-f", "/dev/null"};
    args.insert(args.end(), rest);
    return args;
}

bool DatabaseExists(const std::string& database) { return ::access((database + "/cert9.db").c_str(), F_OK) == 0; }

// Deletes every entry of the name; false with the reason when one stays.
bool DeleteNss(const TrustStoreSettings& s, const std::string& database, const std::string& name,
               std::string& failure) {
    for (int i = 0; i < kMaxEntriesOfOneName; ++i) {
        ToolRun listed = RunTool(CertutilArgs(s, database, {"-L", "-n", name}));
        if (listed.startError != 0 || listed.timedOut) {
            failure = ToolFailure(Certutil(s), listed, "libnss3-tools");
            return false;
        }
        if (listed.exitCode != 0) return true;  // no entry of that name (left)
        ToolRun deleted = RunTool(CertutilArgs(s, database, {"-D", "-n", name}));
        if (deleted.exitCode != 0) {
            failure = ToolFailure(Certutil(s), deleted, "libnss3-tools");
            return false;
        }
    }
    failure = "more than " + std::to_string(kMaxEntriesOfOneName) + " certificates named " + name + " in " + database;
    return false;
}

bool AddBrowserRoot(const TrustStoreSettings& s, const std::string& name, const std::string& pem,
                    std::string& failure) {
    const std::string database = BrowserDatabase(s);
    if (database.empty()) {
        failure = "the user's home folder is not known";
        return false;
    }
    if (!DatabaseExists(database)) {
        // What Chromium would make at its first start: an empty database
        // without a password.
        std::error_code ec;
        fs::create_directories(database, ec);
        if (ec) {
            failure = database + ": " + ec.message();
            return false;
        }
        ::chmod(database.c_str(), 0700);
        std::string why = ToolFailure(Certutil(s), RunTool({Certutil(s), "-N", "-d", "sql:" + database, "--empty-password"}),
                                      "libnss3-tools");
        if (!why.empty()) {
            failure = why;
            return false;
        }
    }
    bool ok = DeleteNss(s, database, name, failure);
    if (ok) {
        const std::string file = database + "/" + name + ".import.pem";
        ok = WriteWholeFile(file, pem, failure);
        if (ok) {
            // "C,,": trusted to issue server certificates.
            std::string why = ToolFailure(Certutil(s), RunTool(CertutilArgs(s, database, {"-A", "-n", name, "-t", "C,,", "-a", "-i", file})),
                                          "libnss3-tools");
            ::unlink(file.c_str());
            if (!why.empty()) {
                failure = why;
                std::string ignored;
                DeleteNss(s, database, name, ignored);  // certutil may add the certificate before it fails on its trust
                ok = false;
            }
        }
    }
    KeepOwner(database, DatabaseAnchor(s, database));
    return ok;
}

bool RemoveBrowserRoot(const TrustStoreSettings& s, const std::string& name, std::string& failure) {
    const std::string database = BrowserDatabase(s);
    if (database.empty() || !DatabaseExists(database)) return true;
    bool ok = DeleteNss(s, database, name, failure);
    KeepOwner(database, DatabaseAnchor(s, database));
    return ok;
}

bool ValidName(const std::string& name) {
    if (name.empty() || name.size() > 64) return false;
    for (char c : name)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-')) return false;
    return true;
}

std::string Environment(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

}  // namespace

TrustStoreSettings TrustStoreSettingsFromEnvironment() {
    TrustStoreSettings s;
    s.systemFolder = Environment("MORVANE_TRUST_DIR");
    s.systemUpdate = Environment("MORVANE_TRUST_UPDATE");
    s.browserDatabase = Environment("MORVANE_NSSDB");
    return s;
}

std::string DescribeTrustStore(TrustStore store, const TrustStoreSettings& settings) {
    switch (store) {
        case TrustStore::System: return "the system's certificate store (" + SystemFolder(settings) + ")";
        case TrustStore::UserBrowser: return "Chromium's certificate database (" + BrowserDatabase(settings) + ")";
    }
    return {};
}

bool AddTrustedRoot(TrustStore store, const TrustStoreSettings& settings, const std::string& name,
                    const std::string& certificatePem, std::string& failure) {
    failure.clear();
    if (!ValidName(name)) {
        failure = "bad certificate name";
        return false;
    }
    switch (store) {
        case TrustStore::System: return AddSystemRoot(settings, name, certificatePem, failure);
        case TrustStore::UserBrowser: return AddBrowserRoot(settings, name, certificatePem, failure);
    }
    return false;
}

bool RemoveTrustedRoot(TrustStore store, const TrustStoreSettings& settings, const std::string& name,
                       const std::string&, std::string& failure) {
    failure.clear();
    if (!ValidName(name)) {
        failure = "bad certificate name";
        return false;
    }
    switch (store) {
        case TrustStore::System: return RemoveSystemRoot(settings, name, failure);
        case TrustStore::UserBrowser: return RemoveBrowserRoot(settings, name, failure);
    }
    return false;
}

}  // namespace platform
