#include "platform/Environment.h"

#include <stdlib.h>

namespace platform {

// _putenv_s changes the C runtime's copy, which std::getenv reads, and the
// process's own block, which started programs inherit. It cannot hold an
// empty value: that removes the variable.
bool SetEnvironmentValue(const std::string& name, const std::string& value) {
    return !name.empty() && _putenv_s(name.c_str(), value.c_str()) == 0;
}

bool RemoveEnvironmentValue(const std::string& name) { return !name.empty() && _putenv_s(name.c_str(), "") == 0; }

}  // namespace platform
