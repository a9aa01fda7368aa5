#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>

#include "platform/Socket.h"

namespace platform {

SysCallResult<Socket> AcceptFrom(Socket s, uint32_t& peerAddressNetworkOrder) {
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    const Socket accepted = ::accept4(s, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC);
    if (accepted < 0) {
        peerAddressNetworkOrder = 0;
        return {kInvalidSocket, errno};
    }
    peerAddressNetworkOrder = peer.sin_family == AF_INET ? peer.sin_addr.s_addr : 0;
    return {accepted, 0};
}

}  // namespace platform
