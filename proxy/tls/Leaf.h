#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace tls {

class LocalCa;

// A certificate for one host with its own key, signed by the local CA: what
// the browser side of an intercepted connection presents. Immutable; shared
// by every session that presents it.
class Leaf {
public:
    ~Leaf();
    Leaf(const Leaf&) = delete;
    Leaf& operator=(const Leaf&) = delete;

    const std::string& Host() const { return host_; }
    // The end of its validity, in seconds since 1970.
    int64_t NotAfter() const { return notAfter_; }
    std::string CertificatePem() const;

    struct Impl;  // the backend's
    const Impl& impl() const { return *impl_; }
    Leaf(std::string host, int64_t notAfter, std::unique_ptr<Impl> impl);

private:
    std::string host_;
    int64_t notAfter_;
    std::unique_ptr<Impl> impl_;
};

// True when the host can be named in a certificate: a DNS name (letters,
// digits, '-' and '_' in labels of 1 to 63, at most 253 in all, no wildcard)
// or a numeric IPv4 or IPv6 address (without brackets).
bool IsCertifiableHost(const std::string& host);

// A fresh P-256 key and a certificate for the host: CA:FALSE, serverAuth, the
// host as its only subject alternative name (DNS: or IP:), a 128-bit random
// serial, valid from a day ago for 90 days, signed with SHA-256. The host is
// taken in lower case. `now` (seconds since 1970) is the clock's time when 0.
// Null when the host is not certifiable or minting fails.
std::shared_ptr<const Leaf> MintLeaf(const LocalCa& ca, const std::string& host, int64_t now = 0);

}  // namespace tls
