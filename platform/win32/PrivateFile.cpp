#include "platform/PrivateFile.h"

namespace platform {

// A private key on Windows is to be kept encrypted for the service's account
// (DPAPI, CryptProtectData). Until that is built, nothing is written or read,
// so no key ever lies on the disk unprotected; the Windows build has no TLS
// layer that would ask for one.

bool WritePrivateFile(const std::string&, const std::string&, std::string_view) { return false; }

PrivateFileRead ReadPrivateFile(const std::string&, std::string& bytes) {
    bytes.clear();
    return PrivateFileRead::Failed;
}

}  // namespace platform
