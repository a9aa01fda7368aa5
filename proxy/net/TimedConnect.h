#pragma once

#include <cstdint>

// What a failed connect counts as, in milliseconds.
constexpr int kConnectFailedMs = 9999999;

// Creates a TCP socket into `socket` and connects it, blocking, to the IPv4
// address (network byte order) and port. Returns the milliseconds the connect
// took, or kConnectFailedMs; on failure the socket (or -1 when none could be
// created) is left in `socket` for the caller to close.
int TimedConnect(uint32_t addressNetworkOrder, uint16_t port, int& socket);
