#pragma once

#include <string>

namespace updater {

// Where the updater looks for releases and filter data, and the maker's web
// site whose update page it shows.
struct UpdateSettings {
    std::string server;
    std::string website;
};

// HTTPS, so the release description and the filter data come from the maker.
constexpr const char* kDefaultUpdateServer = "https://update.morvane.org";
constexpr const char* kDefaultWebsite = "https://www.morvane.org";
constexpr const char* kConfigFile = "Data/config.ini";

// Reads the [Update] section (keys "server" and "website") of the given
// configuration file; missing keys take the defaults. A trailing "/" is
// dropped so the fixed paths can be appended as they are.
UpdateSettings LoadUpdateSettings(const std::string& configFile = kConfigFile);

// The query that keeps caches from answering: "?time=" and the tick count.
std::string TimeQuery();

}  // namespace updater
