#pragma once

#include <string>

#include "platform/Process.h"

namespace platform {

// The file name (without folder) of the program a process was started from,
// as a process snapshot lists it; a script is listed under its own name, not
// its interpreter's. Empty when the process does not exist or has ended.
std::string ExecutableName(ProcessId pid);

// The first running process, in ascending id order, whose executable name
// equals `name` exactly, letter case included; kNoProcess when there is none.
// Processes that have ended but were not yet reaped do not count.
ProcessId FindProcessByName(const std::string& name);

}  // namespace platform
