#include "https/HttpsSwitch.h"

#include <sievekit/CProxyConfig.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "tls/TlsBackend.h"

namespace {

constexpr platform::TrustStore kStores[] = {platform::TrustStore::System, platform::TrustStore::UserBrowser};

std::string ReadCertificate(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    if (in) all << in.rdbuf();
    return all.str();
}

bool SetKey(CProxyConfig& config, int value) {
    const int before = config.Config().httpsFilter.exchange(value);
    if (config.Save()) return true;
    config.Config().httpsFilter = before;
    return false;
}

}  // namespace

HttpsSwitchResult SwitchHttpsOn(CProxyConfig& config, const HttpsSwitchSettings& settings) {
    std::string reason;
    if (!tls::TlsAvailable(reason)) return {false, reason + ". Nothing was changed."};
    const bool wasOn = config.Config().httpsFilter != 0;
    const char* stays = wasOn ? "HTTPS filtering is still on" : "HTTPS filtering stays off";

    tls::CaLoad status;
    std::shared_ptr<const tls::LocalCa> ca = tls::LocalCa::Load(settings.ca, status);
    bool created = false;
    if (!ca) {
        // None yet, a broken one, or one whose key others could read: a new
        // CA in its place (the trust entries below take the new one's name).
        ca = tls::LocalCa::Create(reason);
        if (!ca) return {false, std::string(stays) + ": " + reason + "."};
        if (!ca->Store(settings.ca, reason)) return {false, std::string(stays) + ": " + reason + "."};
        created = true;
    }
    auto undo = [&](size_t storesDone) {
        if (wasOn) return;  // a failed repair leaves a working switch as it was
        std::string ignored;
        for (size_t i = 0; i < storesDone; ++i)
            platform::RemoveTrustedRoot(kStores[i], settings.trust, kLocalCaTrustName, ca->CertificatePem(), ignored);
        if (created) tls::LocalCa::Remove(settings.ca);
    };
    for (size_t i = 0; i < std::size(kStores); ++i) {
        std::string failure;
        if (!platform::AddTrustedRoot(kStores[i], settings.trust, kLocalCaTrustName, ca->CertificatePem(), failure)) {
            undo(i);
            return {false, std::string(stays) + ": the local CA could not be added to " +
                               platform::DescribeTrustStore(kStores[i], settings.trust) + " (" + failure + ")."};
        }
    }
    if (!SetKey(config, 1)) {
        undo(std::size(kStores));
        return {false, std::string(stays) + ": " + CProxyConfig::kConfigFile + " could not be written."};
    }
    return {true, "HTTPS filtering is on. The local CA \"" + ca->Name() + "\" (" + settings.ca.certificate +
                      ") is trusted by " + platform::DescribeTrustStore(kStores[0], settings.trust) + " and by " +
                      platform::DescribeTrustStore(kStores[1], settings.trust) + "."};
}

HttpsSwitchResult SwitchHttpsOff(CProxyConfig& config, const HttpsSwitchSettings& settings) {
    // Without the key nothing more can be signed, whatever else fails.
    std::error_code ec;
    std::filesystem::remove(settings.ca.key, ec);
    const bool keyGone = !std::filesystem::exists(settings.ca.key, ec);
    const std::string certificate = ReadCertificate(settings.ca.certificate);

    std::vector<std::string> failures;
    for (platform::TrustStore store : kStores) {
        std::string failure;
        if (!platform::RemoveTrustedRoot(store, settings.trust, kLocalCaTrustName, certificate, failure))
            failures.push_back(platform::DescribeTrustStore(store, settings.trust) + " (" + failure + ")");
    }
    if (failures.empty()) std::filesystem::remove(settings.ca.certificate, ec);
    const bool saved = SetKey(config, 0);

    std::string problems;
    if (!keyGone) problems += " The local CA's key " + settings.ca.key + " could not be deleted.";
    for (const auto& f : failures) problems += " The local CA could not be removed from " + f + ".";
    if (!saved) problems += std::string(" ") + CProxyConfig::kConfigFile + " could not be written.";
    if (problems.empty())
        return {true, "HTTPS filtering is off. The local CA and its key are deleted and no longer trusted."};
    return {false, std::string(saved ? "HTTPS filtering is off, but not everything could be undone:"
                                     : "HTTPS filtering could not be switched off completely:") +
                       problems + " Run Proxy -https-off again with the rights to change it."};
}
