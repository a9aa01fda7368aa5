#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <initializer_list>

#include "TrustTools.h"

// The user's NSS database (~/.pki/nssdb), which Chromium reads, changed with
// certutil.

namespace platform::trust {

namespace {

namespace fs = std::filesystem;

constexpr const char* kCertutil = "certutil";
// certutil lists one certificate per call; a few entries of one name at most.
constexpr int kMaxEntriesOfOneName = 16;

// The home of the user whose browser is meant: under sudo the user who ran
// sudo, not root.
std::string UserHome() {
    const char* sudoUser = std::getenv("SUDO_USER");
    if (::geteuid() == 0 && sudoUser && *sudoUser && std::strcmp(sudoUser, "root") != 0) {
        if (const passwd* pw = ::getpwnam(sudoUser)) return pw->pw_dir;
    }
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* pw = ::getpwuid(::geteuid())) return pw->pw_dir;
    return {};
}

std::string Certutil(const TrustStoreSettings& s) { return s.certutil.empty() ? kCertutil : s.certutil; }

// The folder whose owner the database belongs to: the user's home for the
// default place, else the folder that holds the database.
std::string DatabaseAnchor(const TrustStoreSettings& s, const std::string& database) {
    if (s.browserDatabase.empty()) return UserHome();
    return std::filesystem::path(database).parent_path().string();
}

// Run as root for another user's database (sudo), the files certutil makes
// would belong to root and the user's browser could not open them: the
// database and the folders made for it are handed to the anchor's owner.
void KeepOwner(const std::string& database, const std::string& anchor) {
    if (::geteuid() != 0 || anchor.empty()) return;
    struct stat owner {};
    if (::stat(anchor.c_str(), &owner) != 0 || owner.st_uid == 0) return;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(database, ec))
        (void)::lchown(entry.path().c_str(), owner.st_uid, owner.st_gid);
    // The folders from the anchor down to the database, never above it.
    const fs::path top = fs::path(anchor + "/").lexically_normal();
    const fs::path inside = fs::path(database).lexically_normal().lexically_relative(top);
    if (inside.empty() || *inside.begin() == ".." || *inside.begin() == ".") return;
    fs::path p = top;
    for (const auto& part : inside) {
        p /= part;
        (void)::lchown(p.c_str(), owner.st_uid, owner.st_gid);
    }
}

std::vector<std::string> CertutilArgs(const TrustStoreSettings& s, const std::string& database,
                                      std::initializer_list<std::string> rest) {
    // -f /dev/null: an empty password; a database with a password then fails
    // instead of waiting for one on the terminal.
    std::vector<std::string> args{Certutil(s), "-d", "sql:" + database, "-f", "/dev/null"};
    args.insert(args.end(), rest);
    return args;
}

bool DatabaseExists(const std::string& database) { return ::access((database + "/cert9.db").c_str(), F_OK) == 0; }

// Deletes every entry of the name; false with the reason when one stays.
bool DeleteNss(const TrustStoreSettings& s, const std::string& database, const std::string& name,
               std::string& failure) {
    for (int i = 0; i < kMaxEntriesOfOneName; ++i) {
        ToolRun listed = RunTool(CertutilArgs(s, database, {"-L", "-n", name}));
        if (listed.startError != 0 || listed.timedOut) {
            failure = ToolFailure(Certutil(s), listed, "libnss3-tools");
            return false;
        }
        if (listed.exitCode != 0) return true;  // no entry of that name (left)
        ToolRun deleted = RunTool(CertutilArgs(s, database, {"-D", "-n", name}));
        if (deleted.exitCode != 0) {
            failure = ToolFailure(Certutil(s), deleted, "libnss3-tools");
            return false;
        }
    }
    failure = "more than " + std::to_string(kMaxEntriesOfOneName) + " certificates named " + name + " in " + database;
    return false;
}

}  // namespace

std::string BrowserDatabase(const TrustStoreSettings& s) {
    if (!s.browserDatabase.empty()) return s.browserDatabase;
    std::string home = UserHome();
    return home.empty() ? std::string() : home + "/.pki/nssdb";
}

bool AddBrowserRoot(const TrustStoreSettings& s, const std::string& name, const std::string& pem,
                    std::string& failure) {
    const std::string database = BrowserDatabase(s);
    if (database.empty()) {
        failure = "the user's home folder is not known";
        return false;
    }
    if (!DatabaseExists(database)) {
        // What Chromium would make at its first start: an empty database
        // without a password.
        std::error_code ec;
        fs::create_directories(database, ec);
        if (ec) {
            failure = database + ": " + ec.message();
            return false;
        }
        ::chmod(database.c_str(), 0700);
        std::string why = ToolFailure(Certutil(s), RunTool({Certutil(s), "-N", "-d", "sql:" + database, "--empty-password"}),
                                      "libnss3-tools");
        if (!why.empty()) {
            failure = why;
            return false;
        }
    }
    bool ok = DeleteNss(s, database, name, failure);
    if (ok) {
        const std::string file = database + "/" + name + ".import.pem";
        ok = WriteWholeFile(file, pem, failure);
        if (ok) {
            // "C,,": trusted to issue server certificates.
            std::string why = ToolFailure(Certutil(s), RunTool(CertutilArgs(s, database, {"-A", "-n", name, "-t", "C,,", "-a", "-i", file})),
                                          "libnss3-tools");
            ::unlink(file.c_str());
            if (!why.empty()) {
                failure = why;
                std::string ignored;
                DeleteNss(s, database, name, ignored);  // certutil may add the certificate before it fails on its trust
                ok = false;
            }
        }
    }
    KeepOwner(database, DatabaseAnchor(s, database));
    return ok;
}

bool RemoveBrowserRoot(const TrustStoreSettings& s, const std::string& name, std::string& failure) {
    const std::string database = BrowserDatabase(s);
    if (database.empty() || !DatabaseExists(database)) return true;
    bool ok = DeleteNss(s, database, name, failure);
    KeepOwner(database, DatabaseAnchor(s, database));
    return ok;
}

}  // namespace platform::trust
