#pragma once

#include <mutex>
#include <string>

#include "sievekit/ProxyData.h"

// The stored configuration: "Data/config.ini" section [Proxy], one key per
// ProxyData field, plus intelligentValue and listenAddress. Statistics go to
// "Data/stats.ini". Paths are relative to the working directory.
class CProxyConfig {
public:
    CProxyConfig();
    ~CProxyConfig();  // stores the statistics counter
    CProxyConfig(const CProxyConfig&) = delete;
    CProxyConfig& operator=(const CProxyConfig&) = delete;

    // Re-reads the stored configuration; a missing key takes its default.
    void LoadData();
    ProxyData& Config() { return data_; }
    // Stores the record; keys this class does not know are kept. False when
    // the file could not be written (the old file is then left untouched).
    bool Save();
    void addFilterCount(unsigned count);
    unsigned filterCount() const { return filterCount_.load(); }
    // Link-ratio threshold in percent.
    int getIntelligentValue() const { return intelligentValue_.load(); }
    // The address both servers bind to.
    std::string getListenAddress() const;

    static constexpr const char* kConfigFile = "Data/config.ini";
    static constexpr const char* kStatsFile = "Data/stats.ini";
    static constexpr int kDefaultIntelligentValue = 30;
    static constexpr const char* kDefaultListenAddress = "127.0.0.1";

private:
    bool SaveStats();
    bool SaveStatsLocked();

    ProxyData data_;
    std::atomic<int> intelligentValue_{kDefaultIntelligentValue};
    std::atomic<unsigned> filterCount_{0};
    mutable std::mutex lock_;  // guards listenAddress_ and serialises LoadData/Save
    std::string listenAddress_{kDefaultListenAddress};
    std::string configPath_;  // absolute, taken at the last LoadData
    std::string statsPath_;   // empty until the statistics were read
};

// The one process-wide configuration object.
CProxyConfig& ProxyConfig();
