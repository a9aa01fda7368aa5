#pragma once

#include <string>

namespace platform {

struct SystemVersionNumber {
    unsigned major;
    unsigned minor;
};

// The operating-system version as reported to programs (GetVersion). The
// POSIX stand-in reports 6.2, what current Windows reports to a program
// without a compatibility manifest.
SystemVersionNumber SystemVersion();

// The folder holding the system's own programs (GetSystemDirectory); /usr/bin
// on POSIX. No trailing separator.
std::string SystemFolder();

}  // namespace platform
