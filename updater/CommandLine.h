#pragma once

#include <string>
#include <vector>

namespace updater {

struct CommandLine {
    bool hidden = false;          // "-h": show the dialog only for a newer release
    bool softwareUpdate = false;  // "-u": check for a new release instead of upgrading data
    std::string installedVersion;  // from "-v:x.y.z.w" or "-v=x.y.z.w"
};

// At most this many characters of the installed version are kept.
constexpr size_t kInstalledVersionMax = 15;

// Reads the arguments that follow the program name. Every argument is tested
// against each rule; of several "-v" arguments the last one wins.
CommandLine ParseCommandLine(const std::vector<std::string>& arguments);

}  // namespace updater
