#pragma once

#include <array>
#include <string>

#include "Settings.h"

namespace updater {

constexpr const char* kReleaseFile = "./su.zelk";
constexpr const char* kReleasePath = "/czelk/SoftUpgrade.txt";

// The release description from the update server, in the sizes it has
// always had: version 15, date 31, description 1023, url 511 characters.
struct ReleaseInfo {
    std::string version;
    std::string date;
    std::string description;  // "|" in the file becomes a line break
    std::string url;          // the installer's address
    std::string sha256;       // the installer's SHA-256, 64 lower-case hex digits; empty when absent or malformed
};

// Reads the [Setup] section of a release description file.
ReleaseInfo ReadReleaseInfo(const std::string& file);

// A dotted version as four numbers; missing or non-numeric fields are 0.
std::array<int, 4> VersionFields(const std::string& version);

// True when the release's version is greater than the installed one,
// comparing the four fields as numbers from the first.
bool IsNewerVersion(const std::string& release, const std::string& installed);

enum class UpdateCheckResult {
    Error,       // the release description could not be fetched
    UpToDate,    // no newer release
    NewRelease,  // a newer release exists
};

// Fetches the release description to kReleaseFile (left in place) and
// compares its version with the installed one.
UpdateCheckResult CheckForUpdate(const UpdateSettings& settings, const std::string& installedVersion,
                                 ReleaseInfo& release);

}  // namespace updater
