#pragma once

#include <atomic>
#include <memory>

#include <platform/Socket.h>
#include <sievekit/DomainStruct.h>

#include "http/RequestInfo.h"

class CLocalProxy;

// One browser connection. The registry owns it; it lives until its worker's
// own Remove or the listener's stop, never both.
struct ConnectionRecord {
    DomainStruct domain{};  // the request's host, domains, URL and verdict flags
    // Sockets may be shut down by the stop path while the worker uses them;
    // whoever takes the value out with CloseSocket closes it, exactly once.
    std::atomic<platform::Socket> clientSocket{platform::kInvalidSocket};
    std::atomic<platform::Socket> upstreamSocket{platform::kInvalidSocket};
    std::unique_ptr<RequestInfo> request;
    CLocalProxy* owner = nullptr;  // the listener that accepted the connection
    uint32_t peerAddress = 0;      // the browser's IPv4 address, network byte order (0: unknown)
    // When the request (or its upload) was last sent a byte to the origin
    // (platform::TickCount); the origin's time to answer counts from here.
    std::atomic<uint64_t> lastSentTick{0};

    // Shutdown and close of one of the two sockets, once; kInvalidSocket afterwards.
    static void CloseSocket(std::atomic<platform::Socket>& socket);
    // Shutdown only: wakes every blocked receive or send on it, keeps the number.
    static void ShutdownSocket(const std::atomic<platform::Socket>& socket);
};
