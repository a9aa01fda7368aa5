#pragma once

#include <string>

namespace platform {

// The places where a root certificate is added so that this machine's
// programs and browsers trust it.
enum class TrustStore {
    System,       // the machine's own store, read by most programs
    UserBrowser,  // the user's browser database (Chromium's NSS database on Linux)
};

// Where the stores are. An empty field means the system's own place; tests
// name folders and commands of their own so they never touch the machine's.
struct TrustStoreSettings {
    std::string systemFolder;     // folder of locally added roots (/usr/local/share/ca-certificates)
    std::string systemUpdate;     // program that rebuilds the system's bundle from it (update-ca-certificates);
                                  // it is run with no argument after an addition, with --fresh after a removal
    std::string browserDatabase;  // the NSS database folder (the user's ~/.pki/nssdb, also under sudo)
    std::string certutil;         // NSS's tool (certutil, found on PATH)
};

// The settings the environment gives: MORVANE_TRUST_DIR (systemFolder),
// MORVANE_TRUST_UPDATE (systemUpdate) and MORVANE_NSSDB (browserDatabase);
// unset variables leave their field empty.
TrustStoreSettings TrustStoreSettingsFromEnvironment();

// The store in words for messages, with the place it is kept.
std::string DescribeTrustStore(TrustStore store, const TrustStoreSettings& settings);

// Adds a root certificate (PEM) under a name of letters, digits and '-'; an
// entry of that name is replaced. False with the reason in `failure`, the
// store then left without the entry.
bool AddTrustedRoot(TrustStore store, const TrustStoreSettings& settings, const std::string& name,
                    const std::string& certificatePem, std::string& failure);

// Removes the entry of that name (stores keyed by content use the
// certificate; it may be empty when it is no longer known). An entry that is
// not there is no failure.
bool RemoveTrustedRoot(TrustStore store, const TrustStoreSettings& settings, const std::string& name,
                       const std::string& certificatePem, std::string& failure);

}  // namespace platform
