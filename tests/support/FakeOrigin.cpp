#include "support/FakeOrigin.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>

namespace testsupport {

namespace {

// Reads the header block and the body its Content-Length announces, giving
// up after a few seconds of silence.
std::string ReadRequest(platform::Socket fd) {
    std::string data;
    char buf[8192];
    size_t want = std::string::npos;
    for (;;) {
        if (want == std::string::npos) {
            size_t end = data.find("\r\n\r\n");
            if (end != std::string::npos) {
                size_t body = 0;
                size_t cl = data.find("Content-Length: ");
                if (cl != std::string::npos && cl < end) body = std::strtoul(data.c_str() + cl + 16, nullptr, 10);
                want = end + 4 + body;
            }
        }
        if (want != std::string::npos && data.size() >= want) return data;
        if (platform::WaitReadable(fd, 3000).rc <= 0) return data;
        int n = platform::RecvSome(fd, buf, sizeof buf).rc;
        if (n <= 0) return data;
        data.append(buf, static_cast<size_t>(n));
    }
}

}  // namespace

FakeOrigin::FakeOrigin(std::string response) {
    responder_ = [response](platform::Socket fd, const std::string&) { SendAll(fd, response); };
    listenFd_ = platform::CreateTcpSocket().rc;
    platform::BindIPv4(listenFd_, "127.0.0.1", 0);
    port_ = platform::LocalPort(listenFd_);
    platform::ListenOn(listenFd_, 128);
    acceptor_ = std::thread([this] {
        for (;;) {
            platform::Socket fd = platform::AcceptOn(listenFd_).rc;
            if (fd == platform::kInvalidSocket) {
                if (stopping_) return;
                continue;
            }
            std::lock_guard<std::mutex> g(lock_);
            if (stopping_) {
                platform::CloseSocket(fd);
                return;
            }
            openSockets_.push_back(fd);
            handlers_.emplace_back([this, fd] { Serve(fd); });
        }
    });
}

FakeOrigin::~FakeOrigin() {
    stopping_ = true;
    // Closing the listening socket ends a blocked accept on every system
    // (a shutdown alone does not on Windows).
    platform::ShutdownSocket(listenFd_);
    platform::CloseSocket(listenFd_);
    acceptor_.join();
    std::vector<std::thread> handlers;
    {
        std::lock_guard<std::mutex> g(lock_);
        for (platform::Socket fd : openSockets_) platform::ShutdownSocket(fd);
        handlers.swap(handlers_);
    }
    for (auto& t : handlers) t.join();
}

void FakeOrigin::SetResponder(Responder responder) {
    std::lock_guard<std::mutex> g(lock_);
    responder_ = std::move(responder);
}

void FakeOrigin::Serve(platform::Socket fd) {
    std::string request = ReadRequest(fd);
    Responder responder;
    {
        std::lock_guard<std::mutex> g(lock_);
        requests_.push_back(request);
        responder = responder_;
    }
    changed_.notify_all();
    responder(fd, request);
    {
        std::lock_guard<std::mutex> g(lock_);
        openSockets_.erase(std::remove(openSockets_.begin(), openSockets_.end(), fd), openSockets_.end());
    }
    platform::ShutdownSocket(fd);
    platform::CloseSocket(fd);
}

std::string FakeOrigin::WaitRequest(size_t index, int timeoutMs) {
    std::unique_lock<std::mutex> g(lock_);
    changed_.wait_for(g, std::chrono::milliseconds(timeoutMs), [&] { return requests_.size() > index; });
    return requests_.size() > index ? requests_[index] : std::string();
}

size_t FakeOrigin::RequestCount() {
    std::lock_guard<std::mutex> g(lock_);
    return requests_.size();
}

bool FakeOrigin::SendAll(platform::Socket fd, const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        int n = platform::SendSome(fd, bytes.data() + sent, static_cast<int>(bytes.size() - sent)).rc;
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace testsupport
