#pragma once

#include <ctime>
#include <string>

#include "tls/openssl/Handles.h"

namespace tls {

// The pieces a CA certificate and a leaf have in common.

// A fresh ECDSA P-256 key; null on failure.
KeyPtr NewP256Key();
// A version 3 certificate with a 128-bit random serial, valid from
// `from` + fromDays to `from` + untilDays. Null on failure.
X509Ptr NewCertificate(EVP_PKEY* key, std::time_t from, int fromDays, int untilDays);
// Adds an extension written as OpenSSL's configuration text
// ("critical,CA:TRUE,pathlen:0"); `issuer` is the certificate that signs.
bool AddExtension(X509* certificate, X509* issuer, int nid, const char* value);
// Random bytes as lower-case hex, from the system's source.
std::string RandomHex(size_t bytes);

}  // namespace tls
