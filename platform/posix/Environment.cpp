#include "platform/Environment.h"

#include <cstdlib>

namespace platform {

bool SetEnvironmentValue(const std::string& name, const std::string& value) {
    return ::setenv(name.c_str(), value.c_str(), 1) == 0;
}

bool RemoveEnvironmentValue(const std::string& name) { return ::unsetenv(name.c_str()) == 0; }

}  // namespace platform
