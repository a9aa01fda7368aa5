#include "http/ResponseWorker.h"

#include <platform/Socket.h>
#include <sievekit/CProxyConfig.h>

#include <cstring>

#include "http/BodyRelay.h"
#include "http/ResponseInfo.h"
#include "net/CLocalProxy.h"

const char kEmptyImageResponse[] =
    "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\nConnection: close\r\nContent-Length: 0\r\n\r\n";
const char kNotFoundPageFile[] = "www/404.htm";
const char kAddressFilterPageFile[] = "www/AddressFilter.html";
const char kIntellFilterTipPageFile[] = "www/IntellFilterTip.html";

namespace {

constexpr int kHeaderStep = 1024;

// Receives until the header block is complete (or the server stops). A blank
// line split between two receives is found at once: the search starts three
// bytes before the new block, inside what was received.
void ReadHeaderPhase(platform::Socket upstream, std::string& response, ResponseInfo& info) {
    char chunk[kHeaderStep];
    for (;;) {
        std::memset(chunk, 0, sizeof chunk);
        int n = platform::RecvSome(upstream, chunk, sizeof chunk).rc;
        if (n <= 0) return;
        size_t before = response.size();
        response.append(chunk, static_cast<size_t>(n));
        if (response.find("\r\n\r\n", before >= 3 ? before - 3 : 0) != std::string::npos) {
            info.TakeHeaderBlock(response);
            return;
        }
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
    ReadHeaderPhase(upstream, response, info);
    const int32_t expectedTotal = ExpectedResponseTotal(info.headerLength, info.contentLength);

    if (info.isHtml) {
        BodyRelay relay(expectedTotal, upstream, platform::kInvalidSocket, response);
        relay.ReceiveRest();
        if (!record->domain.white) owner.FilterResponseBody(relay.buffer, info, *record);
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
        } else {
            owner.SendWhole(client, relay.buffer);
        }
        return 0;
    }

    if (!record->domain.white && ((config.imageMode.load() == 1 && info.isImage) ||
                                  (config.blockVideo.load() != 0 && info.isVideo))) {
        SendEmptyImage(owner, client);
        return 0;
    }
    BodyRelay relay(expectedTotal, upstream, client, std::move(response));
    relay.ForwardRest();
    return 0;
}
