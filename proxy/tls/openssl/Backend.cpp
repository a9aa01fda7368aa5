#include "tls/TlsBackend.h"

namespace tls {

bool TlsAvailable(std::string& reason) {
    reason.clear();
    return true;
}

}  // namespace tls
