#include "support/LoopbackClient.h"

#include <chrono>

namespace testsupport {

LoopbackClient::~LoopbackClient() { Close(); }

bool LoopbackClient::Connect(uint16_t port, const std::string& address) {
    Close();
    std::vector<uint32_t> target = platform::ResolveIPv4(address);
    if (target.empty()) return false;
    fd_ = platform::CreateTcpSocket().rc;
    if (fd_ == platform::kInvalidSocket) return false;
    if (platform::ConnectIPv4(fd_, target[0], port).rc != 0) {
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

void LoopbackClient::Close() {
    platform::CloseSocket(fd_);
    fd_ = platform::kInvalidSocket;
}

uint16_t FreeLoopbackPort() {
    platform::Socket s = platform::CreateTcpSocket().rc;
    platform::BindIPv4(s, "127.0.0.1", 0);
    uint16_t port = platform::LocalPort(s);
    platform::CloseSocket(s);
    return port;
}

}  // namespace testsupport
