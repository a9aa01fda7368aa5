#pragma once

#include <string>

#include "platform/Process.h"

namespace platform {

// The file name (without folder) of the program a process was started from,
// as a process snapshot lists it; on POSIX a script is listed under its own
// name, not its interpreter's. Empty when the process does not exist or has
// ended.
std::string ExecutableName(ProcessId pid);

// The first running process in the snapshot (ascending ids on POSIX) whose
// executable name equals `name` exactly, letter case included; kNoProcess
// when there is none. On POSIX, processes that have ended but were not yet
// reaped do not count.
ProcessId FindProcessByName(const std::string& name);

}  // namespace platform
