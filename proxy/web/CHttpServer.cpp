#include "web/CHttpServer.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <system_error>
#include <thread>

#include "net/CLocalProxy.h"
#include "web/RequestPath.h"

namespace {

constexpr char kNotFound[] = "HTTP/1.1 404 Not Found\nContent-Type: text/html\r\n\r\nNot found.";
constexpr char kParamScript[] = "/param.js";
constexpr char kCompletedPage[] = "/OperationCompleted.html";
constexpr char kUnlockPage[] = "/ShowUnlock.html";

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
    while (IsListening()) {
        platform::Socket client;
        if (Accept(client) == platform::kInvalidSocket) {
            // Out of descriptors or an aborted handshake: try again without
            // spinning; a closed listening socket ends the loop.
            if (IsListening()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        if (!BeginRequest(client)) {
            platform::CloseSocket(client);  // accepted while stopping
            continue;
        }
        try {
            std::thread(&CHttpServer::HandleRequest, std::make_unique<RequestRecord>(RequestRecord{client, this}))
                .detach();
        } catch (...) {
            EndRequest(client);  // no thread: drop the connection
        }
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
}

size_t CHttpServer::RunningRequests() const {
    std::lock_guard<std::mutex> g(requestsLock_);
    return running_;
}

bool CHttpServer::BeginRequest(platform::Socket socket) {
    std::lock_guard<std::mutex> g(requestsLock_);
    if (stopping_) return false;
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

void CHttpServer::HandleRequest(std::unique_ptr<RequestRecord> record) {
    CHttpServer* server = record->server;
    platform::Socket socket = record->socket;
    record.reset();
    server->Serve(socket);
    server->EndRequest(socket);
}

void CHttpServer::Serve(platform::Socket socket) {
    char request[kRequestBufferSize];
    int received = Recv(socket, request, static_cast<int>(sizeof request));
    if (received <= 0) return;
    Reply reply = Answer(std::string_view(request, static_cast<size_t>(received)));
    if (!reply.found) return SendNotFound(socket);
    // The header in one plain send; a failure shows in the body's send.
    if (!reply.header.empty()) platform::SendSome(socket, reply.header.data(), static_cast<int>(reply.header.size()));
    Send(socket, reply.body.data(), static_cast<int>(reply.body.size()));
}

CHttpServer::Reply CHttpServer::Answer(std::string_view request) {
    Reply reply;
    // A request that fills the buffer may have been cut anywhere; refuse it
    // rather than act on part of it.
    if (request.size() >= kRequestBufferSize) return reply;

    std::string path = ParseRequestPath(request);
    SuffixAndParameter command = SplitSuffixAndParameter(path);
    if (command.suffix.size() >= kSuffixSize) return reply;
    LowerAscii(command.suffix);

    if (controls.Dispatch(command.suffix, command.hasParameter ? command.parameter.c_str() : nullptr)) {
        if (command.suffix == ".white" && config.Config().whiteListLock.load() == 1) {
            path = kUnlockPage;
        } else {
            if (proxy) proxy->ReloadUserFilters();
            path = kCompletedPage;
        }
        command.suffix = ".html";
    }

    if (LeavesPageFolder(path)) return reply;
    std::string fileName = root + path;
    if (fileName.size() >= kFileNameSize) return reply;

    // param.js carries settings that change while the server runs.
    reply.body = ReadFileCached(fileName, path != kParamScript);
    if (reply.body.empty()) return reply;
    reply.found = true;
    reply.header = FormatHeader(static_cast<int>(reply.body.size()), MimeTypeFor(command.suffix));
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
    std::ifstream in(fileName, std::ios::binary);
    if (!in) return {};
    in.seekg(0, std::ios::end);
    long long size = static_cast<long long>(in.tellg());
    if (size <= 0 || size > kMaxFileSize) return {};
    in.seekg(0, std::ios::beg);
    std::string bytes(static_cast<size_t>(size), '\0');
    in.read(bytes.data(), size);
    bytes.resize(static_cast<size_t>(in.gcount()));
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

void CHttpServer::SendHeader(platform::Socket socket, int bodyLength, const char* contentType) {
    std::string header = FormatHeader(bodyLength, contentType);
    if (header.empty()) return;
    platform::SendSome(socket, header.data(), static_cast<int>(header.size()));  // one plain send; a failure shows in the body's send
}
