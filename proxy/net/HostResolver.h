#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The one place where host names become addresses. The proxy resolves
// through this interface so tests can give a name any set of loopback
// addresses, or none, without asking the system's resolver.
class IHostResolver {
public:
    virtual ~IHostResolver() = default;
    // The host's IPv4 addresses (network byte order) in the resolver's order;
    // empty when the name cannot be resolved.
    virtual std::vector<uint32_t> Resolve(const std::string& host) const = 0;
};

// getaddrinfo, IPv4 stream sockets only.
class SystemHostResolver final : public IHostResolver {
public:
    std::vector<uint32_t> Resolve(const std::string& host) const override;
    // Stateless, so one instance serves every listener.
    static const SystemHostResolver& Instance();
};
