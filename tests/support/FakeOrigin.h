#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <platform/Socket.h>

namespace testsupport {

// An origin server on 127.0.0.1 (port chosen by the OS) that records the
// exact bytes of every request and answers with exact bytes. Every wait has
// a deadline, so a test fails instead of hanging.
class FakeOrigin {
public:
    // Answers each connection: by default sends `response` whole and closes.
    using Responder = std::function<void(platform::Socket socket, const std::string& request)>;

    explicit FakeOrigin(std::string response = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
    ~FakeOrigin();
    FakeOrigin(const FakeOrigin&) = delete;
    FakeOrigin& operator=(const FakeOrigin&) = delete;

    uint16_t port() const { return port_; }
    void SetResponder(Responder responder);
    // The bytes of the n-th request (header block plus the body its
    // Content-Length announces); empty when none arrived in time.
    std::string WaitRequest(size_t index, int timeoutMs = 3000);
    size_t RequestCount();

    // Helpers for responders.
    static bool SendAll(platform::Socket socket, const std::string& bytes);

private:
    void Serve(platform::Socket socket);

    platform::Socket listenFd_ = platform::kInvalidSocket;
    uint16_t port_ = 0;
    std::thread acceptor_;
    std::atomic<bool> stopping_{false};
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<std::string> requests_;
    std::vector<std::thread> handlers_;
    std::vector<platform::Socket> openSockets_;
    Responder responder_;
};

}  // namespace testsupport
