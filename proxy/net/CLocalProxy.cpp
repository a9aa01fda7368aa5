#include "net/CLocalProxy.h"

#include <sievekit/CProxyConfig.h>

#include "pipeline/ConnectionWorker.h"

#include <chrono>
#include <thread>

CLocalProxy::CLocalProxy(uint16_t port, std::string listenAddress)
    : CSocketBase(port, std::move(listenAddress)),
      domainManager(std::make_unique<CDomainManager>()),
      blockFilter(std::make_unique<CWordFilter>(1)),
      exemptFilter(std::make_unique<CWordFilter>(0)) {
    blockFilter->ReloadData(true);
    exemptFilter->ReloadData(true);
    wordFilters = {blockFilter.get(), exemptFilter.get()};
    dialer.pending = &pendingConnects;
    dialer.timedConnect = [this](uint32_t address, uint16_t port, platform::Socket& socket, PendingConnects* pending) {
        return TimedConnect(address, port, socket, pending, limits.connectMs);
    };
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
    threads.Configure(2 * limits.maxConnections, std::chrono::milliseconds(limits.idleThreadMs));
    while (IsListening()) {
        platform::Socket client;
        uint32_t peer;
        if (AcceptFrom(client, peer) == platform::kInvalidSocket) {
            // Out of descriptors, the next accept would fail the same way at
            // once: give the connections in hand a moment to end.
            if (IsListening() && platform::IsOutOfDescriptors(LastAcceptError()))
                std::this_thread::sleep_for(std::chrono::milliseconds(limits.acceptBackoffMs));
            continue;
        }
        auto record = std::make_unique<ConnectionRecord>();
        record->request = std::make_unique<RequestInfo>();
        record->clientSocket = client;
        record->owner = this;
        record->peerAddress = peer;
        switch (connections.RegisterAndStart(record.get(), [this] { return IsListening(); }, &ConnectionWorker, threads,
                                             limits.maxConnections)) {
            case Admission::Started:
                record.release();  // the registry owns it now
                break;
            case Admission::Stopping:
            case Admission::Full:
            case Admission::NoThread:
                // Closed at once: the browser sees the end of the connection
                // instead of waiting for an answer that will not come.
                ConnectionRecord::CloseSocket(record->clientSocket);
                break;
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
    threads.Stop();
}

void CLocalProxy::ReloadUserFilters() {
    if (ProxyConfig().Config().adBlock.load())
        adFilter->LoadRules();
    else
        adFilter->ClearRules();
    domainManager->ReloadUserData();
}
