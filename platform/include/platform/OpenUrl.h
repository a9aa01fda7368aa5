#pragma once

#include <string>

namespace platform {

// Opens an address in the user's default browser without waiting for it.
// Where no browser can be started, the address is printed on stdout so the
// user can open it. True when a browser was started.
bool OpenUrl(const std::string& url);

}  // namespace platform
