#pragma once

#include <string>

namespace tlstest {

// Certificates for a test origin, made with OpenSSL at run time (no key is
// committed): an upstream test CA and leaves that are good or bad in one way
// each. PEM text throughout.
struct KeyPair {
    std::string certificate;
    std::string key;
};

struct TestPki {
    TestPki();  // makes everything; aborts the test on failure
    KeyPair ca;          // the test upstream CA (what the origin side is told to trust)
    KeyPair good;        // signed by `ca`, for origin.test and 127.0.0.1
    KeyPair expired;     // signed by `ca`, ended yesterday
    KeyPair wrongName;   // signed by `ca`, for other.test only
    KeyPair selfSigned;  // for origin.test, signed by itself
    KeyPair strangerSigned;  // for origin.test, signed by a CA nobody trusts
};

// A certificate's fields as the tests read them.
struct CertificateFacts {
    bool parsed = false;
    std::string subjectCommonName;
    std::string subjectOrganization;
    std::string issuerCommonName;
    std::string alternativeNames;  // "DNS:a.test" or "IP Address:127.0.0.1", comma separated
    bool isCa = false;
    bool basicConstraintsCritical = false;
    long pathLength = -1;  // -1: none
    bool keyUsageCritical = false;
    unsigned keyUsage = 0;            // OpenSSL's KU_ bits
    bool serverAuth = false;          // extended key usage
    bool ecP256 = false;              // the key
    bool sha256 = false;              // the signature
    int serialBits = 0;
    long long notBefore = 0;  // seconds since 1970
    long long notAfter = 0;
};
CertificateFacts ReadFacts(const std::string& certificatePem);

// True when `certificatePem` verifies against `caPem` alone (chain and
// validity now) and is valid for `host` (name or IP address).
bool VerifiesFor(const std::string& certificatePem, const std::string& caPem, const std::string& host);

}  // namespace tlstest
