#include "DataUpgrade.h"

#include <filesystem>
#include <system_error>
#include <vector>

#include "UpgradeList.h"
#include "platform/Download.h"
#include "platform/Process.h"

namespace updater {

namespace {

// Addresses have always been formatted into a buffer of this size.
constexpr size_t kAddressMax = 2047;

std::string WithTimeQuery(const std::string& address) { return (address + TimeQuery()).substr(0, kAddressMax); }

bool FileExists(const std::string& name) {
    std::error_code ec;
    return !name.empty() && std::filesystem::exists(name, ec);
}

void DeleteFile(const std::string& name) {
    std::error_code ec;
    std::filesystem::remove(name, ec);
}

// Manifests are written for both separators; "/" works on every system.
std::string PortableName(std::string name) {
    for (char& c : name)
        if (c == '\\') c = '/';
    return name;
}

bool DownloadItem(const UpgradeItem& item) {
    // A name that points outside the program folder is refused like a
    // download that failed: nothing is written.
    if (!IsSafeItemPath(item.fileName)) return false;
    return platform::DownloadToFile(WithTimeQuery(item.url), PortableName(item.fileName));
}

}  // namespace

std::string FindSevenZip() {
    for (const char* name : {"7z.exe", "7z", "7zz", "7za"}) {
        std::string path = platform::FindProgram(name);
        if (!path.empty()) return path;
    }
    return {};
}

void ExtractArchive(const std::string& fileName) {
    std::error_code ec;
    const std::string here = std::filesystem::current_path(ec).string();
    std::string archive = PortableName(fileName);
    // 7-Zip reads an argument starting with "-" as a switch.
    if (!archive.empty() && archive.front() == '-') archive = "./" + archive;

    const std::string sevenZip = FindSevenZip();
    // "*" selects every file on all systems (7-Zip reads "*.*" as "*" only on
    // Windows); -bso0 -bsp0 keep the run silent like a hidden window.
    platform::Process unpacker;
    if (!sevenZip.empty())
        unpacker = platform::StartProgram(sevenZip, {"e", archive, "-oData", "*", "-y", "-bso0", "-bsp0"},
                                          platform::ShowWindow::Hidden, here);
    unpacker.Wait();
    DeleteFile(archive);
}

void ApplyUpgradeList() {
    UpgradeList fresh(kNewManifest);
    UpgradeList stored(kStoredManifest);
    ReadUpgradeList(fresh);
    ReadUpgradeList(stored);
    if (fresh.items.empty()) {
        DeleteFile(kNewManifest);
        return;
    }

    bool lastDownloadSucceeded = false;
    for (const UpgradeItem& item : fresh.items) {
        const UpgradeItem* known = nullptr;
        for (const UpgradeItem& old : stored.items) {
            if (old.url == item.url) {
                known = &old;
                break;
            }
        }
        const bool upToDate = known && known->version == item.version &&
                              (item.archive || FileExists(PortableName(item.fileName)));
        if (upToDate) continue;

        lastDownloadSucceeded = DownloadItem(item);
        if (lastDownloadSucceeded && item.archive) ExtractArchive(item.fileName);
    }

    if (lastDownloadSucceeded) {
        DeleteFile(kStoredManifest);
        std::error_code ec;
        std::filesystem::rename(kNewManifest, kStoredManifest, ec);
    } else {
        DeleteFile(kNewManifest);
    }
}

int RunDataUpgrade(const UpdateSettings& settings) {
    if (platform::DownloadToFile(WithTimeQuery(settings.server + kManifestPath), kNewManifest)) ApplyUpgradeList();
    return 0;
}

}  // namespace updater
