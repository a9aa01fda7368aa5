#pragma once

namespace platform {

// Result of one operating-system call together with the error it reported,
// so nobody has to read a global error variable afterwards.
template <typename T>
struct SysCallResult {
    T rc;
    int errorCode;  // 0 when the call succeeded
};

}  // namespace platform
