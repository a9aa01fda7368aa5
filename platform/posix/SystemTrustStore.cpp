#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "TrustTools.h"

// The system's store: update-ca-certificates builds the bundle (curl, OpenSSL
// programs, Firefox with its system-roots option) from the certificates in
// /usr/local/share/ca-certificates.

namespace platform::trust {

namespace {

constexpr const char* kSystemFolder = "/usr/local/share/ca-certificates";
constexpr const char* kSystemUpdate = "update-ca-certificates";

std::string SystemUpdate(const TrustStoreSettings& s) { return s.systemUpdate.empty() ? kSystemUpdate : s.systemUpdate; }
// update-ca-certificates takes only files named *.crt.
std::string SystemFile(const TrustStoreSettings& s, const std::string& name) { return SystemFolder(s) + "/" + name + ".crt"; }

}  // namespace

std::string SystemFolder(const TrustStoreSettings& s) { return s.systemFolder.empty() ? kSystemFolder : s.systemFolder; }

bool AddSystemRoot(const TrustStoreSettings& s, const std::string& name, const std::string& pem, std::string& failure) {
    std::error_code ec;
    std::filesystem::create_directories(SystemFolder(s), ec);
    if (ec) {
        failure = SystemFolder(s) + ": " + ec.message();
        return false;
    }
    const std::string file = SystemFile(s, name);
    if (!WriteWholeFile(file, pem, failure)) return false;
    std::string why = ToolFailure(SystemUpdate(s), RunTool({SystemUpdate(s)}), "ca-certificates");
    if (why.empty()) return true;
    failure = why;
    ::unlink(file.c_str());
    RunTool({SystemUpdate(s), "--fresh"});  // the bundle as it was
    return false;
}

bool RemoveSystemRoot(const TrustStoreSettings& s, const std::string& name, std::string& failure) {
    const std::string file = SystemFile(s, name);
    if (::unlink(file.c_str()) != 0 && errno != ENOENT) {
        failure = file + ": " + ErrorText(errno);
        return false;
    }
    // Also when the file was already gone: an earlier removal whose update
    // failed left the certificate in the bundle. --fresh drops the links to
    // files that are gone.
    failure = ToolFailure(SystemUpdate(s), RunTool({SystemUpdate(s), "--fresh"}), "ca-certificates");
    return failure.empty();
}

}  // namespace platform::trust
