#include "platform/TrustStore.h"

#include <cstdlib>

#include "TrustTools.h"

// Linux keeps two stores: the system's bundle and the user's NSS database
// that Chromium reads (SystemTrustStore.cpp, NssDatabase.cpp).

namespace platform {

namespace {

bool ValidName(const std::string& name) {
    if (name.empty() || name.size() > 64) return false;
    for (char c : name)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-')) return false;
    return true;
}

std::string Environment(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

}  // namespace

TrustStoreSettings TrustStoreSettingsFromEnvironment() {
    TrustStoreSettings s;
    s.systemFolder = Environment("MORVANE_TRUST_DIR");
    s.systemUpdate = Environment("MORVANE_TRUST_UPDATE");
    s.browserDatabase = Environment("MORVANE_NSSDB");
    return s;
}

std::string DescribeTrustStore(TrustStore store, const TrustStoreSettings& settings) {
    switch (store) {
        case TrustStore::System: return "the system's certificate store (" + trust::SystemFolder(settings) + ")";
        case TrustStore::UserBrowser: return "Chromium's certificate database (" + trust::BrowserDatabase(settings) + ")";
    }
    return {};
}

bool AddTrustedRoot(TrustStore store, const TrustStoreSettings& settings, const std::string& name,
                    const std::string& certificatePem, std::string& failure) {
    failure.clear();
    if (!ValidName(name)) {
        failure = "bad certificate name";
        return false;
    }
    switch (store) {
        case TrustStore::System: return trust::AddSystemRoot(settings, name, certificatePem, failure);
        case TrustStore::UserBrowser: return trust::AddBrowserRoot(settings, name, certificatePem, failure);
    }
    return false;
}

bool RemoveTrustedRoot(TrustStore store, const TrustStoreSettings& settings, const std::string& name,
                       const std::string&, std::string& failure) {
    failure.clear();
    if (!ValidName(name)) {
        failure = "bad certificate name";
        return false;
    }
    switch (store) {
        case TrustStore::System: return trust::RemoveSystemRoot(settings, name, failure);
        case TrustStore::UserBrowser: return trust::RemoveBrowserRoot(settings, name, failure);
    }
    return false;
}

}  // namespace platform
