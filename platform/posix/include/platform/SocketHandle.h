#pragma once

namespace platform {

// A socket as the OS names it: a descriptor here.
using Socket = int;
constexpr Socket kInvalidSocket = -1;

}  // namespace platform
