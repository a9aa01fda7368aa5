#pragma once

#include <string>

#include "Settings.h"

namespace updater {

constexpr const char* kNewManifest = "SUpgrade.zelk";
constexpr const char* kStoredManifest = "Upgrade.zelk";
constexpr const char* kManifestPath = "/CZELK/ConfigUpgrade.txt";

// The whole filter-data run: fetch the manifest from the update server and
// apply it. Returns the exit code of the program, which is always 0.
int RunDataUpgrade(const UpdateSettings& settings);

// Compares the new manifest with the stored one, downloads what changed,
// unpacks archives, and keeps the new manifest when the last needed download
// succeeded (drops it otherwise).
void ApplyUpgradeList();

// Unpacks a downloaded 7-Zip archive into "Data" (every file, without its
// folder path, overwriting) and deletes the archive.
void ExtractArchive(const std::string& fileName);

// The 7-Zip console program, or empty when none is installed.
std::string FindSevenZip();

}  // namespace updater
