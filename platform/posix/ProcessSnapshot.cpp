// Process snapshot stand-in: a walk over /proc.
#include "platform/ProcessSnapshot.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <vector>

namespace platform {

namespace {

// The kernel keeps at most this many characters of a program's name.
constexpr std::size_t kCommLength = 15;

std::string ReadSmallFile(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    std::string out;
    char buffer[4096];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) break;
        out.append(buffer, static_cast<std::size_t>(n));
        if (out.size() > 65536) break;  // a command line longer than this does not help
    }
    ::close(fd);
    return out;
}

std::string BaseName(std::string_view path) {
    auto slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

struct ProcessStat {
    std::string comm;  // the kernel's copy of the program name, at most 15 characters
    char state = '?';
};

// "/proc/<pid>/stat" is "pid (comm) S ..."; comm may itself hold ")" or blanks.
bool ReadStat(ProcessId pid, ProcessStat& out) {
    std::string stat = ReadSmallFile("/proc/" + std::to_string(pid) + "/stat");
    auto open = stat.find('(');
    auto close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open || close + 2 >= stat.size())
        return false;
    out.comm = stat.substr(open + 1, close - open - 1);
    out.state = stat[close + 2];
    return true;
}

bool HasEnded(const ProcessStat& stat) { return stat.state == 'Z' || stat.state == 'X' || stat.state == 'x'; }

// comm holds the name the program file was started under, cut to 15
// characters. A shorter comm is the whole name. A cut one is completed from
// the program file (a binary) or from the first command-line words (a script,
// which the kernel runs as "<interpreter> [arg] <script path> ...").
std::string FullName(ProcessId pid, const std::string& comm) {
    if (comm.size() < kCommLength) return comm;
    const std::string base = "/proc/" + std::to_string(pid);
    char link[4096];
    ssize_t n = ::readlink((base + "/exe").c_str(), link, sizeof link - 1);
    if (n > 0) {
        std::string_view target(link, static_cast<std::size_t>(n));
        constexpr std::string_view deleted = " (deleted)";
        if (target.ends_with(deleted)) target.remove_suffix(deleted.size());
        std::string name = BaseName(target);
        if (name.starts_with(comm)) return name;
    }
    std::string cmdline = ReadSmallFile(base + "/cmdline");
    std::size_t start = 0;
    for (int word = 0; word < 3 && start < cmdline.size(); ++word) {
        std::size_t end = cmdline.find('\0', start);
        if (end == std::string::npos) end = cmdline.size();
        std::string name = BaseName(std::string_view(cmdline).substr(start, end - start));
        if (name.starts_with(comm)) return name;
        start = end + 1;
    }
    return comm;
}

bool IsProcessId(const char* entry, ProcessId& pid) {
    if (!*entry) return false;
    long value = 0;
    for (const char* c = entry; *c; ++c) {
        if (*c < '0' || *c > '9') return false;
        value = value * 10 + (*c - '0');
        if (value > 0x7fffffff) return false;
    }
    pid = static_cast<ProcessId>(value);
    return pid > 0;
}

}  // namespace

std::string ExecutableName(ProcessId pid) {
    ProcessStat stat;
    if (pid <= 0 || !ReadStat(pid, stat) || HasEnded(stat)) return {};
    return FullName(pid, stat.comm);
}

ProcessId FindProcessByName(const std::string& name) {
    if (name.empty()) return kNoProcess;
    std::unique_ptr<DIR, int (*)(DIR*)> proc(::opendir("/proc"), ::closedir);
    if (!proc) return kNoProcess;
    std::vector<ProcessId> ids;
    while (dirent* entry = ::readdir(proc.get())) {
        ProcessId pid;
        if (IsProcessId(entry->d_name, pid)) ids.push_back(pid);
    }
    std::sort(ids.begin(), ids.end());
    const std::string_view cut = std::string_view(name).substr(0, kCommLength);
    for (ProcessId pid : ids) {
        ProcessStat stat;
        // Gone between the listing and now, or not our name: next.
        if (!ReadStat(pid, stat) || HasEnded(stat)) continue;
        if (name.size() < kCommLength) {
            if (stat.comm == name) return pid;
        } else if (stat.comm == cut && FullName(pid, stat.comm) == name) {
            return pid;
        }
    }
    return kNoProcess;
}

}  // namespace platform
