#include "platform/SystemInfo.h"

namespace platform {

SystemVersionNumber SystemVersion() { return {6, 2}; }

std::string SystemFolder() { return "/usr/bin"; }

}  // namespace platform
