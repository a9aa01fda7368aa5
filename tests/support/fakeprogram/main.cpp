// The program that process tests start in place of real ones (see
// support/FakeProgram.h): it reports how it was started to the test's host
// and runs until the host answers with the exit code to end with.
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "platform/File.h"
#include "platform/NamedMutex.h"
#include "platform/Socket.h"

namespace {

// Ends without a host, or when the host goes away without an answer.
constexpr int kNoHost = 98;
constexpr int kHostGone = 99;

void AddField(std::string& report, const std::string& field) {
    report += std::to_string(field.size()) + ":" + field;
}

bool SendAll(platform::Socket s, const std::string& bytes) {
    for (std::size_t sent = 0; sent < bytes.size();) {
        int n = platform::SendSome(s, bytes.data() + sent, static_cast<int>(bytes.size() - sent)).rc;
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    // --hold-mutex NAME: takes the name for the program's life and tells
    // whether it could.
    std::string note;
    std::optional<platform::NamedMutex> mutex;
    if (arguments.size() >= 2 && arguments[0] == "--hold-mutex") {
        mutex.emplace(arguments[1]);
        note = mutex->Held() ? "held" : mutex->AlreadyExisted() ? "existed" : "error";
    }

    unsigned port = 0;
    if (!(std::ifstream("fake-program.port") >> port) || port == 0 || port > 65535) return kNoHost;
    const std::vector<std::uint32_t> loopback = platform::ResolveIPv4("127.0.0.1");
    if (loopback.empty()) return kNoHost;
    const platform::Socket s = platform::CreateTcpSocket().rc;
    if (s == platform::kInvalidSocket) return kNoHost;
    if (platform::ConnectIPv4(s, loopback[0], static_cast<std::uint16_t>(port)).rc != 0) {
        platform::CloseSocket(s);
        return kNoHost;
    }

    std::error_code ec;
    std::string report = std::to_string(4 + arguments.size()) + "\n";
    AddField(report, std::to_string(platform::CurrentProcessNumber()));
    AddField(report, argc > 0 ? argv[0] : "");
    AddField(report, std::filesystem::current_path(ec).string());
    AddField(report, note);
    for (const auto& argument : arguments) AddField(report, argument);
    if (!SendAll(s, report)) {
        platform::CloseSocket(s);
        return kNoHost;
    }

    char code = 0;
    const int n = platform::RecvSome(s, &code, 1).rc;
    platform::CloseSocket(s);
    return n == 1 ? static_cast<unsigned char>(code) : kHostGone;
}
