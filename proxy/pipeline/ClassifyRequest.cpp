#include <sievekit/CProxyConfig.h>

#include <cstring>

#include "adblock/CAdFilter.h"
#include "filter/UrlKeywordCheck.h"
#include "net/CLocalProxy.h"
#include "pipeline/MainDomain.h"

namespace {

// Copies a text into a fixed field, cut so the terminating zero stays in the
// field; an empty source leaves the field as it is.
template <size_t N>
void FillField(char (&field)[N], const std::string& text) {
    if (text.empty()) return;
    size_t n = text.size() < N - 1 ? text.size() : N - 1;
    std::memcpy(field, text.data(), n);
    field[n] = '\0';
}

std::string WithoutLeadingWww(const std::string& host) {
    return host.compare(0, 4, "www.") == 0 ? host.substr(4) : host;
}

}  // namespace

bool CLocalProxy::ClassifyRequest(ConnectionRecord& record) {
    const RequestInfo& request = *record.request;
    DomainStruct& domain = record.domain;
    const ProxyData& config = ProxyConfig().Config();
    const bool isConnect = request.method == "CONNECT";

    FillField(domain.host, WithoutLeadingWww(request.host));
    FillField(domain.mainDomain, MainDomain(request.host));
    FillField(domain.refererDomain, MainDomain(request.refererHost));
    FillField(domain.url, request.url);
    // "www." alone leaves nothing of the host.
    if (request.host == "www.") domain.host[0] = '\0';

    if (config.wordFilter.load() && UrlKeywordCheck(&wordFilters, request.url).Run()) {
        domain.blockPage = true;
        return true;
    }

    bool blocked = domainManager->Exists(domain);
    if (!domain.white && config.whiteListOnly.load()) {
        if ((config.blockUnlistedHttp.load() && !isConnect) || (config.blockUnlistedHttps.load() && isConnect))
            return true;
    }
    if (!config.adBlock.load()) return blocked;
    // A tunnel's target is only "host:port", which no domain rule matches.
    const bool adBlocked = isConnect ? adFilter->CheckUrl(TunnelCheckUrl(request.host), domain.host) == 0
                                     : adFilter->CheckUrl(request.url, domain.host) == 0;
    return adBlocked || blocked;
}
