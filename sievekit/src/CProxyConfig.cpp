#include "sievekit/CProxyConfig.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <vector>

#include "LeftoverFiles.h"
#include "TextFile.h"

namespace {

struct IntKey {
    const char* name;
    ConfigInt ProxyData::*field;
};
struct PortKey {
    const char* name;
    ConfigPort ProxyData::*field;
};

const IntKey kIntKeys[] = {
    {"showControl", &ProxyData::showControl},
    {"wordFilter", &ProxyData::wordFilter},
    {"imageMode", &ProxyData::imageMode},
    {"whiteListOnly", &ProxyData::whiteListOnly},
    {"wordListMode", &ProxyData::wordListMode},
    {"adBlock", &ProxyData::adBlock},
    {"safeSearch", &ProxyData::safeSearch},
    {"blockUnlistedHttp", &ProxyData::blockUnlistedHttp},
    {"blockUnlistedHttps", &ProxyData::blockUnlistedHttps},
    {"intelligentMode", &ProxyData::intelligentMode},
    {"jieseTips", &ProxyData::jieseTips},
    {"xiuShenTips", &ProxyData::xiuShenTips},
    {"intelligentTipPage", &ProxyData::intelligentTipPage},
    {"whiteListLock", &ProxyData::whiteListLock},
    {"blockVideo", &ProxyData::blockVideo},
    {"addressFilterPage", &ProxyData::addressFilterPage},
    {"httpsFilter", &ProxyData::httpsFilter},
};
const PortKey kPortKeys[] = {
    {"proxyPort", &ProxyData::proxyPort},
    {"webPort", &ProxyData::webPort},
};
constexpr const char* kSection = "Proxy";

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return {};
    size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

// A decimal number read exactly as glibc's strtol reads one in the C locale
// (leading white space, an optional sign, the digits, and then nothing but
// the end of the C string), kept only when it lies in [lo, hi]. Done in 64
// bits on every system: Windows' long is 32 bits, and its strtol would clamp
// a large value into range instead of letting it fall back to the default.
bool ParseNumber(const std::string& text, int64_t lo, int64_t hi, int64_t& out) {
    if (text.empty()) return false;
    const char* p = text.c_str();  // an embedded NUL ends the text, as for strtol
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    // Without digits strtol reads nothing and points back at the start, so
    // only a text that is empty as a C string passes (as 0).
    if (*p < '0' || *p > '9') p = text.c_str();
    // Magnitudes up to 2^63 are told apart; anything larger saturates, and
    // lies outside every range asked for, as strtol's clamped result does.
    constexpr uint64_t kCap = uint64_t{1} << 63;
    uint64_t magnitude = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        const auto digit = static_cast<uint64_t>(*p - '0');
        magnitude = magnitude <= (kCap - digit) / 10 ? magnitude * 10 + digit : kCap + 1;
    }
    if (*p != '\0') return false;
    int64_t v;
    if (negative) v = magnitude >= kCap ? INT64_MIN : -static_cast<int64_t>(magnitude);
    else v = magnitude >= kCap ? INT64_MAX : static_cast<int64_t>(magnitude);
    if (v < lo || v > hi) return false;
    out = v;
    return true;
}

// A numeric IPv4 address in dotted-quad form ("127.0.0.1"), as the servers
// bind to it; names and other forms would make both servers fail to listen.
bool IsIpv4Address(const std::string& text) {
    int parts = 0;
    size_t i = 0;
    while (true) {
        size_t start = i;
        int value = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - start < 3) value = value * 10 + (text[i++] - '0');
        size_t digits = i - start;
        if (digits == 0 || value > 255 || (digits > 1 && text[start] == '0')) return false;
        if (++parts == 4) return i == text.size();
        if (i >= text.size() || text[i] != '.') return false;
        ++i;
    }
}

// The keys of one section, names folded to lower case.
std::map<std::string, std::string> ReadSection(const std::string& bytes, const std::string& section) {
    std::map<std::string, std::string> keys;
    bool inSection = false;
    for (const auto& raw : sievekit::SplitLines(bytes)) {
        std::string line = Trim(raw);
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;
        if (line[0] == '[') {
            size_t close = line.find(']');
            inSection = close != std::string::npos && Lower(Trim(line.substr(1, close - 1))) == Lower(section);
            continue;
        }
        size_t eq = line.find('=');
        if (!inSection || eq == std::string::npos) continue;
        keys.emplace(Lower(Trim(line.substr(0, eq))), Trim(line.substr(eq + 1)));
    }
    return keys;
}

// Rewrites the values of the given keys inside the section, keeping every
// other line; keys not present are added at the end of the section.
std::string UpdateSection(const std::string& bytes, const std::string& section,
                          const std::vector<std::pair<std::string, std::string>>& values) {
    std::vector<std::string> lines = sievekit::SplitLines(bytes);
    std::vector<bool> written(values.size(), false);
    std::string out;
    bool inSection = false, sectionSeen = false;
    auto flushMissing = [&] {
        for (size_t i = 0; i < values.size(); ++i)
            if (!written[i]) {
                out += values[i].first + "=" + values[i].second + "\n";
                written[i] = true;
            }
    };
    for (const auto& raw : lines) {
        std::string line = Trim(raw);
        if (!line.empty() && line[0] == '[') {
            if (inSection) flushMissing();
            size_t close = line.find(']');
            inSection = close != std::string::npos && Lower(Trim(line.substr(1, close - 1))) == Lower(section);
            sectionSeen = sectionSeen || inSection;
            out += raw + "\n";
            continue;
        }
        size_t eq = line.find('=');
        if (inSection && eq != std::string::npos && line[0] != ';' && line[0] != '#') {
            std::string key = Lower(Trim(line.substr(0, eq)));
            bool replaced = false;
            for (size_t i = 0; i < values.size(); ++i) {
                if (Lower(values[i].first) == key) {
                    if (!written[i]) out += values[i].first + "=" + values[i].second + "\n";
                    written[i] = true;
                    replaced = true;
                    break;
                }
            }
            if (replaced) continue;
        }
        out += raw + "\n";
    }
    if (inSection) flushMissing();
    if (!sectionSeen) {
        if (!out.empty() && out.back() != '\n') out += "\n";
        out += "[" + section + "]\n";
        flushMissing();
    }
    return out;
}

std::string AbsolutePath(const char* relative) {
    std::error_code ec;
    std::filesystem::path cwd = std::filesystem::current_path(ec);
    if (ec) return relative;
    return cwd.string() + "/" + relative;
}

}  // namespace

CProxyConfig::CProxyConfig() = default;

CProxyConfig::~CProxyConfig() { SaveStats(); }

void CProxyConfig::LoadData() {
    std::lock_guard<std::mutex> g(lock_);
    configPath_ = AbsolutePath(kConfigFile);
    std::string bytes;
    sievekit::ReadTextFile(configPath_, bytes);
    auto keys = ReadSection(bytes, kSection);
    const ProxyData defaults;
    for (const auto& k : kIntKeys) {
        int64_t v;
        auto it = keys.find(Lower(k.name));
        bool ok = it != keys.end() && ParseNumber(it->second, INT32_MIN, INT32_MAX, v);
        (data_.*k.field).store(ok ? static_cast<int32_t>(v) : (defaults.*k.field).load());
    }
    for (const auto& k : kPortKeys) {
        int64_t v;
        auto it = keys.find(Lower(k.name));
        bool ok = it != keys.end() && ParseNumber(it->second, 1, 65535, v);
        (data_.*k.field).store(ok ? static_cast<uint16_t>(v) : (defaults.*k.field).load());
    }
    int64_t v;
    auto it = keys.find("intelligentvalue");
    intelligentValue_ = it != keys.end() && ParseNumber(it->second, 0, 100, v) ? static_cast<int>(v)
                                                                             : kDefaultIntelligentValue;
    it = keys.find("listenaddress");
    listenAddress_ = it != keys.end() && IsIpv4Address(it->second) ? it->second : kDefaultListenAddress;

    // The statistics file is read once: later loads must not lose counts
    // added since it was last written. That first load is the start of the
    // program's use of its data, the time to clear away what saves
    // interrupted by a crash left behind.
    if (statsPath_.empty()) {
        sievekit::RemoveLeftoverTemporaryFiles(std::filesystem::path(configPath_).parent_path().string());
        statsPath_ = AbsolutePath(kStatsFile);
        std::string stats;
        sievekit::ReadTextFile(statsPath_, stats);
        auto s = ReadSection(stats, "Stats");
        auto c = s.find("filtercount");
        if (c != s.end() && ParseNumber(c->second, 0, INT64_MAX, v)) filterCount_ += static_cast<unsigned>(v);
    }
}

bool CProxyConfig::Save() {
    std::lock_guard<std::mutex> g(lock_);
    std::string path = configPath_.empty() ? AbsolutePath(kConfigFile) : configPath_;
    std::string bytes;
    sievekit::ReadTextFile(path, bytes);
    std::vector<std::pair<std::string, std::string>> values;
    for (const auto& k : kIntKeys) values.emplace_back(k.name, std::to_string((data_.*k.field).load()));
    for (const auto& k : kPortKeys) values.emplace_back(k.name, std::to_string((data_.*k.field).load()));
    values.emplace_back("intelligentValue", std::to_string(intelligentValue_.load()));
    values.emplace_back("listenAddress", listenAddress_);
    bool ok = sievekit::WriteFileAtomically(path, UpdateSection(bytes, kSection, values));
    return SaveStatsLocked() && ok;
}

void CProxyConfig::addFilterCount(unsigned count) { filterCount_ += count; }

std::string CProxyConfig::getListenAddress() const {
    std::lock_guard<std::mutex> g(lock_);
    return listenAddress_;
}

bool CProxyConfig::SaveStats() {
    std::lock_guard<std::mutex> g(lock_);
    return SaveStatsLocked();
}

bool CProxyConfig::SaveStatsLocked() {
    if (statsPath_.empty()) return true;  // never loaded: nothing of ours to store
    std::string bytes;
    sievekit::ReadTextFile(statsPath_, bytes);
    return sievekit::WriteFileAtomically(
        statsPath_, UpdateSection(bytes, "Stats", {{"filterCount", std::to_string(filterCount_.load())}}));
}

CProxyConfig& ProxyConfig() {
    static CProxyConfig config;
    return config;
}
