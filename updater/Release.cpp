#include "Release.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "platform/Download.h"
#include "platform/IniFile.h"

namespace updater {

namespace {

constexpr size_t kIniBuffer = 1024;

std::string ReadSetupKey(const std::string& key, const std::string& file) {
    return platform::ReadProfileString("Setup", key, "", kIniBuffer, file);
}

// Decimal reading of the leading digits (after blanks and a sign); no digits
// give 0, overflow stops at the int limits.
int LeadingInt(const std::string& text) {
    const long long value = std::strtoll(text.c_str(), nullptr, 10);
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

// Exactly 64 hex digits, in lower case; anything else vouches for nothing.
std::string Sha256Value(std::string text) {
    if (text.size() != 64) return {};
    for (char& c : text) {
        if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return {};
    }
    return text;
}

}  // namespace

ReleaseInfo ReadReleaseInfo(const std::string& file) {
    ReleaseInfo release;
    release.version = ReadSetupKey("Version", file).substr(0, 15);
    release.date = ReadSetupKey("Date", file).substr(0, 31);
    release.url = ReadSetupKey("Url", file).substr(0, 511);
    release.sha256 = Sha256Value(ReadSetupKey("Sha256", file));
    std::string description;
    for (char c : ReadSetupKey("Description", file)) {
        if (c == '|')
            description += "\r\n";
        else
            description += c;
    }
    release.description = description.substr(0, 1023);
    return release;
}

std::array<int, 4> VersionFields(const std::string& version) {
    std::array<int, 4> fields{0, 0, 0, 0};
    size_t start = 0;
    for (size_t i = 0; i < fields.size() && start <= version.size(); ++i) {
        size_t dot = version.find('.', start);
        if (dot == std::string::npos) dot = version.size();
        fields[i] = LeadingInt(version.substr(start, dot - start));
        start = dot + 1;
    }
    return fields;
}

bool IsNewerVersion(const std::string& release, const std::string& installed) {
    const auto a = VersionFields(release);
    const auto b = VersionFields(installed);
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i]) return a[i] > b[i];
    return false;
}

UpdateCheckResult CheckForUpdate(const UpdateSettings& settings, const std::string& installedVersion,
                                 ReleaseInfo& release) {
    const std::string address = settings.server + kReleasePath + TimeQuery();
    if (!platform::DownloadToFile(address, kReleaseFile)) return UpdateCheckResult::Error;
    release = ReadReleaseInfo(kReleaseFile);
    return IsNewerVersion(release.version, installedVersion) ? UpdateCheckResult::NewRelease
                                                             : UpdateCheckResult::UpToDate;
}

}  // namespace updater
