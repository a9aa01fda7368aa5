#pragma once

#include <atomic>
#include <mutex>
#include <cstdint>
#include <string>

#include <platform/Socket.h>

// Base of the two servers: one listening TCP socket on a fixed port, and the
// few socket calls the rest of the program makes through its server object.
class CSocketBase {
public:
    // listenAddress: the IPv4 address to bind ("127.0.0.1" keeps the server
    // private to this machine; "0.0.0.0" opens it to the network).
    explicit CSocketBase(uint16_t port, std::string listenAddress = "127.0.0.1");
    virtual ~CSocketBase();  // closes nothing: the owner's stop path does
    CSocketBase(const CSocketBase&) = delete;
    CSocketBase& operator=(const CSocketBase&) = delete;

    // 1 when the socket listens, 0 on failure (the object then holds no socket;
    // ListenFailure says why).
    virtual int Listen();
    // After a failed Listen: the system's reason ("Address already in use").
    std::string ListenFailure() const;
    const std::string& ListenAddress() const { return listenAddress; }
    // The accepted socket, or kInvalidSocket; also stored in the caller's socket.
    virtual platform::Socket Accept(platform::Socket& socket);
    // The same, also telling the peer's IPv4 address (network byte order).
    platform::Socket AcceptFrom(platform::Socket& socket, uint32_t& peerAddress);
    // The error code of the last failed AcceptFrom (for the serving thread).
    int LastAcceptError() const { return acceptError_; }
    // One receive: bytes, 0 when the peer closed, -1 on error.
    virtual int Recv(platform::Socket socket, char* buffer, int length);
    // Sends the whole buffer: the length, or -1 when a send failed.
    virtual int Send(platform::Socket socket, const char* data, int length);
    // A socket connected to host:port in the caller's socket; false when none.
    virtual bool Connect(platform::Socket& socket, const char* host, uint16_t port);

    // Shuts the listening socket down and closes it; a blocked Accept fails.
    // Closed for good: a Listen that comes later (a stop that overtook the
    // serving thread's start) fails.
    void CloseListenSocket();
    bool IsListening() const { return listenSocket.load() != platform::kInvalidSocket; }
    uint16_t Port() const { return port; }

protected:
    const uint16_t port;
    // Read by the serving loop, cleared by the stop path on another thread.
    std::atomic<platform::Socket> listenSocket{platform::kInvalidSocket};
    const std::string listenAddress;

private:
    // Waits for a connection on the listening socket s: true when one is
    // there (or the wait failed), false once s is closed or replaced.
    bool WaitForConnection(platform::Socket s) const;

    mutable std::mutex listenLock_;  // orders Listen against CloseListenSocket
    bool closedForGood_ = false;
    int listenError_ = 0;  // of the last failed Listen; under listenLock_
    int acceptError_ = 0;  // of the last failed AcceptFrom; the serving thread's
};
