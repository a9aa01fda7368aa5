#pragma once

#include <string>

#include <platform/TrustStore.h>

#include "tls/LocalCa.h"

class CProxyConfig;

// Switching HTTPS filtering on and off: the local CA, its trust in the
// machine's stores and the httpsFilter key, changed together.

struct HttpsSwitchSettings {
    tls::CaPaths ca;
    platform::TrustStoreSettings trust;  // empty fields: the system's own stores
};

struct HttpsSwitchResult {
    bool ok;
    std::string message;  // for the user, success or failure
};

// The name of our root in the trust stores.
constexpr const char* kLocalCaTrustName = "morvane-local-ca";

// Makes the local CA if there is none (or none that may be used: a key that
// other accounts can read is replaced), adds it to the system's store and
// to the browser database, and sets httpsFilter=1. Either all of it happens
// or, when the switch was off, nothing stays behind. `config` must be loaded.
HttpsSwitchResult SwitchHttpsOn(CProxyConfig& config, const HttpsSwitchSettings& settings);

// Deletes the CA's key, removes the CA from both stores, deletes its
// certificate and sets httpsFilter=0. The key goes first and always; the
// certificate stays only while a store still holds it, so that running the
// command again can finish the removal.
HttpsSwitchResult SwitchHttpsOff(CProxyConfig& config, const HttpsSwitchSettings& settings);
