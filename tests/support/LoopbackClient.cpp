#include "support/LoopbackClient.h"

#include <chrono>
#include <cstdio>
#include <cstring>

namespace testsupport {

LoopbackClient::~LoopbackClient() { Close(); }

bool LoopbackClient::Connect(uint16_t port, const std::string& address) {
    Close();
    std::vector<uint32_t> target = platform::ResolveIPv4(address);
    if (target.empty()) return false;
    fd_ = platform::CreateTcpSocket().rc;
    if (fd_ == platform::kInvalidSocket) return false;
    // Bounded, so that a connect that is never answered fails the test
    // rather than hanging it.
    if (platform::ConnectIPv4Within(fd_, target[0], port, 10000).rc != 0) {
        Close();
        return false;
    }
    return true;
}

bool LoopbackClient::SendAll(const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        int n = platform::SendSome(fd_, bytes.data() + sent, static_cast<int>(bytes.size() - sent)).rc;
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

// Reads until `done` holds for what arrived, the peer closes, or the deadline
// passes (then timedOut is set).
template <typename Done>
std::string ReadWithDeadline(platform::Socket fd, int timeoutMs, Done done, bool* timedOut) {
    std::string out;
    if (timedOut) *timedOut = false;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    char buf[16384];
    while (!done(out)) {
        int left = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count());
        if (left <= 0 || platform::WaitReadable(fd, left).rc == 0) {
            if (timedOut) *timedOut = true;
            return out;
        }
        int n = platform::RecvSome(fd, buf, sizeof buf).rc;
        if (n <= 0) return out;
        out.append(buf, static_cast<size_t>(n));
    }
    return out;
}

std::string LoopbackClient::ReadUntil(const std::string& marker, int timeoutMs) {
    return ReadWithDeadline(
        fd_, timeoutMs, [&](const std::string& got) { return got.find(marker) != std::string::npos; }, nullptr);
}

std::string LoopbackClient::ReadUntilClosed(int timeoutMs, bool* timedOut) {
    return ReadWithDeadline(fd_, timeoutMs, [](const std::string&) { return false; }, timedOut);
}

bool LoopbackClient::WaitClosed(int timeoutMs) {
    bool timedOut = false;
    ReadUntilClosed(timeoutMs, &timedOut);
    return !timedOut;
}

void LoopbackClient::ShutdownSend() { platform::ShutdownSend(fd_); }

void LoopbackClient::Close() {
    platform::CloseSocket(fd_);
    fd_ = platform::kInvalidSocket;
}

void LoopbackClient::Reset() {
    platform::ResetSocket(fd_);
    fd_ = platform::kInvalidSocket;
}

uint16_t FreeLoopbackPort() {
    platform::Socket s = platform::CreateTcpSocket().rc;
    platform::BindIPv4(s, "127.0.0.1", 0);
    uint16_t port = platform::LocalPort(s);
    platform::CloseSocket(s);
    return port;
}

bool LoopbackSocketPair(platform::Socket& one, platform::Socket& other) {
    one = other = platform::kInvalidSocket;
    platform::Socket listener = platform::CreateTcpSocket().rc;
    if (listener == platform::kInvalidSocket) return false;
    bool made = platform::BindIPv4(listener, "127.0.0.1", 0).rc == 0 && platform::ListenOn(listener, 1).rc == 0;
    if (made) {
        one = platform::CreateTcpSocket().rc;
        made = one != platform::kInvalidSocket &&
               platform::ConnectIPv4(one, Ipv4("127.0.0.1"), platform::LocalPort(listener)).rc == 0 &&
               platform::WaitReadable(listener, 3000).rc == 1;
    }
    if (made) other = platform::AcceptOn(listener).rc;
    platform::CloseSocket(listener);
    if (other != platform::kInvalidSocket) return true;
    platform::CloseSocket(one);
    one = platform::kInvalidSocket;
    return false;
}

uint32_t Ipv4(const std::string& dotted) {
    unsigned part[4];
    char end;
    if (std::sscanf(dotted.c_str(), "%3u.%3u.%3u.%3u%c", &part[0], &part[1], &part[2], &part[3], &end) != 4) return 0;
    unsigned char bytes[4];
    for (int i = 0; i < 4; ++i) {
        if (part[i] > 255) return 0;
        bytes[i] = static_cast<unsigned char>(part[i]);
    }
    uint32_t address;
    std::memcpy(&address, bytes, sizeof address);  // network order is the order of the bytes in memory
    return address;
}

}  // namespace testsupport
