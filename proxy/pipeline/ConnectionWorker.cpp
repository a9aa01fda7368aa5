#include "pipeline/ConnectionWorker.h"

#include <platform/Socket.h>
#include <platform/Tick.h>
#include <platform/TimedReceive.h>
#include <sievekit/CProxyConfig.h>

#include <atomic>
#include <cstring>

#include "http/RequestBodyEnd.h"
#include "http/RequestFraming.h"
#include "http/RequestParser.h"
#include "http/ResponseWorker.h"
#include "net/CLocalProxy.h"
#include "net/TunnelRelay.h"
#include "pipeline/ReloadFilters.h"
#include "pipeline/UploadRelay.h"

namespace {

constexpr int kReceiveStep = 8192;
constexpr char kReloadMessage[] = "ZELK_UPDATE";
constexpr char kBadGateway[] = "HTTP/1.1 502 Bad Gateway\r\nConnection: close\r\nContent-Length: 0\r\n\r\n";
constexpr char kTunnelEstablished[] = "HTTP/1.1 200 Connection established\r\nProxy-agent: Vantrel /0.2\r\n\r\n";

enum class HeaderRead { Complete, Reload, Closed };

// Receives until the request's header block is complete. The reload message
// is one receive holding exactly "ZELK_UPDATE" (read as a zero-terminated
// text), and only from this machine: from another peer (the proxy listening
// on 0.0.0.0) it is the start of an ordinary request, so the network cannot
// keep the proxy reloading. A header block that grows beyond its bound, or
// is not complete in time, closes the connection: a browser cannot hold a
// thread and memory by sending slowly or without end.
HeaderRead ReadRequestHeader(const Limits& limits, platform::Socket client, bool reloadAllowed, std::string& text) {
    const uint64_t deadline = platform::TickCount() + static_cast<uint64_t>(limits.requestHeaderMs);
    char chunk[kReceiveStep];
    for (;;) {
        int n = platform::ReceiveBefore(client, chunk, sizeof chunk, deadline);
        if (n <= 0) return HeaderRead::Closed;
        if (reloadAllowed && strnlen(chunk, static_cast<size_t>(n)) == sizeof kReloadMessage - 1 &&
            std::memcmp(chunk, kReloadMessage, sizeof kReloadMessage - 1) == 0)
            return HeaderRead::Reload;
        size_t before = text.size();
        text.append(chunk, static_cast<size_t>(n));
        // A blank line split between two receives counts as well.
        const size_t end = RequestParser::FindHeaderEnd(text, before);
        if (end != std::string::npos) return end <= limits.maxRequestHeader ? HeaderRead::Complete : HeaderRead::Closed;
        if (text.size() >= limits.maxRequestHeader) return HeaderRead::Closed;
    }
}

void AnswerBlocked(CLocalProxy& owner, ConnectionRecord& record) {
    platform::Socket client = record.clientSocket.load();
    if (record.domain.emptyImage)
        owner.Send(client, kEmptyImageResponse, static_cast<int>(std::strlen(kEmptyImageResponse)));
    else if (record.domain.blockPage && ProxyConfig().Config().addressFilterPage.load())
        owner.SendFilePage(client, kAddressFilterPageFile);
    else
        owner.SendNotFoundPage(client);
}

// Both directions of a CONNECT tunnel: browser to origin on a pooled thread,
// origin to browser on this one. When either ends it shuts both sockets down,
// which ends the other; the second record (its sockets swapped) and what the
// pooled relay shares with this one live until that relay has finished.
void RunTunnel(CLocalProxy& owner, ConnectionRecord& record) {
    platform::SendSome(record.clientSocket.load(), kTunnelEstablished, sizeof kTunnelEstablished - 1);
    ConnectionRecord reverse;
    reverse.request = std::make_unique<RequestInfo>();
    reverse.clientSocket = record.upstreamSocket.load();
    reverse.upstreamSocket = record.clientSocket.load();
    reverse.owner = record.owner;

    std::atomic<uint64_t> lastByte{platform::TickCount()};
    const int idleMs = owner.limits.idleMs;
    auto endBoth = [&record] {
        ConnectionRecord::ShutdownSocket(record.clientSocket);
        ConnectionRecord::ShutdownSocket(record.upstreamSocket);
    };
    const ThreadPool::Completion toOrigin;
    auto relayToOrigin = [&] {
        TunnelRelay(&reverse, &lastByte, idleMs);
        endBoth();
    };
    if (owner.threads.Run(relayToOrigin, &toOrigin) != ThreadPool::Start::Started) return;
    TunnelRelay(&record, &lastByte, idleMs);
    endBoth();
    toOrigin.Wait();
}

// `text` is the rewritten header block and the body bytes that came with it;
// `body` has taken those bytes and tells what is still to come. The answer is
// read on this thread; the rest of a body goes up on a pooled one beside it.
void ForwardRequest(CLocalProxy& owner, ConnectionRecord& record, const std::string& text, RequestBodyEnd& body) {
    if (owner.SendWhole(record.upstreamSocket.load(), text) <= 0) return;
    record.lastSentTick = platform::TickCount();
    if (body.Complete()) {
        ResponseWorker(&record);
        return;
    }
    const ThreadPool::Completion uploaded;
    // Without a thread for the rest of the body the exchange cannot go on.
    if (owner.threads.Run([&record, &body] { UploadRelay(&record, &body); }, &uploaded) != ThreadPool::Start::Started)
        return;
    ResponseWorker(&record);
    uploaded.Wait();
}

void ServeRequest(CLocalProxy& owner, ConnectionRecord& record) {
    std::string text;
    switch (ReadRequestHeader(owner.limits, record.clientSocket.load(), platform::IsLoopbackIPv4(record.peerAddress),
                              text)) {
        case HeaderRead::Closed:
            return;
        case HeaderRead::Reload:
            ReloadFilters(owner);
            return;
        case HeaderRead::Complete:
            break;
    }
    // A request whose body an origin could read in two ways could hide a
    // second request from the checks: it is not forwarded at all.
    const RequestFraming framing = FrameRequest(std::string_view(text).substr(0, RequestParser::HeaderBlockLength(text)));
    if (framing.body == RequestBody::Conflicting) return;
    {
        RequestParser parser;
        parser.Parse(text, record.request.get());
        parser.Rewrite(text);
    }
    // Only the body goes on with the header; whatever came after it is dropped.
    RequestBodyEnd body(framing);
    const size_t headerLength = RequestParser::HeaderBlockLength(text);
    text.resize(headerLength + body.Take(std::string_view(text).substr(headerLength)));
    if (owner.ClassifyRequest(record)) {
        AnswerBlocked(owner, record);
        return;
    }
    if (!HasConnectablePort(*record.request)) return;
    platform::Socket upstream = platform::kInvalidSocket;
    bool resolved = owner.Connect(upstream, record.request->host.c_str(), static_cast<uint16_t>(record.request->port));
    record.upstreamSocket = upstream;  // a fallback kept on failure is closed with the record
    // A stop that came while connecting has shut down only the sockets it
    // could see: this one it missed, so the request ends here.
    if (!resolved || !owner.IsListening()) return;
    if (record.request->method == "CONNECT") {
        // The browser must not take a tunnel that leads nowhere for one that works.
        if (upstream == platform::kInvalidSocket)
            owner.Send(record.clientSocket.load(), kBadGateway, sizeof kBadGateway - 1);
        else
            RunTunnel(owner, record);
    } else {
        ForwardRequest(owner, record, text, body);
    }
}

}  // namespace

void ConnectionWorker(ConnectionRecord* record) {
    CLocalProxy* owner = record->owner;
    ServeRequest(*owner, *record);
    owner->connections.CloseSockets(record);
    if (owner->IsListening()) owner->connections.Remove(record);
    owner->connections.WorkerEnded();
}
