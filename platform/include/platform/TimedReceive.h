#pragma once

#include <cstdint>

#include "platform/Socket.h"

namespace platform {

constexpr int kReceiveTimedOut = -2;

// One receive that gives up at a deadline (a TickCount value): bytes
// received, 0 when the peer closed, -1 on error, kReceiveTimedOut when the
// deadline passed first. A stop's shutdown of the socket ends the wait at once.
int ReceiveBefore(Socket socket, char* buffer, int length, uint64_t deadlineTick);

}  // namespace platform
