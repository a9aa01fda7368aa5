#include "platform/TrustStore.h"

namespace platform {

// Windows keeps added roots in the machine's Root store
// (CertAddEncodedCertificateToStore, removed by thumbprint); the browsers
// read that store, so there is no separate browser database. Until that is
// built, an addition is refused with its reason, and a removal has nothing to
// remove: this build has never added a root.

TrustStoreSettings TrustStoreSettingsFromEnvironment() { return {}; }

std::string DescribeTrustStore(TrustStore store, const TrustStoreSettings&) {
    switch (store) {
        case TrustStore::System: return "the machine's Root certificate store";
        case TrustStore::UserBrowser: return "the browsers' certificate store (the machine's Root store)";
    }
    return {};
}

bool AddTrustedRoot(TrustStore, const TrustStoreSettings&, const std::string&, const std::string&,
                    std::string& failure) {
    failure = "adding a root certificate is not available on Windows yet";
    return false;
}

bool RemoveTrustedRoot(TrustStore, const TrustStoreSettings&, const std::string&, const std::string&,
                       std::string& failure) {
    failure.clear();
    return true;
}

}  // namespace platform
