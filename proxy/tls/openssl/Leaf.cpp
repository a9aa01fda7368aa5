#include "tls/Leaf.h"

#include <ctime>

#include "tls/LocalCa.h"
#include "tls/openssl/Certificates.h"
#include "tls/openssl/Impl.h"

namespace tls {

namespace {

constexpr int kBackdateDays = -1;
constexpr int kLifeDays = 90;
constexpr size_t kMaxCommonName = 64;  // longer names go in the alternative name only

// The address in a certificate's binary form when the host is a numeric
// IPv4 or IPv6 address; null for a name.
OctetsPtr IpAddress(const std::string& host) { return OctetsPtr(a2i_IPADDRESS(host.c_str())); }

bool AddAlternativeName(X509* certificate, const std::string& host, OctetsPtr ip, bool critical) {
    NamesPtr names(sk_GENERAL_NAME_new_null());
    GENERAL_NAME* name = GENERAL_NAME_new();
    if (!names || !name) {
        GENERAL_NAME_free(name);
        return false;
    }
    if (ip) {
        GENERAL_NAME_set0_value(name, GEN_IPADD, ip.release());
    } else {
        ASN1_IA5STRING* dns = ASN1_IA5STRING_new();
        if (!dns || ASN1_STRING_set(dns, host.data(), static_cast<int>(host.size())) != 1) {
            ASN1_IA5STRING_free(dns);
            GENERAL_NAME_free(name);
            return false;
        }
        GENERAL_NAME_set0_value(name, GEN_DNS, dns);
    }
    if (sk_GENERAL_NAME_push(names.get(), name) <= 0) {
        GENERAL_NAME_free(name);
        return false;
    }
    // Built from the parts rather than from configuration text, so nothing in
    // a host can be read as a second name.
    return X509_add1_ext_i2d(certificate, NID_subject_alt_name, names.get(), critical ? 1 : 0, X509V3_ADD_DEFAULT) == 1;
}

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

}  // namespace

Leaf::Leaf(std::string host, int64_t notAfter, std::unique_ptr<Impl> impl)
    : host_(std::move(host)), notAfter_(notAfter), impl_(std::move(impl)) {}
Leaf::~Leaf() = default;

std::string Leaf::CertificatePem() const { return CertificateToPem(impl_->certificate.get()); }

std::shared_ptr<const Leaf> MintLeaf(const LocalCa& ca, const std::string& anyCaseHost, int64_t at) {
    if (!IsCertifiableHost(anyCaseHost)) return nullptr;
    const std::string host = Lower(anyCaseHost);
    X509* issuer = ca.impl().certificate.get();
    const std::time_t now = at != 0 ? static_cast<std::time_t>(at) : std::time(nullptr);
    KeyPtr key = NewP256Key();
    X509Ptr certificate = key ? NewCertificate(key.get(), now, kBackdateDays, kBackdateDays + kLifeDays) : nullptr;
    if (!certificate) return nullptr;
    // A name that does not fit the common name leaves the subject empty; the
    // alternative name, which browsers read, is then critical.
    const bool named = host.size() <= kMaxCommonName;
    X509_NAME* subject = X509_get_subject_name(certificate.get());
    if (named && X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(host.c_str()),
                                            -1, -1, 0) != 1)
        return nullptr;
    bool ok = X509_set_issuer_name(certificate.get(), X509_get_subject_name(issuer)) == 1 &&
              AddExtension(certificate.get(), issuer, NID_basic_constraints, "critical,CA:FALSE") &&
              AddExtension(certificate.get(), issuer, NID_key_usage, "critical,digitalSignature") &&
              AddExtension(certificate.get(), issuer, NID_ext_key_usage, "serverAuth") &&
              AddExtension(certificate.get(), issuer, NID_subject_key_identifier, "hash") &&
              AddExtension(certificate.get(), issuer, NID_authority_key_identifier, "keyid:always") &&
              AddAlternativeName(certificate.get(), host, IpAddress(host), !named) &&
              X509_sign(certificate.get(), ca.impl().key.get(), EVP_sha256()) > 0;
    if (!ok) return nullptr;
    auto impl = std::make_unique<Leaf::Impl>();
    impl->certificate = std::move(certificate);
    impl->key = std::move(key);
    const int64_t notAfter = static_cast<int64_t>(now) + int64_t{kBackdateDays + kLifeDays} * 24 * 3600;
    return std::make_shared<const Leaf>(host, notAfter, std::move(impl));
}

}  // namespace tls
