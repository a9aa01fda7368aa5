#include "net/CSocketBase.h"

#include "net/Limits.h"

#include <platform/SendAll.h>

CSocketBase::CSocketBase(uint16_t port, std::string listenAddress)
    : port(port), listenAddress(std::move(listenAddress)) {}

CSocketBase::~CSocketBase() = default;

int CSocketBase::Listen() {
    std::lock_guard<std::mutex> g(listenLock_);
    listenError_ = 0;
    if (closedForGood_) return 0;
    auto created = platform::CreateTcpSocket();
    if (created.rc == platform::kInvalidSocket) {
        listenError_ = created.errorCode;
        return 0;
    }
    platform::Socket s = created.rc;
    platform::SysCallResult<int> step = platform::PrepareListeningSocket(s);
    if (step.rc == 0) step = platform::BindIPv4(s, listenAddress, port);
    if (step.rc == 0) step = platform::ListenOn(s, platform::kMaxBacklog);
    if (step.rc != 0) {
        listenError_ = step.errorCode;
        platform::ShutdownSocket(s);
        platform::CloseSocket(s);
        listenSocket = platform::kInvalidSocket;
        return 0;
    }
    listenSocket = s;
    return 1;
}

std::string CSocketBase::ListenFailure() const {
    std::lock_guard<std::mutex> g(listenLock_);
    if (closedForGood_ && listenError_ == 0) return "the server is stopping";
    return listenError_ == 0 ? std::string("unknown error") : platform::SocketErrorText(listenError_);
}

bool CSocketBase::WaitForConnection(platform::Socket s) const {
    // In slices, so that a stop is seen within one even where closing the
    // socket does not wake a waiting thread (Wine may not), and a missed
    // wake-up costs one slice rather than the connection.
    for (;;) {
        const int ready = platform::WaitReadable(s, Limits{}.acceptSliceMs).rc;
        if (listenSocket.load() != s) return false;
        // A wait that failed leaves it to the accept, as without the wait.
        if (ready != 0) return true;
    }
}

platform::Socket CSocketBase::Accept(platform::Socket& socket) {
    socket = platform::kInvalidSocket;
    platform::Socket s = listenSocket.load();
    if (s == platform::kInvalidSocket || !WaitForConnection(s)) return socket;
    socket = platform::AcceptOn(s).rc;
    return socket;
}

platform::Socket CSocketBase::AcceptFrom(platform::Socket& socket, uint32_t& peerAddress) {
    socket = platform::kInvalidSocket;
    peerAddress = 0;
    const platform::Socket s = listenSocket.load();
    if (s == platform::kInvalidSocket || !WaitForConnection(s)) return socket;
    const platform::SysCallResult<platform::Socket> accepted = platform::AcceptFrom(s, peerAddress);
    socket = accepted.rc;
    acceptError_ = accepted.errorCode;
    return socket;
}

int CSocketBase::Recv(platform::Socket socket, char* buffer, int length) {
    return platform::RecvSome(socket, buffer, length).rc;
}

int CSocketBase::Send(platform::Socket socket, const char* data, int length) {
    if (length <= 0) return 0;
    return platform::SendAll(socket, data, static_cast<size_t>(length)) ? length : -1;
}

bool CSocketBase::Connect(platform::Socket& socket, const char* host, uint16_t port) {
    std::vector<uint32_t> addresses = platform::ResolveIPv4(host ? host : "");
    if (addresses.empty()) return false;
    for (uint32_t address : addresses) {
        auto created = platform::CreateTcpSocket();
        if (created.rc == platform::kInvalidSocket) continue;
        socket = created.rc;
        if (platform::ConnectIPv4(socket, address, port).rc == 0) return true;
        platform::CloseSocket(socket);
        socket = platform::kInvalidSocket;
    }
    return false;
}

void CSocketBase::CloseListenSocket() {
    std::lock_guard<std::mutex> g(listenLock_);
    closedForGood_ = true;
    platform::Socket s = listenSocket.exchange(platform::kInvalidSocket);
    if (s == platform::kInvalidSocket) return;
    platform::ShutdownSocket(s);
    platform::CloseSocket(s);
}
