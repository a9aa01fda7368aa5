#pragma once

#include <string>
#include <vector>

namespace platform {

using ProcessId = int;
constexpr ProcessId kNoProcess = -1;

// Where a bare program name is found: the current folder first, then PATH.
// Empty when not found. A name with a separator is returned as it is.
std::string FindProgram(const std::string& name);

// Starts a program with its arguments (each one argument, never through a
// shell). Returns the process id, or kNoProcess when it cannot be started.
ProcessId StartProgram(const std::string& program, const std::vector<std::string>& arguments,
                       const std::string& workingFolder = {});

// Waits for a process that this process started; returns its exit code
// (-1 when it did not exit normally or cannot be waited for).
int WaitForChild(ProcessId pid);

// Waits for any process, also one this process did not start; true when it
// has ended (or does not exist). timeoutMs < 0 waits without limit.
bool WaitForProcess(ProcessId pid, int timeoutMs = -1);

}  // namespace platform
