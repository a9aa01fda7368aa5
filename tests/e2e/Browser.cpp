#include "Browser.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace e2e {

bool Connection::Open(uint16_t port) {
    Close();
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        Close();
        return false;
    }
    return true;
}

bool Connection::Send(std::string_view bytes) {
    if (fd_ < 0) return false;
    while (!bytes.empty()) {
        pollfd p{fd_, POLLOUT, 0};
        if (::poll(&p, 1, 10000) <= 0) return false;
        ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

Connection::Read Connection::ReadUntil(size_t count, int timeoutMs) {
    Read r;
    if (fd_ < 0) {
        r.closed = true;
        return r;
    }
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    char buf[65536];
    while (r.bytes.size() < count) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
        if (left <= 0) return r;
        pollfd p{fd_, POLLIN, 0};
        int ready = ::poll(&p, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return r;
        ssize_t n = ::recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) {
            r.closed = true;
            r.reset = n < 0;
            return r;
        }
        r.bytes.append(buf, static_cast<size_t>(n));
    }
    return r;
}

Connection::Read Connection::ReadAll(int timeoutMs) { return ReadUntil(static_cast<size_t>(-1), timeoutMs); }
Connection::Read Connection::ReadAtLeast(size_t count, int timeoutMs) { return ReadUntil(count, timeoutMs); }

Connection::Read Connection::ReadResponse(int timeoutMs) {
    Read r;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        Response sofar = ParseResponse(r.bytes);
        if (sofar.complete && sofar.contentLength >= 0 && sofar.body.size() >= static_cast<size_t>(sofar.contentLength))
            return r;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
        if (left <= 0) return r;
        Read more = ReadUntil(1, static_cast<int>(left));
        r.bytes += more.bytes;
        if (more.closed) {
            r.closed = true;
            r.reset = more.reset;
            return r;
        }
    }
}

void Connection::Abort() {
    if (fd_ < 0) return;
    linger l{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    Close();
}

void Connection::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

std::string ProxyGet(uint16_t originPort, const std::string& path, const std::string& host) {
    return "GET http://" + host + ":" + std::to_string(originPort) + path + " HTTP/1.1\r\nHost: " + host + ":" +
           std::to_string(originPort) +
           "\r\nUser-Agent: e2e\r\nAccept: */*\r\nAccept-Encoding: gzip, deflate, br\r\n"
           "Proxy-Connection: keep-alive\r\n\r\n";
}

Response ParseResponse(const std::string& raw) {
    Response r;
    size_t end = raw.find("\r\n\r\n");
    if (end == std::string::npos) return r;
    r.complete = true;
    r.head = raw.substr(0, end + 4);
    r.body = raw.substr(end + 4);
    r.statusLine = raw.substr(0, raw.find("\r\n"));
    size_t at = r.head.find("\r\nContent-Length: ");
    if (at != std::string::npos) r.contentLength = std::strtol(r.head.c_str() + at + 18, nullptr, 10);
    return r;
}

std::string CheckNormal(Kind kind, int n, const Connection::Read& read) {
    std::string what = PathOf(kind, n) + ": ";
    if (!read.closed) return what + "the proxy did not close the connection in time (" + std::to_string(read.bytes.size()) + " bytes)";
    Response r = ParseResponse(read.bytes);
    if (!r.complete) return what + "no header block in " + std::to_string(read.bytes.size()) + " bytes";
    if (r.statusLine != "HTTP/1.1 200 OK") return what + "status " + r.statusLine;
    if (r.contentLength != static_cast<long>(r.body.size()))
        return what + "Content-Length " + std::to_string(r.contentLength) + " for a body of " + std::to_string(r.body.size());
    std::string expected = ExpectedBody(kind, n);
    if (r.body.size() != expected.size())
        return what + "body of " + std::to_string(r.body.size()) + " bytes, expected " + std::to_string(expected.size());
    if (Checksum(r.body) != Checksum(expected)) return what + "body corrupted (checksum differs)";
    return {};
}

std::string FetchAndCheck(uint16_t proxyPort, uint16_t originPort, Kind kind, int n, const std::string& query,
                          int timeoutMs) {
    Connection c;
    if (!c.Open(proxyPort)) return PathOf(kind, n) + ": no connection to the proxy";
    if (!c.Send(ProxyGet(originPort, PathOf(kind, n) + query))) return PathOf(kind, n) + ": request not sent";
    return CheckNormal(kind, n, c.ReadAll(timeoutMs));
}

LoadStats RunLoad(int count, int concurrency, int deadlineMs, const std::function<std::string(int)>& one,
                  const std::atomic<bool>* cancel) {
    LoadStats stats;
    std::mutex lock;
    std::atomic<int> next{0};
    auto start = std::chrono::steady_clock::now();
    auto deadline = start + std::chrono::milliseconds(deadlineMs);
    std::vector<std::thread> threads;
    for (int t = 0; t < concurrency; ++t) {
        threads.emplace_back([&] {
            for (;;) {
                if (std::chrono::steady_clock::now() > deadline || (cancel && *cancel)) return;
                int i = next.fetch_add(1);
                if (i >= count) return;
                std::string failure = one(i);
                std::lock_guard<std::mutex> g(lock);
                ++stats.started;
                if (!failure.empty()) {
                    ++stats.failed;
                    if (stats.failures.size() < 10) stats.failures.push_back(failure);
                }
            }
        });
    }
    for (auto& t : threads) t.join();
    stats.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return stats;
}

}  // namespace e2e
