#pragma once

#include <cstdint>

namespace platform {

// A socket as the OS names it: Winsock's SOCKET, an unsigned pointer-sized
// value whose invalid value is INVALID_SOCKET (all bits set). Compare with
// kInvalidSocket, never with "< 0".
using Socket = std::uintptr_t;
constexpr Socket kInvalidSocket = ~Socket{0};

}  // namespace platform
