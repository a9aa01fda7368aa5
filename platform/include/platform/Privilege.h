#pragma once

namespace platform {

// Enables the debug privilege (the right to open and wait on any process) for
// this process. On POSIX that is CAP_SYS_PTRACE: raised into the effective set
// when it is only permitted. False when the process does not hold it.
// Call it before starting threads: capabilities are per thread and new
// threads inherit them.
bool EnableDebugPrivilege();

// True when the debug privilege is enabled for the calling thread.
bool DebugPrivilegeEnabled();

}  // namespace platform
