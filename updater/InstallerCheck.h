#pragma once

#include <string>

#include "Release.h"

namespace updater {

// What vouches for a downloaded installer before it may run.
enum class InstallerCheck {
    Sha256Matches,  // its SHA-256 equals the release description's Sha256 value
    NoSha256,       // the release description names no (well-formed) Sha256
    Sha256Differs,  // it is not the file the release description names
    Unreadable,     // the downloaded file could not be read
};

// Checks the downloaded installer against the release description.
InstallerCheck CheckInstaller(const std::string& file, const ReleaseInfo& release);

// Only a proven installer runs.
bool MayRun(InstallerCheck check);

}  // namespace updater
