#include <platform/ProgramPath.h>
#include <platform/Service.h>
#include <sievekit/CProxyConfig.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>

#include "net/CLocalProxy.h"
#include "web/CHttpServer.h"
#include "service/ServiceHost.h"

namespace {

// The service's status record; written by the service thread and by the
// control handler on the dispatcher's thread.
std::mutex statusLock;
platform::ServiceStatus serviceStatus;

void SetAndReport(platform::ServiceState state) {
    std::lock_guard<std::mutex> g(statusLock);
    serviceStatus.currentState = state;
    if (state == platform::ServiceState::Running) {
        serviceStatus.win32ExitCode = 0;
        serviceStatus.serviceSpecificExitCode = 0;
        serviceStatus.checkPoint = 0;
        serviceStatus.waitHint = 0;
    }
    platform::ReportServiceStatus(serviceStatus);
}

// The published pair. pairLock is held for the whole of a stop and while the
// pair is published, its threads started or the pair released, so a stop can
// never meet a half-built or half-destroyed pair.
std::mutex pairLock;
ServerPair* currentPair = nullptr;
bool stopRequested = false;

// Set when the last start ended because a server could not listen.
std::atomic<bool> startFailed{false};

// Both servers take their ports before either serves, so a port that cannot
// be had ends the start at once: one line for whoever started the program
// (its console in the foreground), the same text to the event log, and the
// system's error code in the stopped status the service manager shows.
// Empty text when both listen.
std::string ListenBoth(CSocketBase& proxy, CSocketBase& server) {
    for (CSocketBase* s : {&proxy, &server}) {
        if (s->Listen()) continue;
        return "cannot listen on " + s->ListenAddress() + ":" + std::to_string(s->Port()) + ": " + s->ListenFailure();
    }
    return std::string();
}

void ReportFailedStart(const std::string& reason) {
    std::fprintf(stderr, "%s: %s\n", kServiceName, reason.c_str());
    std::fflush(stderr);
    ReportServiceEvent("%s", reason.c_str());
    std::lock_guard<std::mutex> g(statusLock);
    serviceStatus.win32ExitCode = platform::kServiceSpecificError;
    serviceStatus.serviceSpecificExitCode = 1;
}

// Closes the listening sockets and the live connections, waits for the
// threads that use the servers, then destroys the servers. Under pairLock.
// The web server stops before the proxy goes: a command in flight reloads
// the proxy's filters.
void StopPairLocked(ServerPair& pair) {
    if (pair.proxy) pair.proxy->Stop();
    if (pair.server) pair.server->Stop();
    if (pair.webThread.joinable()) pair.webThread.join();
    if (pair.proxyThread.joinable()) pair.proxyThread.join();
    pair.proxy.reset();  // writes what the listener keeps on disk
    pair.server.reset();
}

}  // namespace

ServerPair::ServerPair() = default;
ServerPair::~ServerPair() = default;

void StartServers(ServerPair& pair) {
    platform::SetWorkingDirectory(platform::ProgramFolder());
    CProxyConfig& config = ProxyConfig();
    config.LoadData();
    pair.proxy = std::make_unique<CLocalProxy>(config.Config().proxyPort.load(), config.getListenAddress());
    pair.server = std::make_unique<CHttpServer>(config.Config().webPort.load(), config.getListenAddress(), "www",
                                                pair.proxy.get());
}

void StopServers() {
    std::lock_guard<std::mutex> g(pairLock);
    if (!currentPair) {
        stopRequested = true;  // honoured as soon as the servers exist
        return;
    }
    StopPairLocked(*currentPair);
}

void ServiceHandler(unsigned controlCode) {
    switch (controlCode) {
        case platform::kServiceControlStop:
            SetAndReport(platform::ServiceState::StopPending);
            StopServers();
            break;
        case platform::kServiceControlShutdown:
            StopServers();
            break;
        case platform::kServiceControlPause:
        case platform::kServiceControlContinue:
        case platform::kServiceControlInterrogate:
            break;
        default:
            ReportServiceEvent("Bad service request");
            break;
    }
}

bool ServiceStartFailed() { return startFailed.load(); }

void ServiceMain() {
    startFailed = false;
    {
        std::lock_guard<std::mutex> g(statusLock);
        serviceStatus = platform::ServiceStatus{};
        serviceStatus.currentState = platform::ServiceState::StartPending;
        serviceStatus.controlsAccepted = platform::kServiceAcceptStop;
    }
    if (!platform::RegisterServiceControlHandler(kServiceName, &ServiceHandler)) {
        ReportServiceEvent("Handler not installed");
        return;
    }
    SetAndReport(platform::ServiceState::StartPending);

    auto pair = std::make_unique<ServerPair>();
    StartServers(*pair);

    bool proxyThreadStarted = false;
    std::string failure;
    {
        std::lock_guard<std::mutex> g(pairLock);
        currentPair = pair.get();
        auto ended = std::make_shared<std::promise<int>>();
        pair->proxyEnded = ended->get_future().share();
        CLocalProxy* proxy = pair->proxy.get();
        CHttpServer* server = pair->server.get();
        if (!stopRequested) failure = ListenBoth(*proxy, *server);
        if (failure.empty() && !stopRequested) {
            try {
                pair->webThread = std::thread([server] { server->ServeRequests(); });
            } catch (const std::system_error&) {
            }
            try {
                pair->proxyThread = std::thread([proxy, ended] {
                    proxy->AcceptLoop();
                    ended->set_value(0);
                });
                proxyThreadStarted = true;
            } catch (const std::system_error&) {
            }
        }
        if (stopRequested || !failure.empty()) StopPairLocked(*pair);
    }
    startFailed = !failure.empty();
    if (!failure.empty()) ReportFailedStart(failure);

    if (proxyThreadStarted) {
        SetAndReport(platform::ServiceState::Running);
        pair->proxyEnded.wait();
    }

    SetAndReport(platform::ServiceState::Stopped);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::lock_guard<std::mutex> g(pairLock);
    StopPairLocked(*pair);
    currentPair = nullptr;
    stopRequested = false;
    pair.reset();
}
