#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "Content.h"

namespace e2e {

// One browser connection to 127.0.0.1 whose every wait has a deadline.
class Connection {
public:
    Connection() = default;
    ~Connection() { Close(); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool Open(uint16_t port);
    bool Send(std::string_view bytes);

    struct Read {
        std::string bytes;
        bool closed = false;  // the peer closed (or reset) before the deadline
        bool reset = false;
    };
    // Reads until the peer closes or the deadline passes.
    Read ReadAll(int timeoutMs);
    // Reads until at least `count` bytes arrived, the peer closed, or the deadline.
    Read ReadAtLeast(size_t count, int timeoutMs);
    // Reads until a header block and the body its Content-Length announces
    // are in (or the peer closed, or the deadline passed); the connection
    // stays open, as a browser's that keeps it for the next request.
    Read ReadResponse(int timeoutMs);
    // Ends the connection with a reset, as a browser tab that is closed.
    void Abort();
    void Close();
    int fd() const { return fd_; }

private:
    Read ReadUntil(size_t count, int timeoutMs);
    int fd_ = -1;
};

// A proxy request for a path of the origin, as a browser sends it.
std::string ProxyGet(uint16_t originPort, const std::string& path, const std::string& host = "127.0.0.1");

struct Response {
    bool complete = false;  // a header block was found
    std::string statusLine;
    std::string head;       // header block including the blank line
    std::string body;
    long contentLength = -1;
};
Response ParseResponse(const std::string& raw);

// Empty when the exchange delivered variant n of the kind whole and intact:
// status 200, a Content-Length that matches, the expected body's checksum,
// and the connection closed by the proxy. Otherwise what was wrong.
std::string CheckNormal(Kind kind, int n, const Connection::Read& read);

// Fetches variant n of a kind through the proxy and checks it (CheckNormal);
// the query, if any, makes the URL distinct without changing the body.
std::string FetchAndCheck(uint16_t proxyPort, uint16_t originPort, Kind kind, int n, const std::string& query = "",
                          int timeoutMs = 30000);

struct LoadStats {
    int started = 0;
    int failed = 0;
    double seconds = 0;
    std::vector<std::string> failures;  // the first few
};
// Runs one(i) for i in [0, count) on `concurrency` threads; one returns an
// empty text on success or what went wrong. No new call starts after the
// deadline, nor after `cancel` (when given) turns true, so a broken proxy
// ends the run instead of hanging it.
LoadStats RunLoad(int count, int concurrency, int deadlineMs, const std::function<std::string(int)>& one,
                  const std::atomic<bool>* cancel = nullptr);

}  // namespace e2e
