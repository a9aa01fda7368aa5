#pragma once

#include <cstdint>
#include <string>

#include <platform/Socket.h>

namespace testsupport {

// A blocking TCP client on 127.0.0.1 whose every wait has a deadline, so a
// test fails instead of hanging.
class LoopbackClient {
public:
    LoopbackClient() = default;
    ~LoopbackClient();
    LoopbackClient(const LoopbackClient&) = delete;
    LoopbackClient& operator=(const LoopbackClient&) = delete;

    bool Connect(uint16_t port, const std::string& address = "127.0.0.1");
    bool SendAll(const std::string& bytes);
    // Reads until the peer closes or the deadline passes. timedOut tells which.
    std::string ReadUntilClosed(int timeoutMs, bool* timedOut = nullptr);
    // Reads until the bytes read hold `marker`, the peer closes or the
    // deadline passes; what was read.
    std::string ReadUntil(const std::string& marker, int timeoutMs);
    // True when the peer closes (or resets) within the deadline.
    bool WaitClosed(int timeoutMs);
    // Done sending: the peer reads the end of the stream; reading goes on.
    void ShutdownSend();
    void Close();
    // Closes with a reset, as a browser that goes away abruptly.
    void Reset();
    platform::Socket fd() const { return fd_; }

private:
    platform::Socket fd_ = platform::kInvalidSocket;
};

// A port on 127.0.0.1 that was free a moment ago (bound to port 0, then released).
uint16_t FreeLoopbackPort();

// Two connected TCP sockets on 127.0.0.1; false (both kInvalidSocket) when
// they cannot be made. The caller closes both.
bool LoopbackSocketPair(platform::Socket& one, platform::Socket& other);

// A dotted IPv4 address ("127.0.0.2") in network byte order, as the socket
// calls take it; 0 for text that is not one.
uint32_t Ipv4(const std::string& dotted);

// Polls cond every 5 ms until it holds or the deadline passes.
template <typename Cond>
bool WaitFor(Cond cond, int timeoutMs);

}  // namespace testsupport

#include <chrono>
#include <thread>

template <typename Cond>
bool testsupport::WaitFor(Cond cond, int timeoutMs) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
        if (cond()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return cond();
}
