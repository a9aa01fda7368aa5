#pragma once

#include <cstddef>

#include "platform/Socket.h"

namespace platform {

// Sends every byte: a blocking send may still take only part of them (a
// signal, a full buffer), so it goes on until all are sent. False when a
// send fails (the peer is gone, the socket was shut down).
bool SendAll(Socket socket, const char* data, size_t length);

}  // namespace platform
