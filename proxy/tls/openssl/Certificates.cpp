#include "tls/openssl/Certificates.h"

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <platform/Crypto.h>

#include <vector>

namespace tls {

KeyPtr NewP256Key() { return KeyPtr(EVP_EC_gen("P-256")); }

X509Ptr NewCertificate(EVP_PKEY* key, std::time_t from, int fromDays, int untilDays) {
    X509Ptr certificate(X509_new());
    if (!certificate || X509_set_version(certificate.get(), X509_VERSION_3) != 1) return nullptr;
    // 128 random bits, the top one clear so the number stays positive in
    // its 16 bytes, the lowest set so it is never zero.
    unsigned char serial[16];
    if (!platform::RandomBytes(serial, sizeof serial)) return nullptr;
    serial[0] &= 0x7F;
    serial[15] |= 0x01;
    std::unique_ptr<BIGNUM, OpenSslFree<BN_free>> number(BN_bin2bn(serial, sizeof serial, nullptr));
    if (!number || !BN_to_ASN1_INTEGER(number.get(), X509_get_serialNumber(certificate.get()))) return nullptr;
    if (!X509_time_adj_ex(X509_getm_notBefore(certificate.get()), fromDays, 0, &from) ||
        !X509_time_adj_ex(X509_getm_notAfter(certificate.get()), untilDays, 0, &from))
        return nullptr;
    if (X509_set_pubkey(certificate.get(), key) != 1) return nullptr;
    return certificate;
}

bool AddExtension(X509* certificate, X509* issuer, int nid, const char* value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    ExtensionPtr extension(X509V3_EXT_nconf_nid(nullptr, &context, nid, value));
    return extension && X509_add_ext(certificate, extension.get(), -1) == 1;
}

std::string RandomHex(size_t bytes) {
    std::vector<unsigned char> raw(bytes);
    if (!platform::RandomBytes(raw.data(), raw.size())) return {};
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char b : raw) {
        hex += digits[b >> 4];
        hex += digits[b & 15];
    }
    return hex;
}

}  // namespace tls
