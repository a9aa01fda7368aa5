#include "support/FakeProgram.h"

#include <filesystem>
#include <fstream>
#include <utility>

namespace testsupport {

namespace fs = std::filesystem;

namespace {

constexpr int kReportTimeoutMs = 5000;
constexpr int kEndTimeoutMs = 10000;

// A report is a field count and a line break, then each field as its length,
// ":" and its bytes: id, program, folder, note, arguments.
std::optional<std::vector<std::string>> ReadReport(platform::Socket connection) {
    std::string data;
    char buffer[4096];
    for (;;) {
        std::size_t at = data.find('\n');
        if (at != std::string::npos) {
            std::size_t count = std::stoul(data.substr(0, at));
            std::vector<std::string> fields;
            std::size_t pos = at + 1;
            while (fields.size() < count) {
                std::size_t colon = data.find(':', pos);
                if (colon == std::string::npos) break;
                std::size_t length = std::stoul(data.substr(pos, colon - pos));
                if (data.size() < colon + 1 + length) break;
                fields.push_back(data.substr(colon + 1, length));
                pos = colon + 1 + length;
            }
            if (fields.size() == count) return fields;
        }
        if (platform::WaitReadable(connection, kReportTimeoutMs).rc <= 0) return std::nullopt;
        int n = platform::RecvSome(connection, buffer, sizeof buffer).rc;
        if (n <= 0) return std::nullopt;
        data.append(buffer, static_cast<std::size_t>(n));
    }
}

bool SendCode(platform::Socket connection, int exitCode) {
    const char code = static_cast<char>(static_cast<unsigned char>(exitCode));
    return platform::SendSome(connection, &code, 1).rc == 1;
}

// The build folder's path, made whole before any test moves into another
// folder (under Wine, a path without a drive is read against the current one).
const std::string kProgramFile = fs::absolute(MORVANE_FAKE_PROGRAM).string();

}  // namespace

std::string FileNameOf(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

const std::string& FakePrograms::ProgramFile() { return kProgramFile; }

FakePrograms::FakePrograms() {
    listener_ = platform::CreateTcpSocket().rc;
    platform::BindIPv4(listener_, "127.0.0.1", 0);
    platform::ListenOn(listener_, 64);
    port_ = platform::LocalPort(listener_);
    acceptor_ = std::thread([this] { Accept(); });
}

FakePrograms::~FakePrograms() {
    {
        std::lock_guard<std::mutex> g(lock_);
        stopping_ = true;
    }
    // Closing the listening socket ends a blocked accept on every system
    // (a shutdown alone does not on Windows).
    platform::ShutdownSocket(listener_);
    platform::CloseSocket(listener_);
    acceptor_.join();
    // A copy whose connection closes ends by itself. Its file and working
    // folder can be removed only once it has ended (on Windows), so wait.
    std::vector<platform::Process> ending;
    for (platform::ProcessId id : toldToEnd_) ending.push_back(platform::Process::Open(id));
    for (auto& [id, connection] : running_) {
        ending.push_back(platform::Process::Open(id));
        platform::ShutdownSocket(connection);
        platform::CloseSocket(connection);
    }
    for (platform::Process& process : ending) process.Wait(kEndTimeoutMs);
}

void FakePrograms::Install(const std::string& path) const {
    const fs::path target(path);
    if (target.has_parent_path()) fs::create_directories(target.parent_path());
    fs::copy_file(ProgramFile(), target, fs::copy_options::overwrite_existing);
    Serve(target.has_parent_path() ? target.parent_path().string() : std::string("."));
}

void FakePrograms::Serve(const std::string& folder) const {
    std::ofstream(fs::path(folder) / "fake-program.port", std::ios::trunc) << port_ << "\n";
}

void FakePrograms::SetReply(Reply reply) {
    std::lock_guard<std::mutex> g(lock_);
    reply_ = std::move(reply);
}

std::vector<FakePrograms::Start> FakePrograms::Starts(const std::string& name) const {
    std::lock_guard<std::mutex> g(lock_);
    if (name.empty()) return starts_;
    std::vector<Start> matching;
    for (const Start& start : starts_)
        if (FileNameOf(start.program) == name) matching.push_back(start);
    return matching;
}

bool FakePrograms::WaitForStarts(std::size_t count, const std::string& name, int timeoutMs) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock<std::mutex> g(lock_);
    return changed_.wait_until(g, deadline, [&] {
        std::size_t n = 0;
        for (const Start& start : starts_)
            if (name.empty() || FileNameOf(start.program) == name) ++n;
        return n >= count;
    });
}

bool FakePrograms::End(platform::ProcessId id, int exitCode) {
    platform::Socket connection;
    {
        std::lock_guard<std::mutex> g(lock_);
        auto it = running_.find(id);
        if (it == running_.end()) return false;
        connection = it->second;
        running_.erase(it);
    }
    // Opened first, so the id cannot name another process by the time it ends.
    platform::Process process = platform::Process::Open(id);
    const bool sent = SendCode(connection, exitCode);
    platform::CloseSocket(connection);
    return sent && process.Wait(kEndTimeoutMs) == platform::ProcessWaitResult::Ended;
}

void FakePrograms::Accept() {
    for (;;) {
        platform::Socket connection = platform::AcceptOn(listener_).rc;
        {
            std::lock_guard<std::mutex> g(lock_);
            if (stopping_) {
                if (connection != platform::kInvalidSocket) platform::CloseSocket(connection);
                return;
            }
        }
        if (connection != platform::kInvalidSocket) Answer(connection);
    }
}

void FakePrograms::Answer(platform::Socket connection) {
    auto fields = ReadReport(connection);
    if (!fields || fields->size() < 4) {
        platform::CloseSocket(connection);
        return;
    }
    Start start;
    start.id = static_cast<platform::ProcessId>(std::stoul((*fields)[0]));
    start.program = (*fields)[1];
    start.folder = (*fields)[2];
    start.note = (*fields)[3];
    start.arguments.assign(fields->begin() + 4, fields->end());
    start.at = std::chrono::steady_clock::now();

    Reply reply;
    {
        std::lock_guard<std::mutex> g(lock_);
        reply = reply_;
    }
    const std::optional<int> exitCode = reply ? reply(start) : std::nullopt;
    {
        std::lock_guard<std::mutex> g(lock_);
        starts_.push_back(start);
        if (exitCode)
            toldToEnd_.push_back(start.id);
        else
            running_[start.id] = connection;
    }
    changed_.notify_all();
    if (exitCode) {
        SendCode(connection, *exitCode);
        platform::CloseSocket(connection);
    }
}

}  // namespace testsupport
