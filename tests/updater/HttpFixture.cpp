#include "HttpFixture.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace updatertest {

HttpFixture::HttpFixture() {
    origin_.SetResponder([this](platform::Socket client, const std::string& request) { Answer(client, request); });
}

std::string HttpFixture::base() const { return "http://127.0.0.1:" + std::to_string(port()); }

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

void HttpFixture::Answer(platform::Socket client, const std::string& request) {
    // The origin hands over the request once its header block is complete,
    // or whatever arrived before its deadline.
    if (request.find("\r\n\r\n") == std::string::npos) return;
    // "GET /path?query HTTP/1.1"
    const size_t firstSpace = request.find(' ');
    const size_t secondSpace = request.find(' ', firstSpace + 1);
    if (firstSpace == std::string::npos || secondSpace == std::string::npos) return;
    const std::string target = request.substr(firstSpace + 1, secondSpace - firstSpace - 1);
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
        testsupport::FakeOrigin::SendAll(
            client, "HTTP/1.0 404 Not Found\r\nContent-Length: 9\r\nConnection: close\r\n\r\nnot found");
        return;
    }
    const std::string header = "HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
                               std::to_string(resource.body.size()) + "\r\nConnection: close\r\n\r\n";
    if (!testsupport::FakeOrigin::SendAll(client, header)) return;
    const size_t piece = (resource.body.size() + resource.pieces - 1) / resource.pieces;
    for (size_t sent = 0; sent < resource.body.size(); sent += piece) {
        if (sent > 0 && resource.pauseMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(resource.pauseMs));
        if (!testsupport::FakeOrigin::SendAll(client, resource.body.substr(sent, std::min(piece, resource.body.size() - sent))))
            return;
    }
}

}  // namespace updatertest
