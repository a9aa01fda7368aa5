#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>

#include "support/TempFolder.h"

namespace e2e {

// True in a build with AddressSanitizer or ThreadSanitizer: the programs run
// several times slower there, so the runs are scaled down.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitizedBuild = true;
#else
constexpr bool kSanitizedBuild = false;
#endif

// The count a run uses: the environment variable when set to a positive
// number, else `plain` in a normal build and `sanitized` under a sanitizer.
int ScaledCount(const char* variable, int plain, int sanitized);

// Raises the soft limit of open files towards `wanted`, as far as the hard
// limit allows; returns the soft limit now in force. Children inherit it.
long RaiseOpenFileLimit(long wanted);

// The built Proxy in a program folder of its own, as the installation lays it
// out: the program, the shipped Data/ and www/ beside it, with a test
// configuration (proxy and web ports free on 127.0.0.1, no control panel, no
// tips, no injected script, images shown, ad-block on with a one-rule list),
// so a page passes unchanged except for its Content-Length.
class ProxyProcess {
public:
    ProxyProcess();
    ~ProxyProcess();  // kills the program if it still runs
    ProxyProcess(const ProxyProcess&) = delete;
    ProxyProcess& operator=(const ProxyProcess&) = delete;

    const testsupport::TempFolder& folder() const { return folder_; }
    uint16_t port() const { return port_; }

    // Keys of [Proxy] that override the test configuration. The file is
    // replaced atomically (written aside, then renamed), as a settings
    // program would, so a reload never reads half a file.
    void WriteConfig(const std::map<std::string, std::string>& overrides = {});

    // Starts the program from another working directory and waits until its
    // proxy port accepts connections.
    bool Start(int timeoutMs = 10000);
    bool Running();
    // SIGTERM, then waits: the exit code, -1 for a signal, -2 when it is still
    // running at the deadline. `seconds` receives how long the end took.
    int Stop(int timeoutMs, double* seconds = nullptr);
    pid_t pid() const { return pid_; }

    // From /proc/PID/status; -1 when unreadable.
    long ResidentKb() const;
    long Threads() const;
    // Threads not parked on a futex: those waiting in the network or running.
    // A pooled thread waiting for work is parked, so this is what the
    // connections hold; -1 when unreadable.
    long ServingThreads() const;
    // Entries of /proc/PID/fd; -1 when unreadable.
    long OpenFiles() const;

    // Sends the reload message alone on a connection and waits until the
    // proxy closes it (the reload has then run).
    bool SendReload(int timeoutMs = 5000) const;

private:
    long StatusField(const char* name) const;

    testsupport::TempFolder folder_;
    uint16_t port_ = 0;
    uint16_t webPort_ = 0;
    pid_t pid_ = -1;
};

}  // namespace e2e
