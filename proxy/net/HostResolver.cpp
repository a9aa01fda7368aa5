#include "net/HostResolver.h"

#include <platform/Socket.h>

std::vector<uint32_t> SystemHostResolver::Resolve(const std::string& host) const {
    return platform::ResolveIPv4(host);
}

const SystemHostResolver& SystemHostResolver::Instance() {
    static const SystemHostResolver instance;
    return instance;
}
