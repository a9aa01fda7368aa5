#pragma once

#include <sys/stat.h>

#include <string>

#include "support/TempFolder.h"

namespace launchertest {

// Shell lines that make a fake program wait until it is killed without
// starting any process of its own: a forked helper carries the script's name
// until it runs its own program, and could be taken for the script itself.
// The script reads from a FIFO that nobody writes to.
inline std::string BlockUntilKilled(const testsupport::TempFolder& folder) {
    const std::string fifo = folder / "block.fifo";
    ::mkfifo(fifo.c_str(), 0600);  // already there is fine
    return "exec 3<> '" + fifo + "'\nread line <&3\n";
}

}  // namespace launchertest
