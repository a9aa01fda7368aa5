#include "support/FakeOrigin.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>

namespace testsupport {

namespace {

// Reads the header block and the body its Content-Length announces, giving
// up after a few seconds of silence.
std::string ReadRequest(int fd) {
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
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 3000) <= 0) return data;
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) return data;
        data.append(buf, static_cast<size_t>(n));
    }
}

}  // namespace

FakeOrigin::FakeOrigin(std::string response) {
    responder_ = [response](int fd, const std::string&) { SendAll(fd, response); };
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    ::listen(listenFd_, 128);
    acceptor_ = std::thread([this] {
        for (;;) {
            int fd = ::accept(listenFd_, nullptr, nullptr);
            if (fd < 0) {
                if (stopping_) return;
                continue;
            }
            std::lock_guard<std::mutex> g(lock_);
            if (stopping_) {
                ::close(fd);
                return;
            }
            openSockets_.push_back(fd);
            handlers_.emplace_back([this, fd] { Serve(fd); });
        }
    });
}

FakeOrigin::~FakeOrigin() {
    stopping_ = true;
    ::shutdown(listenFd_, SHUT_RDWR);
    acceptor_.join();
    ::close(listenFd_);
    std::vector<std::thread> handlers;
    {
        std::lock_guard<std::mutex> g(lock_);
        for (int fd : openSockets_) ::shutdown(fd, SHUT_RDWR);
        handlers.swap(handlers_);
    }
    for (auto& t : handlers) t.join();
}

void FakeOrigin::SetResponder(Responder responder) {
    std::lock_guard<std::mutex> g(lock_);
    responder_ = std::move(responder);
}

void FakeOrigin::Serve(int fd) {
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
    ::shutdown(fd, SHUT_RDWR);
    ::close(fd);
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

bool FakeOrigin::SendAll(int fd, const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace testsupport
