#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/Process.h"
#include "platform/Socket.h"

namespace testsupport {

// Stand-ins for the programs the code under test starts: copies of one small
// program (support/fakeprogram/) under whatever names a test wants. Each
// copy, however it was started, reports to this host when it starts (its
// process id, how it was started, its working folder and arguments) and then
// runs until the host tells it to end, or ends at once when the host's reply
// says so. A copy finds the host through the file "fake-program.port" in its
// working folder; the host's port on 127.0.0.1 is chosen by the system.
class FakePrograms {
public:
    struct Start {
        platform::ProcessId id = platform::kNoProcess;
        std::string program;  // the program as it was started (its argv[0])
        std::string folder;   // its working folder
        std::vector<std::string> arguments;
        std::string note;  // with --hold-mutex NAME: "held", "existed" or "error"
        std::chrono::steady_clock::time_point at;  // when its report arrived
    };
    // For a copy that has just reported: the exit code it is to end with at
    // once, or empty to keep it running until End.
    using Reply = std::function<std::optional<int>(const Start&)>;

    FakePrograms();
    // Ends every copy still running (they exit with code 99) and stops.
    ~FakePrograms();
    FakePrograms(const FakePrograms&) = delete;
    FakePrograms& operator=(const FakePrograms&) = delete;

    // Copies the program to `path` (folders created) and lets copies that run
    // in that folder find this host.
    void Install(const std::string& path) const;
    // Lets copies that run in `folder` find this host.
    void Serve(const std::string& folder) const;
    // Every copy is kept running until End, unless a reply says otherwise.
    void SetReply(Reply reply);

    // Reports in the order they arrived; only those whose program file is
    // named `name` (letter case included), when one is given.
    std::vector<Start> Starts(const std::string& name = {}) const;
    // True when at least `count` such reports arrived within the limit.
    bool WaitForStarts(std::size_t count, const std::string& name = {}, int timeoutMs = 10000) const;
    // Tells a copy that is still running to exit with `exitCode` (0-255) and
    // waits until it has; false when none with that id runs or it did not end.
    bool End(platform::ProcessId id, int exitCode = 0);

    // The built program that Install copies.
    static const std::string& ProgramFile();

private:
    void Accept();
    void Answer(platform::Socket connection);

    platform::Socket listener_ = platform::kInvalidSocket;
    std::uint16_t port_ = 0;
    bool stopping_ = false;  // guarded by lock_
    mutable std::mutex lock_;  // guards everything below and stopping_
    mutable std::condition_variable changed_;
    std::vector<Start> starts_;
    std::map<platform::ProcessId, platform::Socket> running_;
    std::vector<platform::ProcessId> toldToEnd_;  // by a reply
    Reply reply_;
    std::thread acceptor_;
};

// The file name of a path written with either separator.
std::string FileNameOf(const std::string& path);

}  // namespace testsupport
