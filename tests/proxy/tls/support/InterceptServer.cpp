#include "InterceptServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace tlstest {

namespace {

constexpr int kWaitMs = 5000;

// Reads up to the end of a header block, every wait with the deadline.
bool ReadHeader(platform::Socket s, std::string& header) {
    char buffer[1024];
    while (header.find("\r\n\r\n") == std::string::npos) {
        if (header.size() > 8192 || platform::WaitReadable(s, kWaitMs).rc != 1) return false;
        int n = platform::RecvSome(s, buffer, 1).rc;  // byte by byte: nothing past the header is taken
        if (n <= 0) return false;
        header.append(buffer, static_cast<size_t>(n));
    }
    return true;
}

bool SendAll(platform::Socket s, const std::string& bytes) {
    for (size_t done = 0; done < bytes.size();) {
        int n = platform::SendSome(s, bytes.data() + done, static_cast<int>(bytes.size() - done)).rc;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// "CONNECT host:443 HTTP/1.1" -> host, without brackets.
std::string ConnectHost(const std::string& header) {
    const size_t start = header.find(' ');
    const size_t end = header.find(' ', start + 1);
    if (start == std::string::npos || end == std::string::npos) return {};
    std::string target = header.substr(start + 1, end - start - 1);
    if (!target.empty() && target[0] == '[') return target.substr(1, target.find(']') - 1);
    return target.substr(0, target.rfind(':'));
}

}  // namespace

InterceptServer::InterceptServer(tls::LeafCache& leaves, HandshakeSeen onHandshake)
    : leaves_(leaves), onHandshake_(std::move(onHandshake)) {
    std::string error;
    context_ = tls::ServerContext::Create(error);
    EXPECT_TRUE(context_) << error;
    listenSocket_ = platform::CreateTcpSocket().rc;
    EXPECT_EQ(platform::BindIPv4(listenSocket_, "127.0.0.1", 0).rc, 0);
    EXPECT_EQ(platform::ListenOn(listenSocket_, 256).rc, 0);
    port_ = platform::LocalPort(listenSocket_);
    acceptor_ = std::thread([this] { Accept(); });
}

InterceptServer::~InterceptServer() {
    {
        std::lock_guard<std::mutex> g(lock_);
        stopping_ = true;
        for (platform::Socket s : open_) platform::ShutdownSocket(s);
    }
    platform::ShutdownSocket(listenSocket_);
    platform::CloseSocket(listenSocket_);
    acceptor_.join();
    for (auto& w : workers_) w.join();  // the acceptor has ended: nobody adds workers
}

void InterceptServer::Accept() {
    for (;;) {
        platform::Socket s = platform::AcceptOn(listenSocket_).rc;
        if (s == platform::kInvalidSocket) return;
        std::lock_guard<std::mutex> g(lock_);
        if (stopping_) {
            platform::CloseSocket(s);
            return;
        }
        open_.push_back(s);
        workers_.emplace_back([this, s] { Serve(s); });
    }
}

void InterceptServer::Serve(platform::Socket s) {
    std::string header;
    if (ReadHeader(s, header) && SendAll(s, "HTTP/1.1 200 Connection established\r\n\r\n")) {
        const std::string host = ConnectHost(header);
        std::shared_ptr<const tls::Leaf> leaf = leaves_.Get(host);
        if (leaf && context_) {
            tls::Handshake hs = tls::TlsSession::Accept(*context_, s, *leaf, kWaitMs);
            if (onHandshake_) onHandshake_(host, hs.status);
            {
                std::lock_guard<std::mutex> g(lock_);
                statuses_.push_back(hs.status);
            }
            changed_.notify_all();
            if (hs.session) {
                std::string request;
                char buffer[4096];
                while (request.find("\r\n\r\n") == std::string::npos) {
                    tls::IoResult r = hs.session->Read(buffer, sizeof buffer, kWaitMs);
                    if (r.status != tls::IoResult::Status::Ok) break;
                    request.append(buffer, r.bytes);
                }
                const std::string body = "hello " + host;
                const std::string answer = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                                           "\r\nConnection: close\r\n\r\n" + body;
                hs.session->WriteAll(answer.data(), answer.size());
                hs.session->Close();
            }
        }
    }
    std::lock_guard<std::mutex> g(lock_);
    open_.erase(std::remove(open_.begin(), open_.end(), s), open_.end());
    platform::ShutdownSocket(s);
    platform::CloseSocket(s);
}

bool InterceptServer::WaitHandshakes(size_t count, int timeoutMs) {
    std::unique_lock<std::mutex> g(lock_);
    return changed_.wait_for(g, std::chrono::milliseconds(timeoutMs), [&] { return statuses_.size() >= count; });
}

std::vector<tls::HandshakeStatus> InterceptServer::Statuses() {
    std::lock_guard<std::mutex> g(lock_);
    return statuses_;
}

TunnelClient::~TunnelClient() {
    handshake.session.reset();
    if (socket != platform::kInvalidSocket) {
        platform::ShutdownSocket(socket);
        platform::CloseSocket(socket);
    }
}

bool TunnelClient::Open(uint16_t proxyPort, tls::ClientContext& context, const std::string& host) {
    socket = platform::CreateTcpSocket().rc;
    std::vector<uint32_t> loopback = platform::ResolveIPv4("127.0.0.1");
    if (socket == platform::kInvalidSocket || loopback.empty() ||
        platform::ConnectIPv4(socket, loopback[0], proxyPort).rc != 0)
        return false;
    std::string reply;
    if (!SendAll(socket, "CONNECT " + host + ":443 HTTP/1.1\r\nHost: " + host + ":443\r\n\r\n") ||
        !ReadHeader(socket, reply) || reply.rfind("HTTP/1.1 200", 0) != 0)
        return false;
    handshake = tls::TlsSession::Connect(context, socket, host, kWaitMs);
    return handshake.session != nullptr;
}

std::string TunnelClient::Get(const std::string& host) {
    if (!handshake.session) return {};
    const std::string request = "GET / HTTP/1.1\r\nHost: " + host + "\r\n\r\n";
    if (!handshake.session->WriteAll(request.data(), request.size())) return {};
    std::string answer;
    char buffer[4096];
    for (;;) {
        tls::IoResult r = handshake.session->Read(buffer, sizeof buffer, kWaitMs);
        if (r.status != tls::IoResult::Status::Ok) break;
        answer.append(buffer, r.bytes);
    }
    return answer;
}

}  // namespace tlstest

namespace tlstest {

SocketPair::SocketPair() {
    platform::Socket listener = platform::CreateTcpSocket().rc;
    if (platform::BindIPv4(listener, "127.0.0.1", 0).rc == 0 && platform::ListenOn(listener, 1).rc == 0) {
        client = platform::CreateTcpSocket().rc;
        std::vector<uint32_t> loopback = platform::ResolveIPv4("127.0.0.1");
        if (!loopback.empty() && platform::ConnectIPv4(client, loopback[0], platform::LocalPort(listener)).rc == 0)
            server = platform::AcceptOn(listener).rc;
    }
    platform::CloseSocket(listener);
}

SocketPair::~SocketPair() {
    for (platform::Socket s : {client, server}) {
        if (s == platform::kInvalidSocket) continue;
        platform::ShutdownSocket(s);
        platform::CloseSocket(s);
    }
}

std::string RunCommand(const std::string& commandLine, const std::string& outputFile, int& status) {
    status = std::system((commandLine + " > '" + outputFile + "' 2>&1").c_str());
    std::ifstream in(outputFile, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

}  // namespace tlstest
