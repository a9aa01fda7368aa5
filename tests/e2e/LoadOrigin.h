#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace e2e {

// An origin server on 127.0.0.1 (port chosen by the OS) for load and fault
// runs: a fixed pool of threads, each accepting and answering one connection
// at a time, so a run of any length costs no thread per request. Every read,
// write and wait has a deadline, so nothing it does can hang a test.
//
// Paths (a query is ignored, so "?v=1" makes a distinct URL for the same body):
//   /html/plain/N, /html/gzip/N, /html/chunked/N, /html/chunkgz/N, /json/N, /bin/N
//       the normal responses of Content.h
//   /fault/reset/T   announces 200000 bytes, sends half, then resets
//   /fault/short/T   announces 200000 bytes, sends half, then closes
//   /fault/long/T    announces 100000 bytes, sends 200000, then closes
//   /fault/stall/T   announces 200000 bytes, sends half, then waits for
//                    ReleaseStalls (at most 30 s) and closes
//       T is "html" (text/html, the proxy reads the whole body) or "bin"
//       (application/octet-stream, the proxy relays as it arrives)
//   /fault/headcut   part of a header block, then close
//   /fault/silent    close without a byte
//   /upload          reads the request body (up to its Content-Length, the
//                    peer's close, or 2 s of silence), answers "received N"
class LoadOrigin {
public:
    explicit LoadOrigin(int threads = 128);
    ~LoadOrigin();
    LoadOrigin(const LoadOrigin&) = delete;
    LoadOrigin& operator=(const LoadOrigin&) = delete;

    uint16_t port() const { return port_; }
    // Normal responses sent whole (every byte written).
    size_t Answered() const { return answered_.load(); }
    // Body bytes received by /upload answers, in the order they ended.
    std::vector<size_t> Uploads() const;

    // Waits until `count` connections are held by /fault/stall.
    bool WaitStalled(size_t count, int timeoutMs);
    void ReleaseStalls();

    // The exact bytes the origin sends for a normal path (header and body).
    static std::string NormalResponse(const std::string& path);

private:
    void Work();
    void Serve(int fd);
    // False when the connection must end with a reset, not a close.
    bool Fault(int fd, const std::string& what, const std::string& type);
    void Upload(int fd, const std::string& request);
    bool TrackSocket(int fd);
    void UntrackSocket(int fd);

    int listenFd_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<size_t> answered_{0};
    std::map<std::string, std::string> responses_;  // built before the threads start, read-only after

    mutable std::mutex lock_;  // guards everything below
    std::condition_variable changed_;
    std::set<int> open_;
    size_t stalled_ = 0;
    uint64_t releaseGeneration_ = 0;
    std::vector<size_t> uploads_;

    std::vector<std::thread> workers_;
};

}  // namespace e2e
