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
#include "net/Limits.h"
#include "net/ThreadPool.h"
#include "web/ConfirmationTokens.h"
#include "web/ControlRegistry.h"
#include "web/RequestHeaders.h"
#include "web/RequestPath.h"

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
// read with a single receive (a command is read on to the end of its header
// block and, for a confirmation, of its short body); each connection is
// served on a thread of the server's own pool.
//
// Only requests that name the server by one of its own names are answered.
// A command that a web page made the browser send is not run: it is answered
// with a confirmation page whose form, posted back from this server's own
// origin with its one-time token, runs it. Entries that would match nearly
// everything are refused.
//
// Stop order for the owner: Stop() (or the destructor, which calls it) closes
// the listening socket, wakes every request still waiting on its browser and
// waits until ServeRequests has returned and every request has finished with
// this object, then joins the pool's threads. The proxy given at construction must stay alive
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
    // request names. `request` is what the receives returned.
    enum class ReplyKind {
        NotFound,      // the 404 text
        Page,          // a file of the page folder (a command's answer page among them)
        Confirmation,  // the confirmation page of a command a web page asked for
        Refusal,       // the page saying why a command's entry was refused
    };
    struct Reply {
        bool found = false;  // anything but NotFound
        ReplyKind kind = ReplyKind::NotFound;
        std::string header;  // empty when it could not be formatted (the page is sent all the same)
        std::string body;
    };
    Reply Answer(std::string_view request);
    // How many more bytes the request needs before it can be answered: the
    // rest of a command's header block, or of a confirmation's body; 0 when
    // it is complete as it is (or never will be).
    size_t MoreBytesWanted(std::string_view request) const;
    // The header announcing a page of this length and type; empty when it
    // does not fit the header buffer.
    static std::string FormatHeader(int bodyLength, const char* contentType);
    // The confirmation page's header: the same, in UTF-8, and never to be
    // shown inside another page's frame.
    static std::string FormatConfirmationHeader(int bodyLength);

    std::string ReadFileCached(const std::string& fileName, bool useCache);
    static std::string ReadWholeFile(const std::string& fileName);
    void SendNotFound(platform::Socket socket);

    size_t CachedFileCount() const { return files.size(); }
    size_t RunningRequests() const;
    // Confirmation pages answered whose token is still good.
    size_t OpenConfirmations() const;

    // Files larger than this are not served (a page folder holds pages and
    // scripts; this keeps one request from claiming unbounded memory).
    static constexpr long long kMaxFileSize = 64ll * 1024 * 1024;
    // A confirmation's body is "token=" and the token; a longer one is refused
    // unread.
    static constexpr long kMaxPostBody = 1024;
    // Requests served at a time; a further one is closed at once. Set before serving.
    size_t maxRequests = Limits{}.maxWebRequests;
    // A browser must have sent its whole request this long after it was
    // accepted; a silent or dribbling one is closed unanswered, so it cannot
    // hold one of the request slots for ever. Set before serving.
    int requestMs = Limits{}.requestHeaderMs;
    // A request thread left without work this long ends. Set before serving.
    int idleThreadMs = Limits{}.idleThreadMs;
    const ThreadPool& RequestThreads() const { return threads_; }

private:
    struct RequestRecord {
        platform::Socket socket;
        CHttpServer* server;
    };
    static void HandleRequest(RequestRecord record);
    // Everything between the receive and the close of one request.
    void Serve(platform::Socket socket);
    // A request whose path names a command.
    Reply AnswerCommand(std::string_view request, const RequestHeaders& headers, const SuffixAndParameter& command);
    // Runs the command and answers with its answer page.
    Reply RunCommand(const SuffixAndParameter& command);
    // A file of the page folder, typed by the suffix.
    Reply AnswerFile(const std::string& path, const std::string& suffix);
    // Bookkeeping of request threads, under requestsLock_.
    bool BeginRequest(platform::Socket socket);  // false once stopping or with maxRequests running
    void EndRequest(platform::Socket socket);    // closes the socket; a request thread's last touch of this object

    const std::string root;
    FileCache files;
    CProxyConfig& config;
    ControlRegistry controls;
    CLocalProxy* const proxy;  // not owned
    ConfirmationTokens tokens;

    mutable std::mutex requestsLock_;
    std::condition_variable requestsDone_;
    std::set<platform::Socket> inFlight_;  // sockets of running requests, shut down by Stop
    size_t running_ = 0;        // request threads started and not yet ended
    bool serving_ = false;      // ServeRequests is running
    bool stopping_ = false;
    // Runs HandleRequest; as many threads as requests may run at a time.
    ThreadPool threads_{Limits{}.maxWebRequests, std::chrono::milliseconds(Limits{}.idleThreadMs)};
};
