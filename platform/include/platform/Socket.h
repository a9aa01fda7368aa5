#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/SocketHandle.h"
#include "platform/SysCall.h"

namespace platform {

// Blocking IPv4 TCP sockets. Socket and kInvalidSocket ("no socket") come
// from the OS's own SocketHandle.h.

// Largest backlog the OS accepts (SOMAXCONN on Windows).
constexpr int kMaxBacklog = 0x7FFFFFFF;

SysCallResult<Socket> CreateTcpSocket();

// Binds to an IPv4 address given as dotted text ("127.0.0.1", "0.0.0.0").
// A port in use makes the bind fail.
SysCallResult<int> BindIPv4(Socket s, const std::string& address, uint16_t port);
// Readies a socket that is to listen, before its bind: a restart may bind
// its port while connections of the previous run linger in TIME_WAIT, yet a
// port another socket listens on still makes the bind fail (SO_REUSEADDR on
// POSIX; SO_EXCLUSIVEADDRUSE on Windows, where SO_REUSEADDR would let another
// program take the port over). On Windows the socket is also made
// non-blocking, so an accept on it fails at once when no connection waits:
// wait with WaitReadable first. Accepted sockets are blocking on both.
SysCallResult<int> PrepareListeningSocket(Socket s);
SysCallResult<int> ListenOn(Socket s, int backlog);
// Accepts one connection; the peer address is discarded.
SysCallResult<Socket> AcceptOn(Socket s);
// Accepts one connection and tells the peer's IPv4 address (network byte
// order; 0 when the accept failed).
SysCallResult<Socket> AcceptFrom(Socket s, uint32_t& peerAddressNetworkOrder);
// True for 127.0.0.0/8, the addresses of this machine's loopback.
inline bool IsLoopbackIPv4(uint32_t addressNetworkOrder) {
    return reinterpret_cast<const uint8_t*>(&addressNetworkOrder)[0] == 127;
}

// One receive, flags 0: bytes received, 0 when the peer closed, -1 on error.
SysCallResult<int> RecvSome(Socket s, char* buffer, int length);
// One send, flags 0. Never raises SIGPIPE on a closed peer.
SysCallResult<int> SendSome(Socket s, const char* data, int length);

// Connects to an IPv4 address in network byte order, blocking.
SysCallResult<int> ConnectIPv4(Socket s, uint32_t addressNetworkOrder, uint16_t port);
// The same, giving up after about timeoutMs (a failure then). A shutdown of
// the socket from another thread ends the attempt as it ends a blocking one.
SysCallResult<int> ConnectIPv4Within(Socket s, uint32_t addressNetworkOrder, uint16_t port, int timeoutMs);

// Waits until a receive on the socket would not block (data, the peer's
// close or an error): 1 when it would not, 0 when timeoutMs passed first,
// -1 on error. timeoutMs < 0 waits without limit. A ShutdownSocket of the
// socket from another thread ends the wait (1: the receive then fails).
SysCallResult<int> WaitReadable(Socket s, int timeoutMs);

// The local port a bound socket got (the port the OS chose for port 0); 0 on
// failure.
uint16_t LocalPort(Socket s);

// Shuts the socket down in both directions and ends every call blocked on
// it in another thread (accept, connect, receive, send), which then fails.
// The socket stays open, so its number is not handed out again, until
// CloseSocket. This is how a stop wakes the threads that serve a socket.
void ShutdownSocket(Socket s);
// Ends the sending direction only: the peer reads the end of the stream,
// while receiving goes on.
void ShutdownSend(Socket s);
void CloseSocket(Socket s);
// Closes at once with a reset instead of an orderly close: the peer's next
// receive or send fails.
void ResetSocket(Socket s);

// How many received bytes wait to be read; -1 on error.
SysCallResult<int> BytesQueued(Socket s);

// True for the error codes of a call that failed for lack of descriptors or
// buffers (EMFILE, ENFILE, ENOBUFS, ENOMEM; WSAEMFILE, WSAENOBUFS).
bool IsOutOfDescriptors(int errorCode);

// The system's text for a socket call's error code ("Address already in use").
std::string SocketErrorText(int errorCode);

// getaddrinfo with family AF_INET and type SOCK_STREAM: the IPv4 addresses
// (network byte order) in the order the resolver gives them; empty on failure.
std::vector<uint32_t> ResolveIPv4(const std::string& host);

}  // namespace platform
