#include "platform/ProgramPath.h"

#include <unistd.h>

#include <climits>

namespace platform {

std::string ProgramPath() {
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return {};
    return std::string(buf, static_cast<size_t>(n));
}

std::string ProgramFolder() {
    std::string path = ProgramPath();
    auto slash = path.rfind('/');
    if (slash == std::string::npos) return {};
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

bool SetWorkingDirectory(const std::string& folder) { return !folder.empty() && ::chdir(folder.c_str()) == 0; }

std::string JoinPath(const std::string& folder, const std::string& relative) {
    std::string rel = relative;
    for (char& c : rel)
        if (c == '\\') c = '/';
    if (folder.empty()) return rel;
    if (folder.back() == '/') return folder + rel;
    return folder + "/" + rel;
}

}  // namespace platform
