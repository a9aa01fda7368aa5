#pragma once

#include <cstdint>
#include <mutex>
#include <set>

#include <platform/SocketHandle.h>

#include "net/Limits.h"

// What a failed connect counts as, in milliseconds.
constexpr int kConnectFailedMs = 9999999;

// Connects in progress, so that a stop can end them: a blocked connect holds a
// socket nobody else knows of and returns only when that socket is shut down
// (or after the system's connect time-out, minutes for a silent address).
// The lock guards the set and the flag; a socket is in the set only between
// the start and the end of its connect, never after it is closed.
class PendingConnects {
public:
    // False once aborted: the connect must not be tried.
    bool Begin(platform::Socket socket);
    void End(platform::Socket socket);
    // Fails every connect in progress and every later one.
    void AbortAll();
    bool Aborted() const;

private:
    mutable std::mutex lock_;
    std::set<platform::Socket> sockets_;
    bool aborted_ = false;
};

// Creates a TCP socket into `socket` and connects it to the IPv4 address
// (network byte order) and port, giving up after timeoutMs. Returns the
// milliseconds the connect took, or kConnectFailedMs; on failure the socket
// (or kInvalidSocket when none could be created) is left in `socket` for the
// caller to close. With `pending`, the connect can be ended by its AbortAll.
int TimedConnect(uint32_t addressNetworkOrder, uint16_t port, platform::Socket& socket,
                 PendingConnects* pending = nullptr, int timeoutMs = Limits{}.connectMs);
