// Debug privilege stand-in: the capability to trace (and so open and wait on)
// any process.
#include "platform/Privilege.h"

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform {

namespace {

struct Capabilities {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
};

bool Read(Capabilities& caps) { return ::syscall(SYS_capget, &caps.header, caps.data) == 0; }

constexpr unsigned kWord = CAP_SYS_PTRACE / 32;
constexpr unsigned kBit = 1u << (CAP_SYS_PTRACE % 32);

}  // namespace

bool DebugPrivilegeEnabled() {
    Capabilities caps;
    return Read(caps) && (caps.data[kWord].effective & kBit) != 0;
}

bool EnableDebugPrivilege() {
    Capabilities caps;
    if (!Read(caps)) return false;
    if (caps.data[kWord].effective & kBit) return true;
    // Only a permitted capability can be raised; one the process does not
    // hold is a failure, as for a token without the privilege.
    if (!(caps.data[kWord].permitted & kBit)) return false;
    caps.data[kWord].effective |= kBit;
    caps.header = {_LINUX_CAPABILITY_VERSION_3, 0};
    if (::syscall(SYS_capset, &caps.header, caps.data) != 0) return false;
    return DebugPrivilegeEnabled();
}

}  // namespace platform
