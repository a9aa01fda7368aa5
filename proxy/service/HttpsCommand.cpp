#include <platform/MessageBox.h>
#include <platform/ProgramPath.h>
#include <platform/Socket.h>
#include <platform/TrustStore.h>
#include <sievekit/CProxyConfig.h>

#include <vector>

#include "https/HttpsSwitch.h"
#include "service/ServiceHost.h"

namespace {

// Tells a running proxy to re-read its configuration (the reload message),
// when it listens where this machine's loopback reaches it: the message
// counts only from a loopback peer. Nothing happens when none runs.
void NotifyRunningProxy(CProxyConfig& config) {
    const std::string address = config.getListenAddress();
    if (address.rfind("127.", 0) != 0 && address != "0.0.0.0") return;
    const std::vector<uint32_t> target = platform::ResolveIPv4(address == "0.0.0.0" ? "127.0.0.1" : address);
    const platform::Socket s = platform::CreateTcpSocket().rc;
    if (s == platform::kInvalidSocket) return;
    if (!target.empty() && platform::ConnectIPv4(s, target[0], config.Config().proxyPort.load()).rc == 0) {
        static const char kReload[] = "ZELK_UPDATE";
        platform::SendSome(s, kReload, sizeof kReload - 1);
    }
    platform::ShutdownSocket(s);
    platform::CloseSocket(s);
}

}  // namespace

int RunHttpsSwitch(bool on) {
    platform::SetWorkingDirectory(platform::ProgramFolder());
    CProxyConfig& config = ProxyConfig();
    config.LoadData();
    HttpsSwitchSettings settings;
    settings.trust = platform::TrustStoreSettingsFromEnvironment();
    const HttpsSwitchResult result = on ? SwitchHttpsOn(config, settings) : SwitchHttpsOff(config, settings);
    platform::ShowMessageBox(kServiceName, result.message);
    if (result.ok) NotifyRunningProxy(config);
    return result.ok ? 0 : 1;
}
