#include "HttpFixture.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>

namespace updatertest {

namespace {

constexpr int kReadDeadlineMs = 3000;

bool SendAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

HttpFixture::HttpFixture() {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    int wake[2];
    if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0 ||
        ::listen(listenFd_, 16) < 0 || ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) < 0 ||
        ::pipe2(wake, O_CLOEXEC) < 0)
        throw std::runtime_error("HttpFixture: cannot listen on 127.0.0.1");
    wakeRead_ = wake[0];
    wakeWrite_ = wake[1];
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { AcceptLoop(); });
}

HttpFixture::~HttpFixture() {
    const char stop = 1;
    (void)!::write(wakeWrite_, &stop, 1);
    thread_.join();
    ::close(listenFd_);
    ::close(wakeRead_);
    ::close(wakeWrite_);
}

std::string HttpFixture::base() const { return "http://127.0.0.1:" + std::to_string(port_); }

void HttpFixture::Serve(const std::string& path, const std::string& body) {
    std::lock_guard lock(mutex_);
    resources_[path] = Resource{body, 1, 0};
}

void HttpFixture::ServeSlowly(const std::string& path, const std::string& body, size_t pieces, int pauseMs) {
    std::lock_guard lock(mutex_);
    resources_[path] = Resource{body, pieces ? pieces : 1, pauseMs};
}

void HttpFixture::Remove(const std::string& path) {
    std::lock_guard lock(mutex_);
    resources_.erase(path);
}

std::vector<std::string> HttpFixture::Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

int HttpFixture::CountFor(const std::string& path) const {
    std::lock_guard lock(mutex_);
    int count = 0;
    for (const auto& target : requests_)
        if (target.substr(0, target.find('?')) == path) ++count;
    return count;
}

void HttpFixture::ClearRequests() {
    std::lock_guard lock(mutex_);
    requests_.clear();
}

void HttpFixture::AcceptLoop() {
    for (;;) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents) return;
        int client = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        Answer(client);
        ::close(client);
    }
}

void HttpFixture::Answer(int client) {
    std::string head;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kReadDeadlineMs);
    while (head.find("\r\n\r\n") == std::string::npos) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        pollfd p{client, POLLIN, 0};
        if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0) return;
        char buffer[1024];
        ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
        if (n <= 0) return;
        head.append(buffer, static_cast<size_t>(n));
    }
    // "GET /path?query HTTP/1.1"
    const size_t firstSpace = head.find(' ');
    const size_t secondSpace = head.find(' ', firstSpace + 1);
    if (firstSpace == std::string::npos || secondSpace == std::string::npos) return;
    const std::string target = head.substr(firstSpace + 1, secondSpace - firstSpace - 1);
    const std::string path = target.substr(0, target.find('?'));

    Resource resource;
    bool found = false;
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(target);
        auto it = resources_.find(path);
        if (it != resources_.end()) {
            resource = it->second;
            found = true;
        }
    }
    if (!found) {
        const std::string notFound = "HTTP/1.0 404 Not Found\r\nContent-Length: 9\r\nConnection: close\r\n\r\nnot found";
        SendAll(client, notFound.data(), notFound.size());
        return;
    }
    const std::string header = "HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
                               std::to_string(resource.body.size()) + "\r\nConnection: close\r\n\r\n";
    if (!SendAll(client, header.data(), header.size())) return;
    const size_t piece = (resource.body.size() + resource.pieces - 1) / resource.pieces;
    for (size_t sent = 0; sent < resource.body.size(); sent += piece) {
        if (sent > 0 && resource.pauseMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(resource.pauseMs));
        if (!SendAll(client, resource.body.data() + sent, std::min(piece, resource.body.size() - sent))) return;
    }
}

}  // namespace updatertest
