#include <winsock2.h>

#include "platform/Socket.h"

#include "SocketMode.h"

namespace platform {

SysCallResult<Socket> AcceptFrom(Socket s, uint32_t& peerAddressNetworkOrder) {
    sockaddr_in peer{};
    int len = sizeof peer;
    const SOCKET accepted = ::accept(static_cast<SOCKET>(s), reinterpret_cast<sockaddr*>(&peer), &len);
    if (accepted == INVALID_SOCKET) {
        peerAddressNetworkOrder = 0;
        return {kInvalidSocket, ::WSAGetLastError()};
    }
    // Not handed down to programs this one starts.
    ::SetHandleInformation(reinterpret_cast<HANDLE>(accepted), HANDLE_FLAG_INHERIT, 0);
    MakeBlocking(static_cast<Socket>(accepted));
    peerAddressNetworkOrder = peer.sin_family == AF_INET ? peer.sin_addr.s_addr : 0;
    return {static_cast<Socket>(accepted), 0};
}

}  // namespace platform
