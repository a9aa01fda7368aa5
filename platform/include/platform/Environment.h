#pragma once

#include <string>

namespace platform {

// Variables of this process's environment, as std::getenv and the programs
// it starts see them. False when the OS refuses the change. An empty value
// removes the variable on systems that cannot hold empty ones.
bool SetEnvironmentValue(const std::string& name, const std::string& value);
bool RemoveEnvironmentValue(const std::string& name);

}  // namespace platform
