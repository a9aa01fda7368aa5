#pragma once

#include <future>
#include <memory>
#include <string>
#include <thread>

class CLocalProxy;
class CHttpServer;

// The two servers of the program and the threads that serve them.
struct ServerPair {
    ServerPair();
    ~ServerPair();
    std::unique_ptr<CLocalProxy> proxy;
    std::unique_ptr<CHttpServer> server;
    std::thread proxyThread;
    std::thread webThread;
    std::shared_future<int> proxyEnded;  // ready when the proxy thread has ended
};

extern const char* const kServiceName;  // "Proxy": service, event source, message-box caption

// The program's entry: "-install", "-uninstall", "-https-on", "-https-off"
// or "-console" (the service in the foreground until Ctrl-C) in any letter
// case with nothing else on the line; otherwise the service runs.
// Returns 0, except when an -https switch failed or the service could not
// start because a server could not listen (1).
int ProxyEntry(const std::string& commandLine);

// "-https-on" / "-https-off": switches HTTPS filtering in the program
// folder's configuration, with the local CA and its trust, shows the outcome
// and tells a running proxy to reload. 0 on success, 1 on failure.
int RunHttpsSwitch(bool on);

int InstallService();
int UninstallService();
void ServiceMain();
// True when the last ServiceMain ended because a server could not listen.
bool ServiceStartFailed();
void ServiceHandler(unsigned controlCode);
// Makes the program's folder the working directory, loads the configuration
// and constructs the servers into the pair.
void StartServers(ServerPair& pair);
// Stops and destroys the servers of the published pair; a stop that comes
// before the pair exists is remembered and carried out once it does.
void StopServers();
// printf-style; the text is cut at 255 characters.
void ReportServiceEvent(const char* format, ...) __attribute__((format(printf, 1, 2)));
