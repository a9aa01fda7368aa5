#include "net/CLocalProxy.h"

#include <sievekit/CProxyConfig.h>

#include "pipeline/ConnectionWorker.h"

CLocalProxy::CLocalProxy(uint16_t port, std::string listenAddress)
    : CSocketBase(port, std::move(listenAddress)),
      domainManager(std::make_unique<CDomainManager>()),
      blockFilter(std::make_unique<CWordFilter>(1)),
      exemptFilter(std::make_unique<CWordFilter>(0)) {
    blockFilter->ReloadData(true);
    exemptFilter->ReloadData(true);
    wordFilters = {blockFilter.get(), exemptFilter.get()};
    dialer.pending = &pendingConnects;
    adFilter = std::make_unique<CAdFilter>();
    if (ProxyConfig().Config().adBlock.load()) adFilter->LoadRules();
}

CLocalProxy::~CLocalProxy() {
    // Whatever path led here, no worker may outlive the listener.
    Stop();
    adFilter.reset();
    wordFilters = {};
    domainManager.reset();
    blockFilter.reset();
    exemptFilter.reset();
}

void CLocalProxy::AcceptLoop() {
    while (IsListening()) {
        platform::Socket client;
        uint32_t peer;
        if (AcceptFrom(client, peer) == platform::kInvalidSocket) continue;
        auto record = std::make_unique<ConnectionRecord>();
        record->request = std::make_unique<RequestInfo>();
        record->clientSocket = client;
        record->owner = this;
        record->peerAddress = peer;
        if (connections.RegisterAndStart(record.get(), [this] { return IsListening(); }, &ConnectionWorker)) {
            record.release();  // the registry owns it now
        } else {
            ConnectionRecord::CloseSocket(record->clientSocket);  // accepted while stopping
        }
    }
}

bool CLocalProxy::Connect(platform::Socket& socket, const char* host, uint16_t port) {
    return ConnectUpstream(hostCache, dialer, socket, host, port, ProxyConfig().Config().safeSearch.load() != 0);
}

void CLocalProxy::Stop() {
    CloseListenSocket();
    // A worker blocked in an upstream connect holds a socket the registry
    // does not know yet; end it here or the wait below lasts minutes.
    pendingConnects.AbortAll();
    connections.ShutdownAll();
    connections.WaitForWorkers();
    connections.CloseAll();
}

void CLocalProxy::ReloadUserFilters() {
    if (ProxyConfig().Config().adBlock.load())
        adFilter->LoadRules();
    else
        adFilter->ClearRules();
    domainManager->ReloadUserData();
}
