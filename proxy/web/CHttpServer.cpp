#include "web/CHttpServer.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string_view>
#include <thread>

#include <platform/File.h>
#include <platform/Tick.h>
#include <platform/TimedReceive.h>

#include "net/CLocalProxy.h"
#include "web/AnswerPages.h"
#include "web/EntryCheck.h"
#include "web/RequestGuard.h"
#include "web/RequestPath.h"

namespace {

constexpr char kNotFound[] = "HTTP/1.1 404 Not Found\nContent-Type: text/html\r\n\r\nNot found.";
constexpr char kParamScript[] = "/param.js";
constexpr char kCompletedPage[] = "/OperationCompleted.html";
constexpr char kUnlockPage[] = "/ShowUnlock.html";
constexpr std::string_view kTokenField = "token=";

// "application/x-www-form-urlencoded", parameters after ";" allowed.
bool IsFormEncoded(std::string_view contentType) {
    std::string_view type = contentType.substr(0, contentType.find(';'));
    while (!type.empty() && (type.back() == ' ' || type.back() == '\t')) type.remove_suffix(1);
    return EqualsIgnoringCase(type, "application/x-www-form-urlencoded");
}

// The Content-Length of a request that has one, once, and within the bound;
// -1 otherwise.
long BoundedContentLength(const RequestHeaders& headers) {
    if (headers.Count("Content-Length") != 1) return -1;
    long length = ParseContentLength(headers.Value("Content-Length"));
    return length > CHttpServer::kMaxPostBody ? -1 : length;
}

}  // namespace

bool FileCache::Lookup(const std::string& fileName, std::string& bytes) const {
    std::lock_guard<std::mutex> g(lock_);
    auto it = files_.find(fileName);
    if (it == files_.end()) return false;
    bytes = it->second;
    return true;
}

void FileCache::Insert(const std::string& fileName, const std::string& bytes) {
    std::lock_guard<std::mutex> g(lock_);
    files_.emplace(fileName, bytes);
}

size_t FileCache::size() const {
    std::lock_guard<std::mutex> g(lock_);
    return files_.size();
}

CHttpServer::CHttpServer(uint16_t port, std::string listenAddress, const char* root, CLocalProxy* proxy,
                         CProxyConfig& config)
    : CSocketBase(port, std::move(listenAddress)),
      root(root ? root : ""),
      config(config),
      controls(config),
      proxy(proxy) {}

CHttpServer::~CHttpServer() { Stop(); }

void CHttpServer::ServeRequests() {
    {
        std::lock_guard<std::mutex> g(requestsLock_);
        if (stopping_) return;
        serving_ = true;
    }
    threads_.Configure(maxRequests, std::chrono::milliseconds(idleThreadMs));
    while (IsListening()) {
        platform::Socket client;
        if (Accept(client) == platform::kInvalidSocket) {
            // Out of descriptors or an aborted handshake: try again without
            // spinning; a closed listening socket ends the loop.
            if (IsListening()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        if (!BeginRequest(client)) {
            platform::CloseSocket(client);  // accepted while stopping, or one too many
            continue;
        }
        if (threads_.Run([record = RequestRecord{client, this}] { HandleRequest(record); }) !=
            ThreadPool::Start::Started)
            EndRequest(client);  // no thread: drop the connection
    }
    std::lock_guard<std::mutex> g(requestsLock_);
    serving_ = false;
    requestsDone_.notify_all();
}

void CHttpServer::Stop() {
    CloseListenSocket();
    std::unique_lock<std::mutex> lk(requestsLock_);
    stopping_ = true;
    // A request still waiting for its browser's bytes wakes with an error.
    for (platform::Socket s : inFlight_) platform::ShutdownSocket(s);
    requestsDone_.wait(lk, [this] { return running_ == 0 && !serving_; });
    lk.unlock();
    threads_.Stop();
}

size_t CHttpServer::RunningRequests() const {
    std::lock_guard<std::mutex> g(requestsLock_);
    return running_;
}

bool CHttpServer::BeginRequest(platform::Socket socket) {
    std::lock_guard<std::mutex> g(requestsLock_);
    if (stopping_ || running_ >= maxRequests) return false;
    inFlight_.insert(socket);
    ++running_;
    return true;
}

void CHttpServer::EndRequest(platform::Socket socket) {
    // Closed under the lock, so Stop never shuts down a number the system
    // has already handed to another connection. The notify happens under the
    // lock too: the waiting Stop cannot return (and the server cannot go)
    // before this thread has let go of the lock.
    std::lock_guard<std::mutex> g(requestsLock_);
    inFlight_.erase(socket);
    platform::CloseSocket(socket);
    --running_;
    requestsDone_.notify_all();
}

void CHttpServer::HandleRequest(RequestRecord record) {
    record.server->Serve(record.socket);
    record.server->EndRequest(record.socket);
}

void CHttpServer::Serve(platform::Socket socket) {
    char request[kRequestBufferSize];
    const uint64_t deadline = platform::TickCount() + static_cast<uint64_t>(std::max(requestMs, 0));
    int received = platform::ReceiveBefore(socket, request, static_cast<int>(sizeof request), deadline);
    if (received <= 0) return;
    size_t have = static_cast<size_t>(received);
    // Pages are answered from the one receive; a command waits for the rest
    // of what decides it, never beyond the buffer or a confirmation's length.
    for (size_t want; (want = MoreBytesWanted(std::string_view(request, have))) > 0;) {
        int n = platform::ReceiveBefore(socket, request + have, static_cast<int>(want), deadline);
        if (n == platform::kReceiveTimedOut) return;  // what decides the command never came
        if (n <= 0) break;
        have += static_cast<size_t>(n);
    }
    Reply reply = Answer(std::string_view(request, have));
    if (!reply.found) return SendNotFound(socket);
    // The header in one plain send; a failure shows in the body's send.
    if (!reply.header.empty()) platform::SendSome(socket, reply.header.data(), static_cast<int>(reply.header.size()));
    Send(socket, reply.body.data(), static_cast<int>(reply.body.size()));
}

size_t CHttpServer::OpenConfirmations() const { return tokens.OpenCount(platform::TickCount()); }

size_t CHttpServer::MoreBytesWanted(std::string_view request) const {
    if (request.size() >= kRequestBufferSize) return 0;
    SuffixAndParameter command = SplitSuffixAndParameter(ParseRequestPath(request));
    LowerAscii(command.suffix);
    if (!controls.Handles(command.suffix)) return 0;
    const size_t room = kRequestBufferSize - request.size();
    RequestHeaders headers = ParseRequestHeaders(request);
    if (!headers.complete) return room;
    if (!IsPostLine(request)) return 0;
    const long length = BoundedContentLength(headers);
    const size_t arrived = request.size() - headers.bodyStart;
    if (length < 0 || arrived >= static_cast<size_t>(length)) return 0;
    return std::min(static_cast<size_t>(length) - arrived, room);
}

CHttpServer::Reply CHttpServer::Answer(std::string_view request) {
    // A request that fills the buffer may have been cut anywhere; refuse it
    // rather than act on part of it.
    if (request.size() >= kRequestBufferSize) return {};

    // Only its own names reach the server: a page whose name was pointed at
    // this machine (DNS rebinding) is sent away before anything runs.
    RequestHeaders headers = ParseRequestHeaders(request);
    const size_t hosts = headers.Count("Host");
    if (hosts > 1 || (hosts == 1 && !IsOwnHost(headers.Value("Host"), listenAddress, Port()))) return {};

    std::string path = ParseRequestPath(request);
    SuffixAndParameter command = SplitSuffixAndParameter(path);
    if (command.suffix.size() >= kSuffixSize) return {};
    LowerAscii(command.suffix);
    if (controls.Handles(command.suffix)) return AnswerCommand(request, headers, command);
    return AnswerFile(path, command.suffix);
}

CHttpServer::Reply CHttpServer::AnswerCommand(std::string_view request, const RequestHeaders& headers,
                                              const SuffixAndParameter& command) {
    // What decides a command is in its header block: it must be whole.
    if (!headers.complete) return {};
    const RequestSource source = ClassifyRequestSource(headers, listenAddress, Port());

    if (IsPostLine(request)) {
        // Only the confirmation form, posted from this server's own page with
        // the token made for exactly this command, runs it.
        if (source != RequestSource::OwnPage || !IsFormEncoded(headers.Value("Content-Type"))) return {};
        const long length = BoundedContentLength(headers);
        if (length < 0 || request.size() - headers.bodyStart < static_cast<size_t>(length)) return {};
        const std::string_view body = request.substr(headers.bodyStart, static_cast<size_t>(length));
        if (!body.starts_with(kTokenField)) return {};
        if (!tokens.Redeem(body.substr(kTokenField.size()), command, platform::TickCount())) return {};
        return RunCommand(command);
    }

    Reply reply;
    const EntryVerdict verdict = CheckEntry(command);
    if (verdict != EntryVerdict::Accepted) {
        reply.body = RefusalPage(verdict, command);
        reply.kind = ReplyKind::Refusal;
        reply.header = FormatHeader(static_cast<int>(reply.body.size()), "text/html");
    } else if (source == RequestSource::Direct) {
        return RunCommand(command);
    } else {
        const std::string token = tokens.Issue(command, platform::TickCount());
        if (token.empty()) return {};  // no random source: nothing can be confirmed
        reply.body = ConfirmationPage(command, token);
        reply.kind = ReplyKind::Confirmation;
        reply.header = FormatConfirmationHeader(static_cast<int>(reply.body.size()));
    }
    reply.found = true;
    return reply;
}

CHttpServer::Reply CHttpServer::RunCommand(const SuffixAndParameter& command) {
    // A token is only ever made for an accepted entry; the check stays here
    // so that no path runs a refused one.
    if (CheckEntry(command) != EntryVerdict::Accepted) return {};
    if (!controls.Dispatch(command.suffix, command.hasParameter ? command.parameter.c_str() : nullptr)) return {};
    if (command.suffix == ".white" && config.Config().whiteListLock.load() == 1) return AnswerFile(kUnlockPage, ".html");
    if (proxy) proxy->ReloadUserFilters();
    return AnswerFile(kCompletedPage, ".html");
}

CHttpServer::Reply CHttpServer::AnswerFile(const std::string& path, const std::string& suffix) {
    Reply reply;
    if (LeavesPageFolder(path)) return reply;
    std::string fileName = root + path;
    if (fileName.size() >= kFileNameSize) return reply;

    // param.js carries settings that change while the server runs.
    reply.body = ReadFileCached(fileName, path != kParamScript);
    if (reply.body.empty()) return reply;
    reply.found = true;
    reply.kind = ReplyKind::Page;
    reply.header = FormatHeader(static_cast<int>(reply.body.size()), MimeTypeFor(suffix));
    return reply;
}

std::string CHttpServer::ReadFileCached(const std::string& fileName, bool useCache) {
    if (fileName.empty()) return {};
    if (!useCache) return ReadWholeFile(fileName);
    std::string bytes;
    if (files.Lookup(fileName, bytes)) return bytes;
    // Read outside the lock: two first requests may both read, the first
    // stored copy wins.
    bytes = ReadWholeFile(fileName);
    if (!bytes.empty()) files.Insert(fileName, bytes);
    return bytes;
}

std::string CHttpServer::ReadWholeFile(const std::string& fileName) {
    std::error_code ec;
    // A folder (the page folder itself, for an empty path) is not a page.
    if (!std::filesystem::is_regular_file(fileName, ec)) return {};
    const std::uintmax_t size = std::filesystem::file_size(fileName, ec);
    if (ec || size == 0 || size > static_cast<std::uintmax_t>(kMaxFileSize)) return {};
    std::string bytes;
    // Checked again: the file may have grown since its size was asked.
    if (!platform::ReadWholeFile(fileName, bytes) || bytes.size() > static_cast<size_t>(kMaxFileSize)) return {};
    return bytes;
}

void CHttpServer::SendNotFound(platform::Socket socket) { Send(socket, kNotFound, static_cast<int>(sizeof kNotFound - 1)); }

std::string CHttpServer::FormatHeader(int bodyLength, const char* contentType) {
    char header[256];
    int n = std::snprintf(header, sizeof header, "HTTP/1.0 %d OK\nContent-Type: %s\nContent-Length: %d\r\n\r\n", 200,
                          contentType, bodyLength);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof header) return {};
    return std::string(header, static_cast<size_t>(n));
}

std::string CHttpServer::FormatConfirmationHeader(int bodyLength) {
    char header[256];
    int n = std::snprintf(header, sizeof header,
                          "HTTP/1.0 200 OK\nContent-Type: text/html; charset=utf-8\nX-Frame-Options: DENY\n"
                          "Content-Security-Policy: frame-ancestors 'none'\nContent-Length: %d\r\n\r\n",
                          bodyLength);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof header) return {};
    return std::string(header, static_cast<size_t>(n));
}
