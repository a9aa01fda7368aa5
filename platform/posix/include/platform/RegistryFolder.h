#pragma once

#include <string>

namespace platform {

// The folder under which the registry stand-in's roots ("HKCU", "HKLM")
// live: $MORVANE_REGISTRY_ROOT, else $XDG_CONFIG_HOME/morvane/registry,
// else ~/.config/morvane/registry. Empty when none of them is set.
std::string RegistryRootFolder();

}  // namespace platform
