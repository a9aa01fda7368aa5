#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace updater {

// One line of a filter-data manifest. The text fields keep at most the
// lengths below; longer text in the manifest is cut.
struct UpgradeItem {
    static constexpr size_t kUrlMax = 1023;
    static constexpr size_t kFileNameMax = 259;
    static constexpr size_t kVersionMax = 19;
    static constexpr size_t kExtraPathMax = 259;

    std::string url;
    std::string fileName;  // where the item is stored, relative to the working folder
    bool archive = false;  // a 7-Zip archive to unpack into "Data"
    std::string version;   // compared as text
    bool extraFlag = false;  // carried, not acted on
    std::string extraPath;   // carried, not acted on
};

// A manifest: its file and its items in file order.
struct UpgradeList {
    explicit UpgradeList(std::string file) : fileName(std::move(file)) {}

    std::string fileName;
    std::vector<UpgradeItem> items;
    std::string owner = "Quorlan";
};

// A manifest line of this many characters or more ends the reading.
constexpr size_t kLongManifestLine = 1023;

// Turns one manifest line (line end already removed) into an item: columns
// split at runs of tabs, in the order archive, file name, version, url,
// extra path, extra flag.
UpgradeItem ParseUpgradeLine(const std::string& line);

// Fills the list from its file; a missing file leaves it empty. Comment lines
// (starting with ";") are skipped; a line of kLongManifestLine characters or
// more ends the reading.
void ReadUpgradeList(UpgradeList& list);

// A manifest comes over plain HTTP, so a file name may only point inside the
// working folder: no absolute path, no drive, no ".." segment.
bool IsSafeItemPath(const std::string& fileName);

}  // namespace updater
