#pragma once

#include <condition_variable>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>

#include <sievekit/CProxyConfig.h>

#include "net/CSocketBase.h"
#include "web/ControlRegistry.h"

class CLocalProxy;

// File contents by full file name. Entries are added on first read and kept
// for the server's life; an empty file is never stored.
class FileCache {
public:
    bool Lookup(const std::string& fileName, std::string& bytes) const;
    // The first stored copy wins.
    void Insert(const std::string& fileName, const std::string& bytes);
    size_t size() const;

private:
    mutable std::mutex lock_;
    std::map<std::string, std::string> files_;
};

// The local web server: serves the pages of the page folder and runs the
// control commands named by a request's suffix. One request per connection,
// read with a single receive; each connection is served on a detached thread.
//
// Stop order for the owner: Stop() (or the destructor, which calls it) closes
// the listening socket, wakes every request still waiting on its browser and
// waits until ServeRequests has returned and every request thread has
// finished with this object. The proxy given at construction must stay alive
// until Stop() has returned, since a command reloads its filters.
class CHttpServer : public CSocketBase {
public:
    CHttpServer(uint16_t port, std::string listenAddress, const char* root, CLocalProxy* proxy,
                CProxyConfig& config = ProxyConfig());
    ~CHttpServer() override;

    // The accept loop; returns once the listening socket is closed.
    void ServeRequests();
    // Closes the listening socket and waits for the accept loop and every
    // request thread. Safe to call more than once and from any thread but a
    // request thread.
    void Stop();

    // The answer to one received request, decided without the socket: the
    // not-found text, or a header and the page. Runs the control command the
    // request names. `request` is what one receive returned.
    struct Reply {
        bool found = false;
        std::string header;  // empty when it could not be formatted (the page is sent all the same)
        std::string body;
    };
    Reply Answer(std::string_view request);
    // The header announcing a page of this length and type; empty when it
    // does not fit the header buffer.
    static std::string FormatHeader(int bodyLength, const char* contentType);

    std::string ReadFileCached(const std::string& fileName, bool useCache);
    static std::string ReadWholeFile(const std::string& fileName);
    void SendNotFound(platform::Socket socket);
    void SendHeader(platform::Socket socket, int bodyLength, const char* contentType);

    size_t CachedFileCount() const { return files.size(); }
    size_t RunningRequests() const;

    // Files larger than this are not served (a page folder holds pages and
    // scripts; this keeps one request from claiming unbounded memory).
    static constexpr long long kMaxFileSize = 64ll * 1024 * 1024;

private:
    struct RequestRecord {
        platform::Socket socket;
        CHttpServer* server;
    };
    static void HandleRequest(std::unique_ptr<RequestRecord> record);
    // Everything between the receive and the close of one request.
    void Serve(platform::Socket socket);
    // Bookkeeping of request threads, under requestsLock_.
    bool BeginRequest(platform::Socket socket);  // false once stopping
    void EndRequest(platform::Socket socket);    // closes the socket; a request thread's last touch of this object

    const std::string root;
    FileCache files;
    CProxyConfig& config;
    ControlRegistry controls;
    CLocalProxy* const proxy;  // not owned

    mutable std::mutex requestsLock_;
    std::condition_variable requestsDone_;
    std::set<platform::Socket> inFlight_;  // sockets of running requests, shut down by Stop
    size_t running_ = 0;        // request threads started and not yet ended
    bool serving_ = false;      // ServeRequests is running
    bool stopping_ = false;
};
