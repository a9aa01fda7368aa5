#include "LoadOrigin.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <stdexcept>

#include "Content.h"

namespace e2e {

namespace {

constexpr int kIoTimeoutSeconds = 30;
constexpr int kStallLimitMs = 30000;
constexpr size_t kFaultAnnounced = 200000;

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
bool SendAll(int fd, const std::string& bytes) { return SendAll(fd, bytes.data(), bytes.size()); }

// Reads up to the end of the header block; the bytes after it stay in `text`.
bool ReadHeader(int fd, std::string& text) {
    char buf[4096];
    while (text.find("\r\n\r\n") == std::string::npos) {
        if (text.size() > 65536) return false;
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);  // SO_RCVTIMEO bounds the wait
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        text.append(buf, static_cast<size_t>(n));
    }
    return true;
}

std::string Header(const char* type, long contentLength, const char* extra = "") {
    std::string h = std::string("HTTP/1.1 200 OK\r\nContent-Type: ") + type + "\r\n" + extra;
    if (contentLength >= 0) h += "Content-Length: " + std::to_string(contentLength) + "\r\n";
    return h + "Connection: close\r\n\r\n";
}

std::string Filler(size_t size) {
    std::string s;
    while (s.size() < size) s += "<p>filler text of a broken answer</p>\n";
    s.resize(size);
    return s;
}

// Ends the connection with a reset instead of an orderly close.
void Reset(int fd) {
    linger l{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
}

}  // namespace

std::string LoadOrigin::NormalResponse(const std::string& path) {
    size_t slash = path.rfind('/');
    int n = std::atoi(path.c_str() + slash + 1);
    std::string kind = path.substr(0, slash + 1);
    const char* html = "text/html; charset=utf-8";
    if (kind == "/html/plain/") {
        std::string body = PageBody(n);
        return Header(html, static_cast<long>(body.size())) + body;
    }
    if (kind == "/html/gzip/") {
        std::string body = Gzip(PageBody(n));
        return Header(html, static_cast<long>(body.size()), "Content-Encoding: gzip\r\n") + body;
    }
    if (kind == "/html/chunked/") return Header(html, -1, "Transfer-Encoding: chunked\r\n") + Chunked(PageBody(n), 1000 + n * 97);
    if (kind == "/html/chunkgz/")
        return Header(html, -1, "Transfer-Encoding: chunked\r\nContent-Encoding: gzip\r\n") +
               Chunked(Gzip(PageBody(n)), 512 + n * 61);
    if (kind == "/json/") {
        std::string body = JsonBody(n);
        return Header("application/json", static_cast<long>(body.size())) + body;
    }
    if (kind == "/bin/") return Header("application/octet-stream", static_cast<long>(kBinarySize)) + BinaryBody();
    return {};
}

LoadOrigin::LoadOrigin(int threads) {
    for (Kind kind : {Kind::HtmlPlain, Kind::HtmlGzip, Kind::HtmlChunked, Kind::HtmlChunkedGzip, Kind::Json})
        for (int n = 0; n < kPageVariants; ++n) responses_[PathOf(kind, n)] = NormalResponse(PathOf(kind, n));
    responses_["/bin/"] = NormalResponse("/bin/0");

    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0 || ::listen(listenFd_, 4096) != 0)
        throw std::runtime_error("the origin cannot listen");
    port_ = ntohs(addr.sin_port);
    for (int i = 0; i < threads; ++i) workers_.emplace_back([this] { Work(); });
}

LoadOrigin::~LoadOrigin() {
    {
        std::lock_guard<std::mutex> g(lock_);
        stopping_ = true;
        for (int fd : open_) ::shutdown(fd, SHUT_RDWR);
    }
    changed_.notify_all();
    ::shutdown(listenFd_, SHUT_RDWR);  // wakes every blocked accept
    for (auto& t : workers_) t.join();
    ::close(listenFd_);
}

std::vector<size_t> LoadOrigin::Uploads() const {
    std::lock_guard<std::mutex> g(lock_);
    return uploads_;
}

bool LoadOrigin::WaitStalled(size_t count, int timeoutMs) {
    std::unique_lock<std::mutex> g(lock_);
    return changed_.wait_for(g, std::chrono::milliseconds(timeoutMs), [&] { return stalled_ >= count; });
}

void LoadOrigin::ReleaseStalls() {
    {
        std::lock_guard<std::mutex> g(lock_);
        ++releaseGeneration_;
    }
    changed_.notify_all();
}

bool LoadOrigin::TrackSocket(int fd) {
    std::lock_guard<std::mutex> g(lock_);
    if (stopping_) return false;
    open_.insert(fd);
    return true;
}

void LoadOrigin::UntrackSocket(int fd) {
    std::lock_guard<std::mutex> g(lock_);
    open_.erase(fd);
}

void LoadOrigin::Work() {
    while (!stopping_) {
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED || errno == EMFILE || errno == ENFILE) {
                if (errno == EMFILE || errno == ENFILE) std::this_thread::sleep_for(std::chrono::milliseconds(10));
                continue;
            }
            return;  // the listening socket was shut down
        }
        timeval tv{kIoTimeoutSeconds, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
        if (TrackSocket(fd)) {
            Serve(fd);
            UntrackSocket(fd);
        }
        ::close(fd);
    }
}

void LoadOrigin::Serve(int fd) {
    std::string request;
    if (!ReadHeader(fd, request)) return;
    size_t sp1 = request.find(' ');
    size_t sp2 = sp1 == std::string::npos ? sp1 : request.find(' ', sp1 + 1);
    if (sp2 == std::string::npos) return;
    std::string path = request.substr(sp1 + 1, sp2 - sp1 - 1);
    path = path.substr(0, path.find('?'));

    if (path.compare(0, 5, "/bin/") == 0) {
        const std::string& whole = responses_.at("/bin/");
        if (SendAll(fd, whole)) ++answered_;
    } else if (auto it = responses_.find(path); it != responses_.end()) {
        if (SendAll(fd, it->second)) ++answered_;
    } else if (path == "/upload") {
        Upload(fd, request);
    } else if (path.compare(0, 7, "/fault/") == 0) {
        std::string rest = path.substr(7);
        size_t slash = rest.find('/');
        if (!Fault(fd, rest.substr(0, slash), slash == std::string::npos ? "" : rest.substr(slash + 1))) return;
    } else {
        SendAll(fd, "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    }
    ::shutdown(fd, SHUT_WR);
}

bool LoadOrigin::Fault(int fd, const std::string& what, const std::string& type) {
    const char* contentType = type == "html" ? "text/html" : "application/octet-stream";
    if (what == "headcut") {
        SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Len");
    } else if (what == "silent") {
        // nothing at all
    } else if (what == "reset") {
        SendAll(fd, Header(contentType, kFaultAnnounced) + Filler(kFaultAnnounced / 2));
        Reset(fd);
        return false;
    } else if (what == "short") {
        SendAll(fd, Header(contentType, kFaultAnnounced) + Filler(kFaultAnnounced / 2));
    } else if (what == "long") {
        SendAll(fd, Header(contentType, kFaultAnnounced / 2) + Filler(kFaultAnnounced));
    } else if (what == "stall") {
        SendAll(fd, Header(contentType, kFaultAnnounced) + Filler(kFaultAnnounced / 2));
        std::unique_lock<std::mutex> g(lock_);
        uint64_t generation = releaseGeneration_;
        ++stalled_;
        changed_.notify_all();
        changed_.wait_for(g, std::chrono::milliseconds(kStallLimitMs),
                          [&] { return stopping_ || releaseGeneration_ != generation; });
        --stalled_;
    }
    return true;
}

void LoadOrigin::Upload(int fd, const std::string& request) {
    size_t end = request.find("\r\n\r\n") + 4;
    size_t announced = 0;
    size_t at = request.find("Content-Length: ");
    if (at != std::string::npos && at < end) announced = std::strtoul(request.c_str() + at + 16, nullptr, 10);
    size_t received = request.size() - end;
    char buf[65536];
    while (received < announced) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 2000) <= 0) break;
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        received += static_cast<size_t>(n);
    }
    {
        std::lock_guard<std::mutex> g(lock_);
        uploads_.push_back(received);
    }
    std::string body = "received " + std::to_string(received);
    SendAll(fd, Header("text/plain", static_cast<long>(body.size())) + body);
}

}  // namespace e2e
