#pragma once

#include <memory>

#include <sievekit/CDomainManager.h>
#include <sievekit/CWordFilter.h>

#include "adblock/CAdFilter.h"
#include "filter/WordFilterPair.h"
#include "net/CConnectionManager.h"
#include "net/CSocketBase.h"
#include "net/ConnectUpstream.h"
#include "net/HostCache.h"
#include "net/Limits.h"
#include "net/ThreadPool.h"

// The HTTP proxy server: owns the long-lived filter objects of the request
// path and the registry of live connections. Each browser connection is
// served on a thread of its pool, and so are the relays that run beside it.
class ResponseInfo;
enum class FilterOutcome;

class CLocalProxy : public CSocketBase {
public:
    CLocalProxy(uint16_t port, std::string listenAddress = "127.0.0.1");
    ~CLocalProxy() override;

    // Serves until the listening socket is closed. The pool takes its bound
    // and idle time from `limits` here.
    void AcceptLoop();
    // Closes the listening socket, ends upstream connects in progress, wakes
    // and waits for every worker, releases every connection and joins the
    // pool's threads. After it returns no worker uses this object, and no
    // upstream connect succeeds.
    virtual void Stop();

    // After the user's lists or the ad-block switch changed: the ad-block rules
    // are loaded (a changed list rebuilt, an unchanged one kept) or cleared as
    // the switch says, and the user domain lists are read again. Safe while
    // workers classify requests.
    void ReloadUserFilters();

    // True when the request of the record is to be blocked; fills the
    // record's DomainStruct.
    bool ClassifyRequest(ConnectionRecord& record);
    // Decodes, filters and measures one whole HTML response in place; one
    // longer than limits.maxHtmlBody has only its title checked.
    FilterOutcome FilterResponseBody(std::string& text, ResponseInfo& info, ConnectionRecord& record);
    // The canned answers: each sends one complete response.
    void SendNotFoundPage(platform::Socket socket);
    void SendFilePage(platform::Socket socket, const char* path);
    // Sends every byte; the length, or the failing send's result.
    int SendWhole(platform::Socket socket, const std::string& bytes);

    // Upstream connections go through the host cache (ConnectUpstream), and
    // search engines through their SafeSearch addresses while safeSearch is on.
    bool Connect(platform::Socket& socket, const char* host, uint16_t port) override;

    // Upstream connects in progress; Stop ends them and refuses new ones.
    PendingConnects pendingConnects;
    // How Connect resolves and times; set before serving, read-only after.
    UpstreamDialer dialer;
    // The bounds and time-outs of every connection; set before serving.
    Limits limits;

    // Members in construction order; destroyed in reverse. The filter objects
    // are shared by every worker without a lock of ours (they are thread-safe).
    // The host cache is loaded from "host.dat" here and, being built before
    // the registry, is destroyed (and saved) after it: by then the destructor
    // has stopped every worker, so nothing stores into it any more.
    HostCache hostCache{"host.dat"};
    // Connection workers and their relays: one of each per connection at most.
    ThreadPool threads{2 * Limits{}.maxConnections, std::chrono::milliseconds(Limits{}.idleThreadMs)};
    CConnectionManager connections;
    std::unique_ptr<CDomainManager> domainManager;
    std::unique_ptr<CWordFilter> blockFilter;   // kind 1
    std::unique_ptr<CWordFilter> exemptFilter;  // kind 0
    WordFilterPair wordFilters;                 // the two above, not owning
    // The ad-block engine: built last, destroyed first. It has its own locks.
    std::unique_ptr<CAdFilter> adFilter;

private:
    void SendPage(platform::Socket socket, const char* headerFormat, const std::string& body);
};
