#include "InstallerCheck.h"

#include "platform/Crypto.h"

namespace updater {

InstallerCheck CheckInstaller(const std::string& file, const ReleaseInfo& release) {
    if (release.sha256.empty()) return InstallerCheck::NoSha256;
    platform::Sha256Digest digest{};
    if (!platform::Sha256OfFile(file, digest)) return InstallerCheck::Unreadable;
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    for (uint8_t b : digest) {
        hex.push_back(kHex[b >> 4]);
        hex.push_back(kHex[b & 15]);
    }
    return hex == release.sha256 ? InstallerCheck::Sha256Matches : InstallerCheck::Sha256Differs;
}

bool MayRun(InstallerCheck check) {
    switch (check) {
        case InstallerCheck::Sha256Matches:
            return true;
        case InstallerCheck::NoSha256:
        case InstallerCheck::Sha256Differs:
        case InstallerCheck::Unreadable:
            return false;
    }
    return false;
}

}  // namespace updater
