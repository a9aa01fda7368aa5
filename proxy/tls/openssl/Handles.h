#pragma once

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>
#include <string>

namespace tls {

// Owning pointers for OpenSSL's objects.
template <auto Free>
struct OpenSslFree {
    template <typename T>
    void operator()(T* p) const {
        Free(p);
    }
};
using X509Ptr = std::unique_ptr<X509, OpenSslFree<X509_free>>;
using KeyPtr = std::unique_ptr<EVP_PKEY, OpenSslFree<EVP_PKEY_free>>;
using BioPtr = std::unique_ptr<BIO, OpenSslFree<BIO_free_all>>;
using SslPtr = std::unique_ptr<SSL, OpenSslFree<SSL_free>>;
using SslCtxPtr = std::unique_ptr<SSL_CTX, OpenSslFree<SSL_CTX_free>>;
using BioMethodPtr = std::unique_ptr<BIO_METHOD, OpenSslFree<BIO_meth_free>>;
using ExtensionPtr = std::unique_ptr<X509_EXTENSION, OpenSslFree<X509_EXTENSION_free>>;
using NamesPtr = std::unique_ptr<GENERAL_NAMES, OpenSslFree<GENERAL_NAMES_free>>;
using OctetsPtr = std::unique_ptr<ASN1_OCTET_STRING, OpenSslFree<ASN1_OCTET_STRING_free>>;

// PEM text of a certificate or of a private key (PKCS#8, unencrypted: the
// file it goes to is private). Empty on failure.
std::string CertificateToPem(X509* certificate);
std::string KeyToPem(EVP_PKEY* key);
X509Ptr CertificateFromPem(const std::string& pem);
KeyPtr KeyFromPem(const std::string& pem);

}  // namespace tls
