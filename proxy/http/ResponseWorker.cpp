#include "http/ResponseWorker.h"

#include <platform/Socket.h>
#include <sievekit/CProxyConfig.h>

#include <platform/Tick.h>

#include <climits>
#include <cstdint>
#include <cstring>

#include "http/BodyRelay.h"
#include "http/RequestParser.h"
#include "http/ResponseFilterJob.h"
#include "http/ResponseInfo.h"
#include "net/CLocalProxy.h"

const char kEmptyImageResponse[] =
    "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\nConnection: close\r\nContent-Length: 0\r\n\r\n";
const char kNotFoundPageFile[] = "www/404.htm";
const char kAddressFilterPageFile[] = "www/AddressFilter.html";
const char kIntellFilterTipPageFile[] = "www/IntellFilterTip.html";

namespace {

constexpr int kHeaderStep = 1024;

enum class HeaderPhase { Complete, Ended, Refused };

// Receives until the header block is complete (or the server stops). A blank
// line split between two receives is found at once: the search starts three
// bytes before the new block, inside what was received. The origin must
// answer within its time (counted from the last byte sent to it, so a long
// upload does not count against it), and a header block beyond its bound is
// refused: the connection closes without a reply.
HeaderPhase ReadHeaderPhase(const ConnectionRecord& record, const Limits& limits, std::string& response,
                            ResponseInfo& info) {
    const platform::Socket upstream = record.upstreamSocket.load();
    const uint64_t started = platform::TickCount();
    char chunk[kHeaderStep];
    for (;;) {
        const uint64_t lastSent = record.lastSentTick.load();
        const uint64_t deadline = (lastSent > started ? lastSent : started) + static_cast<uint64_t>(limits.originAnswerMs);
        const uint64_t now = platform::TickCount();
        if (now >= deadline) return HeaderPhase::Refused;
        const uint64_t left = deadline - now;
        const int waited = platform::WaitReadable(upstream, left > INT_MAX ? INT_MAX : static_cast<int>(left)).rc;
        if (waited < 0) return HeaderPhase::Ended;
        if (waited == 0) continue;  // the deadline may have moved with the upload
        int n = platform::RecvSome(upstream, chunk, sizeof chunk).rc;
        if (n <= 0) return HeaderPhase::Ended;
        size_t before = response.size();
        response.append(chunk, static_cast<size_t>(n));
        const size_t end = RequestParser::FindHeaderEnd(response, before);
        if (end != std::string::npos) {
            if (end > limits.maxResponseHeader) return HeaderPhase::Refused;
            info.TakeHeaderBlock(response);
            return HeaderPhase::Complete;
        }
        if (response.size() >= limits.maxResponseHeader) return HeaderPhase::Refused;
    }
}

void SendEmptyImage(CLocalProxy& owner, platform::Socket client) {
    owner.Send(client, kEmptyImageResponse, static_cast<int>(sizeof kEmptyImageResponse - 1));
}

}  // namespace

int ResponseWorker(ConnectionRecord* record) {
    if (!record) return -1;
    CLocalProxy& owner = *record->owner;
    const platform::Socket upstream = record->upstreamSocket.load();
    const platform::Socket client = record->clientSocket.load();
    const ProxyData& config = ProxyConfig().Config();

    std::string response;
    ResponseInfo info;
    if (ReadHeaderPhase(*record, owner.limits, response, info) == HeaderPhase::Refused) return 0;
    const int32_t expectedTotal = ExpectedResponseTotal(info.headerLength, info.contentLength);

    if (info.isHtml) {
        BodyRelay relay(expectedTotal, upstream, platform::kInvalidSocket, response);
        relay.idleMs = owner.limits.idleMs;
        const size_t headerLength = static_cast<size_t>(info.headerLength);
        const size_t maxBody = owner.limits.maxHtmlBody;
        relay.holdLimit = maxBody > SIZE_MAX - headerLength ? SIZE_MAX : headerLength + maxBody;
        relay.ReceiveRest();
        bool whole = relay.buffer.size() <= relay.holdLimit;
        if (!record->domain.white && owner.FilterResponseBody(relay.buffer, info, *record) == FilterOutcome::TooLong)
            whole = false;
        if (record->domain.blockPage) {
            if (config.addressFilterPage.load())
                owner.SendFilePage(client, kAddressFilterPageFile);
            else
                owner.SendNotFoundPage(client);
        } else if (record->domain.tipPage) {
            if (config.intelligentTipPage.load())
                owner.SendFilePage(client, kIntellFilterTipPageFile);
            else
                owner.SendNotFoundPage(client);
        } else if (whole) {
            owner.SendWhole(client, relay.buffer);
        } else {
            // Too long to be read whole: what was read goes out as the origin
            // sent it, header and framing untouched, and the rest follows.
            relay.browserSocket = client;
            relay.ForwardRest();
        }
        return 0;
    }

    if (!record->domain.white && ((config.imageMode.load() == 1 && info.isImage) ||
                                  (config.blockVideo.load() != 0 && info.isVideo))) {
        SendEmptyImage(owner, client);
        return 0;
    }
    BodyRelay relay(expectedTotal, upstream, client, std::move(response));
    relay.idleMs = owner.limits.idleMs;
    relay.ForwardRest();
    return 0;
}
