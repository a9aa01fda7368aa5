#pragma once

#include <winsock2.h>

#include "platform/Socket.h"

namespace platform {

// An accepted socket takes the listening socket's non-blocking mode; the
// connections themselves are served blocking.
inline void MakeBlocking(Socket s) {
    u_long blocking = 0;
    ::ioctlsocket(static_cast<SOCKET>(s), FIONBIO, &blocking);
}

}  // namespace platform
