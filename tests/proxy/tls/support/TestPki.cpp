#include "TestPki.h"

#include <gtest/gtest.h>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <ctime>
#include <memory>

namespace tlstest {

namespace {

template <auto F>
struct Free {
    template <typename T>
    void operator()(T* p) const {
        F(p);
    }
};
using X509Ptr = std::unique_ptr<X509, Free<X509_free>>;
using KeyPtr = std::unique_ptr<EVP_PKEY, Free<EVP_PKEY_free>>;
using BioPtr = std::unique_ptr<BIO, Free<BIO_free_all>>;

std::string Pem(X509* x) {
    BioPtr bio(BIO_new(BIO_s_mem()));
    PEM_write_bio_X509(bio.get(), x);
    char* data = nullptr;
    long n = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<size_t>(n));
}

std::string Pem(EVP_PKEY* k) {
    BioPtr bio(BIO_new(BIO_s_mem()));
    PEM_write_bio_PrivateKey(bio.get(), k, nullptr, nullptr, 0, nullptr, nullptr);
    char* data = nullptr;
    long n = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<size_t>(n));
}

void Extend(X509* x, X509* issuer, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, x, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_nconf_nid(nullptr, &ctx, nid, value);
    ASSERT_NE(ext, nullptr) << value;
    X509_add_ext(x, ext, -1);
    X509_EXTENSION_free(ext);
}

struct Made {
    X509Ptr certificate;
    KeyPtr key;
};

// A certificate for `commonName`; self-signed when no issuer is given.
Made Make(const char* commonName, const char* altNames, bool ca, long fromDays, long untilDays,
          const Made* issuer) {
    Made m;
    m.key.reset(EVP_EC_gen("P-256"));
    m.certificate.reset(X509_new());
    X509* x = m.certificate.get();
    X509_set_version(x, X509_VERSION_3);
    static long serial = 1000;
    ASN1_INTEGER_set(X509_get_serialNumber(x), ++serial);
    std::time_t now = std::time(nullptr);
    X509_time_adj_ex(X509_getm_notBefore(x), static_cast<int>(fromDays), 0, &now);
    X509_time_adj_ex(X509_getm_notAfter(x), static_cast<int>(untilDays), 0, &now);
    X509_set_pubkey(x, m.key.get());
    X509_NAME_add_entry_by_txt(X509_get_subject_name(x), "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(commonName), -1, -1, 0);
    X509* signer = issuer ? issuer->certificate.get() : x;
    X509_set_issuer_name(x, X509_get_subject_name(signer));
    if (ca) {
        Extend(x, signer, NID_basic_constraints, "critical,CA:TRUE");
        Extend(x, signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        Extend(x, signer, NID_basic_constraints, "critical,CA:FALSE");
        Extend(x, signer, NID_ext_key_usage, "serverAuth");
        Extend(x, signer, NID_subject_alt_name, altNames);
    }
    Extend(x, signer, NID_subject_key_identifier, "hash");
    X509_sign(x, issuer ? issuer->key.get() : m.key.get(), EVP_sha256());
    return m;
}

KeyPair Pair(const Made& m) { return {Pem(m.certificate.get()), Pem(m.key.get())}; }

X509Ptr Parse(const std::string& pem) {
    BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    return X509Ptr(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
}

std::string NameEntry(X509_NAME* name, int nid) {
    char text[256] = {};
    X509_NAME_get_text_by_NID(name, nid, text, sizeof text);
    return text;
}

long long Seconds(const ASN1_TIME* t) {
    struct tm parts {};
    ASN1_TIME_to_tm(t, &parts);
    // Days since 1970 from the civil date, then the time of day.
    int y = parts.tm_year + 1900, m = parts.tm_mon + 1, d = parts.tm_mday;
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const long long yoe = y - era * 400;
    const long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const long long days = era * 146097 + doe - 719468;
    return days * 86400 + parts.tm_hour * 3600 + parts.tm_min * 60 + parts.tm_sec;
}

}  // namespace

TestPki::TestPki() {
    Made upstream = Make("Test Upstream CA", nullptr, true, -1, 30, nullptr);
    Made stranger = Make("Stranger CA", nullptr, true, -1, 30, nullptr);
    ca = Pair(upstream);
    good = Pair(Make("origin.test", "DNS:origin.test,IP:127.0.0.1", false, -1, 30, &upstream));
    expired = Pair(Make("origin.test", "DNS:origin.test", false, -10, -1, &upstream));
    wrongName = Pair(Make("other.test", "DNS:other.test", false, -1, 30, &upstream));
    selfSigned = Pair(Make("origin.test", "DNS:origin.test", false, -1, 30, nullptr));
    strangerSigned = Pair(Make("origin.test", "DNS:origin.test", false, -1, 30, &stranger));
}

CertificateFacts ReadFacts(const std::string& pem) {
    CertificateFacts f;
    X509Ptr x = Parse(pem);
    if (!x) return f;
    f.parsed = true;
    f.subjectCommonName = NameEntry(X509_get_subject_name(x.get()), NID_commonName);
    f.subjectOrganization = NameEntry(X509_get_subject_name(x.get()), NID_organizationName);
    f.issuerCommonName = NameEntry(X509_get_issuer_name(x.get()), NID_commonName);

    int critical = -1;
    auto* names = static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(x.get(), NID_subject_alt_name, &critical, nullptr));
    if (names) {
        for (int i = 0; i < sk_GENERAL_NAME_num(names); ++i) {
            const GENERAL_NAME* n = sk_GENERAL_NAME_value(names, i);
            if (!f.alternativeNames.empty()) f.alternativeNames += ",";
            if (n->type == GEN_DNS) {
                f.alternativeNames += "DNS:" + std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(n->d.dNSName)),
                                                           static_cast<size_t>(ASN1_STRING_length(n->d.dNSName)));
            } else if (n->type == GEN_IPADD) {
                const unsigned char* ip = ASN1_STRING_get0_data(n->d.iPAddress);
                if (ASN1_STRING_length(n->d.iPAddress) == 4)
                    f.alternativeNames += "IP:" + std::to_string(ip[0]) + "." + std::to_string(ip[1]) + "." +
                                          std::to_string(ip[2]) + "." + std::to_string(ip[3]);
                else
                    f.alternativeNames += "IP:(" + std::to_string(ASN1_STRING_length(n->d.iPAddress)) + " bytes)";
            }
        }
        GENERAL_NAMES_free(names);
    }
    auto* constraints = static_cast<BASIC_CONSTRAINTS*>(X509_get_ext_d2i(x.get(), NID_basic_constraints, &critical, nullptr));
    if (constraints) {
        f.isCa = constraints->ca != 0;
        f.basicConstraintsCritical = critical == 1;
        f.pathLength = constraints->pathlen ? ASN1_INTEGER_get(constraints->pathlen) : -1;
        BASIC_CONSTRAINTS_free(constraints);
    }
    auto* usage = static_cast<ASN1_BIT_STRING*>(X509_get_ext_d2i(x.get(), NID_key_usage, &critical, nullptr));
    if (usage) {
        f.keyUsageCritical = critical == 1;
        ASN1_BIT_STRING_free(usage);
        f.keyUsage = X509_get_key_usage(x.get());
    }
    f.serverAuth = (X509_get_extended_key_usage(x.get()) & XKU_SSL_SERVER) != 0 &&
                   X509_get_ext_by_NID(x.get(), NID_ext_key_usage, -1) >= 0;
    EVP_PKEY* key = X509_get0_pubkey(x.get());
    char group[64] = {};
    size_t length = 0;
    f.ecP256 = key && EVP_PKEY_is_a(key, "EC") &&
               EVP_PKEY_get_utf8_string_param(key, "group", group, sizeof group, &length) == 1 &&
               std::string(group) == "prime256v1";
    f.sha256 = X509_get_signature_nid(x.get()) == NID_ecdsa_with_SHA256;
    BIGNUM* serial = ASN1_INTEGER_to_BN(X509_get0_serialNumber(x.get()), nullptr);
    f.serialBits = BN_num_bits(serial);
    BN_free(serial);
    f.notBefore = Seconds(X509_get0_notBefore(x.get()));
    f.notAfter = Seconds(X509_get0_notAfter(x.get()));
    return f;
}

bool VerifiesFor(const std::string& certificatePem, const std::string& caPem, const std::string& host) {
    X509Ptr leaf = Parse(certificatePem), root = Parse(caPem);
    if (!leaf || !root) return false;
    std::unique_ptr<X509_STORE, Free<X509_STORE_free>> store(X509_STORE_new());
    X509_STORE_add_cert(store.get(), root.get());
    std::unique_ptr<X509_STORE_CTX, Free<X509_STORE_CTX_free>> ctx(X509_STORE_CTX_new());
    X509_STORE_CTX_init(ctx.get(), store.get(), leaf.get(), nullptr);
    X509_STORE_CTX_set_purpose(ctx.get(), X509_PURPOSE_SSL_SERVER);
    if (X509_verify_cert(ctx.get()) != 1) return false;
    return X509_check_host(leaf.get(), host.c_str(), host.size(), 0, nullptr) == 1 ||
           X509_check_ip_asc(leaf.get(), host.c_str(), 0) == 1;
}

}  // namespace tlstest
