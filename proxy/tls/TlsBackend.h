#pragma once

#include <string>

namespace tls {

// True when this build has a TLS implementation. Otherwise every operation of
// the layer fails, and `reason` says why in a sentence for the user.
bool TlsAvailable(std::string& reason);

}  // namespace tls
