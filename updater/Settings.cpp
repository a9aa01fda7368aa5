#include "Settings.h"

#include <cstdint>

#include "platform/IniFile.h"
#include "platform/Tick.h"

namespace updater {

namespace {
std::string WithoutTrailingSlash(std::string address) {
    while (!address.empty() && address.back() == '/') address.pop_back();
    return address;
}
}  // namespace

UpdateSettings LoadUpdateSettings(const std::string& configFile) {
    UpdateSettings settings;
    settings.server =
        WithoutTrailingSlash(platform::ReadProfileString("Update", "server", kDefaultUpdateServer, 1024, configFile));
    settings.website =
        WithoutTrailingSlash(platform::ReadProfileString("Update", "website", kDefaultWebsite, 1024, configFile));
    return settings;
}

std::string TimeQuery() {
    // The tick count printed as a signed 32-bit number, as the server has
    // always received it.
    const auto ticks = static_cast<int32_t>(static_cast<uint32_t>(platform::TickCount()));
    return "?time=" + std::to_string(ticks);
}

}  // namespace updater
