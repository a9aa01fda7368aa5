// The Updater's readers of what the update server sends: the filter-data
// manifest (ReadUpgradeList, with its item path check) and the release
// description with its version comparison.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "FuzzSupport.h"
#include "Release.h"
#include "UpgradeList.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::EnterScratchFolder();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    fuzzsupport::WriteFile("SUpgrade.zelk", text);

    updater::UpgradeList list("SUpgrade.zelk");
    updater::ReadUpgradeList(list);
    size_t lines = 0;
    for (char c : text) lines += c == '\n';
    FUZZ_CHECK(list.items.size() <= lines + 1);
    const std::filesystem::path base = "/work-folder";
    for (const auto& item : list.items) {
        FUZZ_CHECK(item.url.size() <= updater::UpgradeItem::kUrlMax);
        FUZZ_CHECK(item.fileName.size() <= updater::UpgradeItem::kFileNameMax);
        FUZZ_CHECK(item.version.size() <= updater::UpgradeItem::kVersionMax);
        FUZZ_CHECK(item.extraPath.size() <= updater::UpgradeItem::kExtraPathMax);
        FUZZ_CHECK(item.fileName.find('\t') == std::string::npos && item.url.find('\t') == std::string::npos);
        // A name that passes the check stays inside the working folder.
        if (updater::IsSafeItemPath(item.fileName)) {
            const std::string normal = (base / item.fileName).lexically_normal().string();
            FUZZ_CHECK(normal.compare(0, base.string().size(), base.string()) == 0);
        }
    }

    // The same bytes as a release description.
    fuzzsupport::WriteFile("su.zelk", text);
    const updater::ReleaseInfo release = updater::ReadReleaseInfo("su.zelk");
    FUZZ_CHECK(release.version.size() <= 15 && release.date.size() <= 31);
    FUZZ_CHECK(release.url.size() <= 511 && release.description.size() <= 1023);
    // Version order is a strict order.
    const std::string other = list.items.empty() ? std::string("1.2.3.4") : list.items[0].version;
    FUZZ_CHECK(!updater::IsNewerVersion(release.version, release.version));
    FUZZ_CHECK(!(updater::IsNewerVersion(release.version, other) && updater::IsNewerVersion(other, release.version)));
    if (updater::VersionFields(release.version) != updater::VersionFields(other))
        FUZZ_CHECK(updater::IsNewerVersion(release.version, other) != updater::IsNewerVersion(other, release.version));
    return 0;
}
