#include "https/ConnectDecision.h"

#include "https/HttpsPassList.h"
#include "https/RefusedHosts.h"
#include "tls/Leaf.h"

ConnectHandling DecideConnect(bool interceptionOn, const HttpsPassList& passList, const RefusedHosts& refused,
                              const std::string& host) {
    if (!interceptionOn) return ConnectHandling::Tunnel;
    if (passList.Contains(host) || refused.Contains(host)) return ConnectHandling::Tunnel;
    if (!tls::IsCertifiableHost(host)) return ConnectHandling::Tunnel;
    return ConnectHandling::Intercept;
}
