#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "support/FakeOrigin.h"

namespace updatertest {

// A small HTTP/1.0 server on 127.0.0.1 (port picked by the system) serving
// bodies by path; unknown paths get 404. It records every request target
// (with its query) so tests can tell what was fetched. Every wait has a
// deadline, so a broken client cannot hang a test.
class HttpFixture {
public:
    HttpFixture();
    HttpFixture(const HttpFixture&) = delete;
    HttpFixture& operator=(const HttpFixture&) = delete;

    uint16_t port() const { return origin_.port(); }
    std::string base() const;  // "http://127.0.0.1:<port>"

    void Serve(const std::string& path, const std::string& body);
    void Remove(const std::string& path);
    // Sends the body in pieces with a pause between them, so a client sees
    // the transfer progress.
    void ServeSlowly(const std::string& path, const std::string& body, size_t pieces, int pauseMs);

    // Request targets in arrival order ("/a.txt?time=123").
    std::vector<std::string> Requests() const;
    // How many requests asked for this path (query ignored).
    int CountFor(const std::string& path) const;
    void ClearRequests();

private:
    struct Resource {
        std::string body;
        size_t pieces = 1;
        int pauseMs = 0;
    };
    void Answer(platform::Socket client, const std::string& request);

    mutable std::mutex mutex_;  // guards resources_ and requests_
    std::map<std::string, Resource> resources_;
    std::vector<std::string> requests_;
    testsupport::FakeOrigin origin_;  // last: its threads end before the rest goes
};

}  // namespace updatertest
